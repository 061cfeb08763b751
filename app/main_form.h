#pragma once
// The main window: twelve pages on the left, the status panel on the right, and the state that the
// window's areas share. Controls are members under their layout names (Button8, StaticText7, ...),
// so that each area's handlers read like the window they act on.

#include <QFont>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "app/config_page.h"
#include "app/dialogs.h"
#include "app/ea_params_page.h"
#include "app/memory_pages.h"
#include "app/network_page.h"
#include "app/page_services.h"
#include "app/page_slot.h"
#include "app/service_page.h"
#include "app/signal_pages.h"
#include "comport/comport.h"
#include "device/device.h"
#include "device/firmware_update.h"
#include "device/operations.h"
#include "firmware/firmware_image.h"
#include "model/config_sector.h"
#include "model/memory_areas.h"
#include "ui_main_form.h"

class QCheckBox;
class QLabel;
class QComboBox;
class QListWidget;
class QCloseEvent;
class QLineEdit;
class QTimer;

namespace tarven::app {

// The layout of the window and the status panel is one form; every page is an object of its own
// (its form, its state, its handlers). The first page is built with the window; every other one
// into its stand-in page of the page control once the window has been painted for the first time,
// or at once when something needs it earlier. A page is reached only through its accessor, which
// builds it. Which page stands in which tab is said once, where the pages are listed with their
// stand-ins; a tab's index is the page control's, never written down.
class TMainForm : public QWidget, public Ui::TMainForm {
  Q_OBJECT

