#include "app/main_form.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTimer>

#include "app/application_title.h"
#include "app/first_paint.h"
#include "app/page_slot.h"
#include "model/version_text.h"

namespace tarven::app {
namespace {

// A fixed single border: title, system menu, minimize and close, no maximize.
constexpr Qt::WindowFlags kWindowFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

constexpr int kStatusPollMs = 1000;

// The layout is drawn in pixels for a window of fixed size, so its text is sized in pixels too:
// a size in points would grow with the screen's DPI setting and no longer fit.
constexpr int kFontPixels = 11;

// Controls whose digits line up in columns (the image listings, the register and counter values,
// the DAC codes) carry this property in the layout, with their font size in pixels as its value.
constexpr const char* kFixedPitchProperty = "fixedPitchPixels";
// Labels whose text the user may select and copy (the values and the status texts) carry this one.
constexpr const char* kSelectableTextProperty = "selectableText";

bool FactoryPagesRequested(const QStringList& arguments) {
  return !arguments.isEmpty() && arguments.front() == QStringLiteral("-f");
}

// "Courier New" where it is installed, else the system's fixed-pitch font. Found once per window,
// so that every fixed-pitch control shares the one font instead of matching it again.
QFont FixedPitchFont() {
  const QString courier = QStringLiteral("Courier New");
  if (QFontDatabase::hasFamily(courier)) return QFont(courier);
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // A platform that names no fixed-pitch font (the offscreen one) hands out its general font.
  if (!QFontDatabase::isFixedPitch(font.family())) {
    font.setFamily(QStringLiteral("monospace"));
    font.setStyleHint(QFont::TypeWriter);
  }
  return font;
}

// A selectable label keeps a whole text document behind it, which the toolkit builds as soon as the
// label is made selectable and lays out again on every change of its text or font. Dozens of them
// made the window slow to open, so each label becomes selectable when the mouse first comes over
// it, before any press or right click can reach it.
class SelectableOnHover final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Enter) {
      if (auto* label = qobject_cast<QLabel*>(watched)) {
        label->removeEventFilter(this);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
      }
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

struct TMainForm::Pages {
  PageSlot<EaParamsPage> ea_params;
  PageSlot<MainRomPage> main_rom;
  PageSlot<AmtRomPage> amt_rom;
  PageSlot<KvpPage> kvp;
  PageSlot<RamPage> ram;
  PageSlot<IoPage> io;
  PageSlot<EncoderPage> encoders;
  PageSlot<DacPage> dac;
  PageSlot<EaControllerPage> ea_controller;
  PageSlot<NetworkPage> network;
  PageSlot<ServicePage> service;

  // Every page after the first, each with its stand-in page of the page control: the one place
  // that says which page is in which tab. The tabs' order is the layout's alone.
  std::array<AnyPageSlot*, 11> all() {
    return {&ea_params, &main_rom, &amt_rom,       &kvp,     &ram,    &io,
            &encoders,  &dac,      &ea_controller, &network, &service};
  }
};

TMainForm::TMainForm(const QStringList& arguments, std::shared_ptr<device::Link> link,
                     std::shared_ptr<Dialogs> dialogs, QWidget* parent)
    : QWidget(parent, kWindowFlags),
      // The pages' forms are value-initialised, so that a page not built yet has null controls.
      Ui::TMainForm(),
      link_(std::move(link)),
      HidHandle(link_->HidHandle()),
      dialogs_(dialogs ? std::move(dialogs) : std::make_shared<QtDialogs>()) {
  QFont base = font();
  base.setPixelSize(kFontPixels);
  setFont(base);
  {
    const HoldBackComboFontChanges hold_back;
    Ui::TMainForm::setupUi(this);
    config_page_ = new ConfigPage(TabSheet1, services(), params_array);
  }
  PlacePage(*TabSheet1, *config_page_);
  const auto built = [this](AnyPageSlot& slot) { PageBuilt(slot); };
  pages_.reset(new Pages{
      .ea_params = {*TabSheet11,
                    [this](QWidget& stand_in) {
                      return new EaParamsPage(&stand_in, services(), params_array);
                    },
                    built},
      .main_rom = {*TabSheet2, MakePage<MainRomPage>(), built},
      .amt_rom = {*TabSheet3, MakePage<AmtRomPage>(), built},
      .kvp = {*TabSheet4, MakePage<KvpPage>(), built},
      .ram = {*TabSheet5, MakePage<RamPage>(), built},
      .io = {*TabSheet6, MakeSignalPage<IoPage>(), built},
      .encoders = {*TabSheet8, MakeSignalPage<EncoderPage>(), built},
      .dac = {*TabSheet7, MakeSignalPage<DacPage>(), built},
      .ea_controller = {*TabSheet9,
                        [](QWidget& stand_in) { return new EaControllerPage(&stand_in); }, built},
      .network = {*TabSheet10,
                  [this](QWidget& stand_in) { return new NetworkPage(&stand_in, port_source_); },
                  built},
      .service = {*TabSheet12,
                  [this](QWidget& stand_in) {
                    auto* page = new ServicePage(&stand_in, services(), [this] {
                      return make_link_ ? make_link_() : LinkOverWindowBackend();
                    });
                    page->SetJournalFile(journal_file_);
                    connect(page, &ServicePage::ChoiceChanged, this,
                            [this, page] { ShowModuleChoice(page->ChoiceText()); });
                    return page;
                  },
                  built},
  });
  SetUpValueBoxesOnFirstShow();
  setGeometry(
      QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen()->availableGeometry()));

