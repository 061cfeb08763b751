#pragma once
// The page "Параметры электроавтоматики": the 255 parameters of the working copy of the
// configuration sector in a grid, read from the module's sector and written back into it.

#include <QString>
#include <QWidget>

#include "app/config_sector_io.h"
#include "app/page_services.h"
#include "ui_tab_sheet11.h"

namespace tarven::app {

class EaParamsPage final : public QWidget {
  Q_OBJECT

 private:
  Ui::TabSheet11Page ui_{};  // the page's form

 public:
  EaParamsPage(QWidget* parent, const PageServices& services, ConfigImage& working_copy);

  void Button16Click();
  void Button17Click();
  // The grid's cell-edit handler, run on every change of a cell's text while it is edited; false
  // asks to empty the cell.
  bool StringGrid1SetEditText(int column, int row, const QString& text);
  void ShowEaParams();

  // The grid shows the 255 parameters of the working copy: a read filled it (with the module's
  // table, or with the zeros that a checksum mismatch restores). Until then "Записать" writes
  // nothing, since the parameters it would write were never seen.
  bool ea_params_shown = false;

 private:
  void SetUpParamGrid();

  PageServices services_;
  ConfigImage& params_array;  // the window's working copy
};

}  // namespace tarven::app