 public:
  // `arguments` are the command-line arguments after the program name; only the first one
  // counts ("-f" shows the two factory pages). Without `dialogs` the window asks a person.
  // The window talks to the module over `link`.
  TMainForm(const QStringList& arguments, std::shared_ptr<device::Link> link,
            std::shared_ptr<Dialogs> dialogs = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  device::Link& link() { return *link_; }

 private:
  std::shared_ptr<device::Link> link_;

 public:
  // State shared by the areas of the window.
  const device::Handle& HidHandle;  // the module exchange in progress: the link's
  bool up_flag = false;
  // The working copy of the configuration sector, shown by the two configuration pages.
  ConfigImage params_array{};
  std::uint32_t proc_en = 0;     // run flag of the CNC as last applied to the window
  std::uint32_t ext_dac_en = 0;  // external-DAC flag as last applied to the window

  // What Button8 offers: 0 to stop the CNC, 1 to start it.
  int Tag = 0;
  // The status poll, once a second from creation.
  QTimer* Timer1 = nullptr;
  // Where the network page takes its ports from when it is first shown: the system's ports
  // unless set.
  void SetPortSource(comport::PortSource source) { port_source_ = std::move(source); }
  // How the page "Сервис" makes the link its work runs over, on a thread of its own: as the
  // window's own link was made (the bus, the trace, the module locks). Unless set, a link over
  // the window's link's backend, which then must take links on several threads (the simulated
  // bench does).
  void SetLinkMaker(LinkMaker make_link) { make_link_ = std::move(make_link); }
  // The journal the page "Сервис" shows and undoes from; unless set (or empty), none.
  void SetJournalFile(std::string path);

  Dialogs& dialogs() { return *dialogs_; }

  // The first page, built with the window.
  ConfigPage& Config() { return *config_page_; }
  const ConfigPage& Config() const { return *config_page_; }

  // The pages after the first, each built on its first use: through its accessor, which builds
  // it, and with the others right after the window's first paint.
  EaParamsPage& EaParams();
  MainRomPage& MainRom();
  AmtRomPage& AmtRom();
  KvpPage& Kvp();
  RamPage& Ram();
  IoPage& Io();
  EncoderPage& Encoders();
  DacPage& Dac();
  EaControllerPage& EaController();
  NetworkPage& Network();
  ServicePage& Service();

  // Builds the pages that are not built yet, each running its part of the start-up.
  void BuildPages();
  bool PagesBuilt() const;
  // The index of the tab that shows `page` (a page of the window, built).
  int TabOf(const QWidget& page) const;

  // The configuration page's controls from the working copy, and the grid's cell-edit handler.
  void ShowConfig();
  bool StringGrid1SetEditText(int column, int row, const QString& text);

  // Firmware update: the image "Обновить" sends (the carried or installed one unless set), and the
  // transfer that the status tick runs when it finds the boot loader while up_flag is set. The
  // simulator's stand-in image is taken only when the link is the simulated module.
  void SetFirmwareImage(firmware::Image image, bool simulated_link);
  // Without an image set, the one an update sends is looked for when it is first needed (the
  // stand-in image too, when the link is the simulated module), not while the window opens.
  void FindFirmwareImageWhenNeeded(bool simulated_link);
  const firmware::Image& FirmwareImage();
  void SendFirmwareImage();

 public slots:
  // The status panel's own: the status tick, the run control, the restart, the update, the tabs.
  void Timer1Timer();
  void Button8Click();
  void Button13Click();
  void Button3Click();
  void PageControl1Change();

  // Forwards to the pages' own handlers, under their names; nothing in the program connects them.
  // Live signal pages: counter reset, outputs, КИП0 bits and DAC codes, the DAC code edits.
  void Button6Click();
  void Button10Click();
  void Button11Click();
  void Button12Click();
  void Edit7Change(const QString& text);
  void Edit8Change(const QString& text);
  void Edit9Change(const QString& text);
  void Edit10Change(const QString& text);
  void Button1Click();
  void Button2Click();
  void Button16Click();
  void Button17Click();
  void Edit2Change(const QString& text);
  // Memory pages: imports, reads into files, writes to the module.
  void BitBtn1Click();
  void BitBtn2Click();
  void BitBtn3Click();
  void BitBtn7Click();
  void BitBtn8Click();
  void BitBtn10Click();
  void BitBtn9Click();
  void BitBtn11Click();
  void BitBtn12Click();
  void BitBtn13Click();
  void BitBtn4Click();
  void BitBtn5Click();
  void BitBtn6Click();
  void BitBtn14Click();
  void Button5Click();
  void Button7Click();
  void Button9Click();
  void Button4Click();
  void Button14Click();
  // Network page.
  void Button15Click();
  void Timer2Timer();
  void ComboBox8Change();
  void ComboBox9Change();
  void Edit1Change();

 protected:
  // The live page's part of a status tick, over the tick's open handle, with the flags of this
  // tick's status (proc_en and ext_dac_en still hold the previous ones). The live signal pages
  // fill it in; tests override it to see where the tick calls it.
  virtual void RefreshSignalPage(device::Handle handle, int page, std::uint8_t run_flag,
                                 std::uint8_t ext_dac_flag);

  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate(const QStringList& arguments);
  void FormClose();
  // Gives the fixed-pitch controls of the status panel and of each page their font and lets their
  // value labels be selected, each page when it is first shown.
  void SetUpValueBoxesOnFirstShow();
  void SetUpValueBoxes(QWidget* area);
  // Outputs and DAC codes go to the module only while it is there and the CNC is stopped, as the
  // last tick read it: when that tick's status answer was lost, the run flag it shows is not the
  // CNC's, and the user is told that nothing was sent.
  bool OutputsMayBeSent();
  // The live page at a page index; null for the other pages.
  LivePage* LivePageAt(int page);
  // The slot of the page in the tab at `index`; null for the first page, built with the window.
  AnyPageSlot* SlotAt(int index);
  // The DAC page's tab: the tick switches the external DAC off in its place among the pages.
  int DacTab() const;

  void BuildPagesAfterFirstPaint();
  void PageBuilt(AnyPageSlot& slot);
  PageServices services() { return {*link_, *dialogs_}; }
  template <typename Page>
  std::function<Page*(QWidget&)> MakeSignalPage() {
    return [this](QWidget& stand_in) {
      return new Page(&stand_in, services(), [this] { return OutputsMayBeSent(); });
    };
  }
  // Builds a page that needs nothing but the services.
  template <typename Page>
  std::function<Page*(QWidget&)> MakePage() {
    return [this](QWidget& stand_in) { return new Page(&stand_in, services()); };
  }
  void ShowTitle();
  void ShowFactoryPages(bool visible);

  void ShowModuleState(device::Presence presence);
  void ShowRunState(const device::StatusReading& reading);
  // Tells every built page the module's state when it differs from what they were last told; a
  // page built later is told it when it is built.
  void TellPagesModuleState();

  std::shared_ptr<Dialogs> dialogs_;
  std::optional<QFont> fixed_pitch_font_;
  QObject* selectable_on_hover_ = nullptr;
  QSet<const QWidget*> value_boxes_set_up_;
  // Whether the last tick read the application; its return re-applies the run state.
  bool application_seen_last_tick_ = false;
  // A handler that found its module held by another program says so, once per handler; the
  // tick says nothing and keeps what it shows.
  void TellModuleBusy(const device::SearchReport::Busy& busy);
  bool in_status_tick_ = false;
  bool busy_told_ = false;
  // The module as the last tick found it, and what the pages were last told (nothing before the
  // first tick: until then every page keeps its controls as it starts them).
  ModuleState module_state_;
  std::optional<ModuleState> pages_told_;
  ConfigPage* config_page_ = nullptr;  // owned by its stand-in page
  struct Pages;
  std::unique_ptr<Pages> pages_;  // made with the window's layout
  // From "Обновить" until the transfer is done, the link is held to the module to update.
  std::optional<device::FollowFoundModule> update_follows_;
  firmware::Image firmware_image_;
  bool firmware_image_chosen_ = false;
  bool image_for_simulated_link_ = false;
  comport::PortSource port_source_;
  LinkMaker make_link_;
  std::string journal_file_;
  // The status field's tip: what the page "Сервис" says of the module the window serves, then
  // what to try when none answers.
  void ShowModuleChoice(const QString& choice);
  std::unique_ptr<device::Link> LinkOverWindowBackend() const;
  // Whether the page "Сервис" is built and at work on the module.
  bool ServicePageAtWork();
  QString not_connected_tip_;
};

}  // namespace tarven::app