  link_->SetBusyHandler([this](const device::SearchReport::Busy& busy) {
    if (!in_status_tick_) TellModuleBusy(busy);
  });

  Timer1 = new QTimer(this);
  Timer1->setInterval(kStatusPollMs);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  connect(Button8, &QPushButton::clicked, this, &TMainForm::Button8Click);
  connect(Button13, &QPushButton::clicked, this, &TMainForm::Button13Click);
  connect(Button3, &QPushButton::clicked, this, &TMainForm::Button3Click);
  connect(PageControl1, &QTabWidget::currentChanged, this, &TMainForm::PageControl1Change);

  FormCreate(arguments);
  Timer1->start();
  BuildPagesAfterFirstPaint();
  ExitAfterFirstPaintIfAsked(*this, /*pages_follow=*/true);
}

TMainForm::~TMainForm() {
  // The page's work runs over the window's bus: it ends before the window's link does.
  pages_->service.IfBuilt([](ServicePage& page) { page.StopWork(); });
}

void TMainForm::FormCreate(const QStringList& arguments) {
  PageControl1->setCurrentIndex(0);
  // The images are filled and drawn with their pages, each page built after the first paint or
  // when something first needs it.
  up_flag = false;
  ShowTitle();
  link_->ResetModuleRecords();
  Label47->setText(QStringLiteral("v ") + QString::fromUtf8(model::kCarriedFirmwareVersion));
  // "не подключен" says only that nothing answers; the state's tip says what to try.
  not_connected_tip_ = QStringLiteral(
      "Если модуль не подключен: проверьте кабель USB и питание модуля; команда "
      "«lsusb -d 03eb:6202» покажет, видит ли его система; «tarven --simulate» откроет окно с "
      "имитатором модуля.");
  StaticText7->setToolTip(not_connected_tip_);
  std::copy(model::kDefaultConfig.begin(), model::kDefaultConfig.end(), params_array.begin());
  // The encoder counters (KIP1-KIP4) start at zero with their page.
  ShowConfig();
  proc_en = 0;
  ext_dac_en = 0;
  // The output check boxes start disabled with their pages; the network defaults come with the
  // network page, and its port list when it is first shown.
  ShowFactoryPages(false);
  if (FactoryPagesRequested(arguments)) ShowFactoryPages(true);
}

void TMainForm::SetUpValueBoxesOnFirstShow() {
  // A page's value boxes are set up when the page is first shown: a fixed-pitch font makes the
  // toolkit load and measure that font at once, which the window's start need not wait for.
  SetUpValueBoxes(Panel3);
  SetUpValueBoxes(PageControl1->currentWidget());
  connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
    // The first page comes with the window; the others are built, if they are not yet, before
    // they are set up.
    if (AnyPageSlot* slot = SlotAt(index)) slot->Build();
    SetUpValueBoxes(PageControl1->widget(index));
  });
}

EaParamsPage& TMainForm::EaParams() {
  return pages_->ea_params.Get();
}
MainRomPage& TMainForm::MainRom() {
  return pages_->main_rom.Get();
}
AmtRomPage& TMainForm::AmtRom() {
  return pages_->amt_rom.Get();
}
KvpPage& TMainForm::Kvp() {
  return pages_->kvp.Get();
}
RamPage& TMainForm::Ram() {
  return pages_->ram.Get();
}
IoPage& TMainForm::Io() {
  return pages_->io.Get();
}
EncoderPage& TMainForm::Encoders() {
  return pages_->encoders.Get();
}
DacPage& TMainForm::Dac() {
  return pages_->dac.Get();
}
EaControllerPage& TMainForm::EaController() {
  return pages_->ea_controller.Get();
}
NetworkPage& TMainForm::Network() {
  return pages_->network.Get();
}
ServicePage& TMainForm::Service() {
  return pages_->service.Get();
}

void TMainForm::SetJournalFile(std::string path) {
  journal_file_ = std::move(path);
  pages_->service.IfBuilt([this](ServicePage& page) { page.SetJournalFile(journal_file_); });
}

std::unique_ptr<device::Link> TMainForm::LinkOverWindowBackend() const {
  // The window's link owns its backend and outlives the page's work (the window waits for it).
  std::shared_ptr<hid::Backend> backend(std::shared_ptr<hid::Backend>(), link_->backend());
  auto link = std::make_unique<device::Link>(std::move(backend));
  link->SetModuleLocks(link_->module_locks());
  link->SetLockWait(link_->lock_wait());
  return link;
}

bool TMainForm::ServicePageAtWork() {
  bool at_work = false;
  pages_->service.IfBuilt([&at_work](ServicePage& page) { at_work = page.Working(); });
  return at_work;
}

