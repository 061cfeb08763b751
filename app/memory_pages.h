#pragma once
// The memory pages "ПЗУ", "ПЗУ АМТ", "КВПП/ЭА" and "ОЗУ": each owns its image and the lists that
// preview it, imports whole-image and chip files into it, and moves it to and from the module.

#include <QWidget>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "app/page_services.h"
#include "device/operations.h"
#include "model/memory_areas.h"
#include "ui_tab_sheet2.h"
#include "ui_tab_sheet3.h"
#include "ui_tab_sheet4.h"
#include "ui_tab_sheet5.h"

class QListWidget;
class QString;

namespace tarven::app {

// Fills `list` with eight preview lines of `image` from `first_word`.
void ShowImageListing(QListWidget* list, std::span<const std::uint8_t> image,
                      std::uint32_t first_word, std::uint32_t bytes_per_line);

// What the four pages share: one memory area, its image and its lists.
class ImagePage : public QWidget {
  Q_OBJECT

 protected:
  ImagePage(QWidget* parent, const PageServices& services, model::AreaId id);

  // Once the page's form is set up: the image gets its start-up fill and the lists show it.
  void SetUpImage(std::span<std::uint8_t> image, std::vector<QListWidget*> listings);

  void ImportWholeImage();
  void ImportChipFile(std::string_view chip);
  // Reads the area into the image and saves it to a file the user chooses.
  void ReadImage();
  void WriteFlashImage();
  void WriteRamImage(device::RamBank bank);

 private:
  // Draws again the lists that show any of `words` words from `first_word`.
  void RedrawImage(std::uint32_t first_word, std::uint32_t words);
  bool ReadImportFile(std::size_t limit, std::vector<std::uint8_t>& bytes);
  QString ChooseExportFile();
  void SaveImageFile(const QString& name);

  PageServices services_;
  model::AreaId id_;
  std::span<std::uint8_t> image_;
  std::vector<QListWidget*> listings_;
};

// "ПЗУ": the main software ROM, importable as a whole or as its two chips' files.
class MainRomPage final : public ImagePage {
  Q_OBJECT

 private:
  Ui::TabSheet2Page ui_{};  // the page's form

 public:
  MainRomPage(QWidget* parent, const PageServices& services);
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

  void BitBtn1Click();
  void BitBtn2Click();
  void BitBtn3Click();
  void BitBtn4Click();
  void Button5Click();

  std::array<std::uint8_t, model::Area(model::AreaId::MainRom).size> MAT_array{};
};

// "ПЗУ АМТ": the AMT ROM, importable as a whole or as its four chips' files.
class AmtRomPage final : public ImagePage {
  Q_OBJECT

 private:
  Ui::TabSheet3Page ui_{};  // the page's form

 public:
  AmtRomPage(QWidget* parent, const PageServices& services);
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

  void BitBtn7Click();
  void BitBtn8Click();
  void BitBtn10Click();
  void BitBtn9Click();
  void BitBtn11Click();
  void BitBtn5Click();
  void Button7Click();

  std::array<std::uint8_t, model::Area(model::AreaId::AmtRom).size> AMT_array{};
};

// "КВПП/ЭА": the KVP image.
class KvpPage final : public ImagePage {
  Q_OBJECT

 private:
  Ui::TabSheet4Page ui_{};  // the page's form

 public:
  KvpPage(QWidget* parent, const PageServices& services);
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

  void BitBtn12Click();
  void BitBtn6Click();
  void Button9Click();

  std::array<std::uint8_t, model::Area(model::AreaId::Kvp).size> KVP_array{};
};

// "ОЗУ": the RAM image, written to the main or the reserve bank.
class RamPage final : public ImagePage {
  Q_OBJECT

 private:
  Ui::TabSheet5Page ui_{};  // the page's form

 public:
  RamPage(QWidget* parent, const PageServices& services);
  // Enables the controls that need a module, or a stopped CNC, as `state` says.
  void ShowModuleState(const ModuleState& state);

  void BitBtn13Click();
  void BitBtn14Click();
  void Button4Click();
  void Button14Click();

  std::array<std::uint8_t, model::Area(model::AreaId::Ram).size> RAM_array{};
};

}  // namespace tarven::app
