#pragma once
// The page "Конфигурация": the configuration block of the working copy of the configuration
// sector in its drop-down lists and the network address edit, read from the module's sector and
// written back into it. It is the page the window opens on, so it is built with the window.

#include <QString>
#include <QWidget>
#include <array>
#include <cstddef>

#include "app/config_sector_io.h"
#include "app/page_services.h"
#include "model/config_sector.h"
#include "ui_tab_sheet1.h"

class QComboBox;

namespace tarven::app {

class ConfigPage final : public QWidget {
  Q_OBJECT

 private:
  Ui::TabSheet1Page ui_{};  // the page's form

 public:
  ConfigPage(QWidget* parent, const PageServices& services, ConfigImage& working_copy);

  // "Считать" and "Записать".
  void Button1Click();
  void Button2Click();
  // The network address edit: a valid address is stored in the working copy, an invalid one
  // turns the edit red and stores nothing.
  void Edit2Change(const QString& text);
  // The controls from the working copy.
  void ShowConfig();
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

 private:
  std::array<QComboBox*, model::kConfigValues> ConfigLists() const;
  void ConfigListChange(std::size_t row, int index);

  PageServices services_;
  ConfigImage& params_array;  // the window's working copy
};

}  // namespace tarven::app