void TMainForm::ShowModuleChoice(const QString& choice) {
  StaticText7->setToolTip(choice.isEmpty() ? not_connected_tip_
                                           : choice + QStringLiteral("\n\n") + not_connected_tip_);
}

AnyPageSlot* TMainForm::SlotAt(int index) {
  const QWidget* stand_in = PageControl1->widget(index);
  for (AnyPageSlot* slot : pages_->all()) {
    if (&slot->stand_in() == stand_in) return slot;
  }
  return nullptr;
}

LivePage* TMainForm::LivePageAt(int page) {
  AnyPageSlot* const slot = SlotAt(page);
  return slot != nullptr ? qobject_cast<LivePage*>(&slot->Build()) : nullptr;
}

int TMainForm::DacTab() const {
  return PageControl1->indexOf(&pages_->dac.stand_in());
}

int TMainForm::TabOf(const QWidget& page) const {
  return PageControl1->indexOf(page.parentWidget());
}

bool TMainForm::PagesBuilt() const {
  const auto page_slots = pages_->all();
  return std::all_of(page_slots.begin(), page_slots.end(),
                     [](const AnyPageSlot* slot) { return slot->built(); });
}

void TMainForm::PageBuilt(AnyPageSlot& slot) {
  if (pages_told_) slot.ShowModuleState(*pages_told_);
  if (PagesBuilt()) MarkPagesBuiltIfAsked();
}

void TMainForm::TellPagesModuleState() {
  if (pages_told_ == module_state_) return;
  pages_told_ = module_state_;
  Config().ShowModuleState(module_state_);
  for (AnyPageSlot* slot : pages_->all()) slot->ShowModuleState(module_state_);
}

void TMainForm::BuildPages() {
  for (AnyPageSlot* slot : pages_->all()) slot->Build();
}

void TMainForm::BuildPagesAfterFirstPaint() {
  // The window shows its first page before the others are built: they are built right after that
  // first paint, long before a person can pick one.
  class AfterFirstPaint final : public QObject {
   public:
    explicit AfterFirstPaint(TMainForm* form) : QObject(form), form_(form) {}

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::Paint) {
        watched->removeEventFilter(this);
        QTimer::singleShot(0, form_, [form = form_] { form->BuildPages(); });
      }
      return QObject::eventFilter(watched, event);
    }

   private:
    TMainForm* form_;
  };
  installEventFilter(new AfterFirstPaint(this));
}

void TMainForm::SetUpValueBoxes(QWidget* area) {
  if (area == nullptr || value_boxes_set_up_.contains(area)) return;
  value_boxes_set_up_.insert(area);
  if (selectable_on_hover_ == nullptr) selectable_on_hover_ = new SelectableOnHover(this);
  for (QWidget* control : area->findChildren<QWidget*>()) {
    if (const int pixels = control->property(kFixedPitchProperty).toInt(); pixels > 0) {
      if (!fixed_pitch_font_) fixed_pitch_font_ = FixedPitchFont();
      QFont font = *fixed_pitch_font_;
      font.setPixelSize(pixels);
      control->setFont(font);
    }
    if (control->property(kSelectableTextProperty).toBool()) {
      control->installEventFilter(selectable_on_hover_);
    }
  }
}

void TMainForm::ShowTitle() {
  // The task bar shows the main window's own title. The application's display name stays unset:
  // the platform would append it to the caption of every other window, the question boxes too.
  setWindowTitle(ApplicationTitle());
}

void TMainForm::ShowFactoryPages(bool visible) {
  // A hidden tab is only left out of the tab bar: the page control's own keys (Ctrl+Tab,
  // Ctrl+Shift+Tab, Ctrl+PgUp/PgDn) and the bar's wheel and arrow keys still step onto it, showing
  // a page whose tab is not there while its section runs every tick. They pass over a disabled
  // tab. Only the tab is disabled, not its page, whose controls stay as the page leaves them.
  for (const AnyPageSlot* slot : {static_cast<AnyPageSlot*>(&pages_->ea_controller),
                                  static_cast<AnyPageSlot*>(&pages_->network)}) {
    const int page = PageControl1->indexOf(&slot->stand_in());
    PageControl1->setTabVisible(page, visible);
    PageControl1->tabBar()->setTabEnabled(page, visible);
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  QWidget::closeEvent(event);
}

void TMainForm::PageControl1Change() {
  // Polling runs only while its page is shown.
  pages_->network.IfBuilt([](NetworkPage& page) { page.StopNetworkPollingIfRunning(); });
  if (PageControl1->currentWidget() == &pages_->network.stand_in()) {
    Network().ListNetworkPortsOnce();
  }
}

void TMainForm::FormClose() {
  // A closed window must not go on talking to the module until the message loop has ended.
  Timer1->stop();
  // Nor go on polling the network: the port is released with the window.
  pages_->network.IfBuilt([](NetworkPage& page) { page.StopNetworkPollingIfRunning(); });
  // Nor go on with the page "Сервис"'s work: it stops at its next safe point.
  pages_->service.IfBuilt([](ServicePage& page) { page.StopWork(); });
  link_->CloseModule();
}

}  // namespace tarven::app
