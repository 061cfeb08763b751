// The window's handlers that belong to a page: each hands over to the page that owns it.

#include "app/main_form.h"

namespace tarven::app {

// --- Конфигурация -------------------------------------------------------------------------------

void TMainForm::Button1Click() {
  Config().Button1Click();
}
void TMainForm::Button2Click() {
  Config().Button2Click();
}
void TMainForm::Edit2Change(const QString& text) {
  Config().Edit2Change(text);
}
void TMainForm::ShowConfig() {
  Config().ShowConfig();
}

// --- Параметры электроавтоматики ----------------------------------------------------------------

void TMainForm::Button16Click() {
  EaParams().Button16Click();
}
void TMainForm::Button17Click() {
  EaParams().Button17Click();
}
bool TMainForm::StringGrid1SetEditText(int column, int row, const QString& text) {
  return EaParams().StringGrid1SetEditText(column, row, text);
}

// --- ПЗУ, ПЗУ АМТ, КВПП/ЭА, ОЗУ -----------------------------------------------------------------

void TMainForm::BitBtn1Click() {
  MainRom().BitBtn1Click();
}
void TMainForm::BitBtn2Click() {
  MainRom().BitBtn2Click();
}
void TMainForm::BitBtn3Click() {
  MainRom().BitBtn3Click();
}
void TMainForm::BitBtn4Click() {
  MainRom().BitBtn4Click();
}
void TMainForm::Button5Click() {
  MainRom().Button5Click();
}
void TMainForm::BitBtn7Click() {
  AmtRom().BitBtn7Click();
}
void TMainForm::BitBtn8Click() {
  AmtRom().BitBtn8Click();
}
void TMainForm::BitBtn10Click() {
  AmtRom().BitBtn10Click();
}
void TMainForm::BitBtn9Click() {
  AmtRom().BitBtn9Click();
}
void TMainForm::BitBtn11Click() {
  AmtRom().BitBtn11Click();
}
void TMainForm::BitBtn5Click() {
  AmtRom().BitBtn5Click();
}
void TMainForm::Button7Click() {
  AmtRom().Button7Click();
}
void TMainForm::BitBtn12Click() {
  Kvp().BitBtn12Click();
}
void TMainForm::BitBtn6Click() {
  Kvp().BitBtn6Click();
}
void TMainForm::Button9Click() {
  Kvp().Button9Click();
}
void TMainForm::BitBtn13Click() {
  Ram().BitBtn13Click();
}
void TMainForm::BitBtn14Click() {
  Ram().BitBtn14Click();
}
void TMainForm::Button4Click() {
  Ram().Button4Click();
}
void TMainForm::Button14Click() {
  Ram().Button14Click();
}

// --- КЭ/БФОС, КИП/БОС, КП(ЦАП) ------------------------------------------------------------------

void TMainForm::Button6Click() {
  Encoders().Button6Click();
}
void TMainForm::Button10Click() {
  Io().Button10Click();
}
void TMainForm::Button11Click() {
  Encoders().Button11Click();
}
void TMainForm::Button12Click() {
  Dac().Button12Click();
}
void TMainForm::Edit7Change(const QString& text) {
  Dac().Edit7Change(text);
}
void TMainForm::Edit8Change(const QString& text) {
  Dac().Edit8Change(text);
}
void TMainForm::Edit9Change(const QString& text) {
  Dac().Edit9Change(text);
}
void TMainForm::Edit10Change(const QString& text) {
  Dac().Edit10Change(text);
}

// --- Сеть
// -----------------------------------------------------------------------------------------

void TMainForm::Button15Click() {
  Network().Button15Click();
}
void TMainForm::Timer2Timer() {
  Network().Timer2Timer();
}
void TMainForm::ComboBox8Change() {
  Network().ComboBox8Change();
}
void TMainForm::ComboBox9Change() {
  Network().ComboBox9Change();
}
void TMainForm::Edit1Change() {
  Network().Edit1Change();
}

}  // namespace tarven::app
