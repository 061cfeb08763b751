// The page "Сеть" in the real window: start-up, start and stop, the tick against libmodbus's RTU
// server over a pseudo-terminal pair, the address edit, and the tab change that stops polling.

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QTimer>
#include <array>
#include <string>
#include <vector>

#include "comport/comport.h"
#include "form_fixture.h"
#include "modbus_peers.h"

namespace tarven::testing {
namespace {

const QColor kRed(255, 0, 0);
const std::vector<std::uint16_t> kHeld{0, 0, 0, 0x0001, 0x0002, 0xFFFF, 0xFFFF, 0, 0, 0x0454};

class NetworkPageTest : public FormTest {
 protected:
  void TearDown() override {
    form_.reset();
    FormTest::TearDown();
  }

  // The window with `ports` found at start-up, on its network page.
  void Start(const QStringList& ports) {
    form_ = MakeForm({"-f"});
    form_->SetPortSource(Finds(ports));
    form_->PageControl1->setCurrentIndex(form_->TabOf(form_->Network()));
  }

  // A source that finds `ports`.
  static comport::PortSource Finds(const QStringList& ports) {
    return [ports] {
      std::vector<comport::PortInfo> found;
      for (const QString& port : ports) found.push_back({port.toStdString(), ""});
      return found;
    };
  }

  // The page's texts: Статус, Версия, Всего пакетов, Ошибок.
  std::array<QString, 4> Texts() const {
    return {Child<QLabel>(form_->Network(), "StaticText74")->text(),
            Child<QLabel>(form_->Network(), "StaticText69")->text(),
            Child<QLabel>(form_->Network(), "StaticText76")->text(),
            Child<QLabel>(form_->Network(), "StaticText78")->text()};
  }
  static std::array<QString, 4> NotConnected() { return {"не подключен", "н/д", "н/д", "н/д"}; }

  void ExpectStopped() {
    EXPECT_EQ(form_->Network().Button15Tag, 0);
    EXPECT_EQ(Child<QPushButton>(form_->Network(), "Button15")->text(), "Запустить опрос");
    EXPECT_FALSE(form_->Network().Timer2->isActive());
    EXPECT_EQ(form_->Network().NetworkPort().ComHandle(), comport::kInvalidComHandle);
    EXPECT_TRUE(Child<QLineEdit>(form_->Network(), "Edit1")->isEnabled());
    EXPECT_TRUE(Child<QComboBox>(form_->Network(), "ComboBox8")->isEnabled());
    EXPECT_TRUE(Child<QComboBox>(form_->Network(), "ComboBox9")->isEnabled());
  }

  void ExpectPolling() {
    EXPECT_EQ(form_->Network().Button15Tag, 1);
    EXPECT_EQ(Child<QPushButton>(form_->Network(), "Button15")->text(), "Остановить опрос");
    EXPECT_TRUE(form_->Network().Timer2->isActive());
    EXPECT_EQ(form_->Network().Timer2->interval(), 1000);
    EXPECT_NE(form_->Network().NetworkPort().ComHandle(), comport::kInvalidComHandle);
    EXPECT_FALSE(Child<QLineEdit>(form_->Network(), "Edit1")->isEnabled());
    EXPECT_FALSE(Child<QComboBox>(form_->Network(), "ComboBox8")->isEnabled());
    EXPECT_FALSE(Child<QComboBox>(form_->Network(), "ComboBox9")->isEnabled());
  }

  bool Red() const {
    return Child<QLineEdit>(form_->Network(), "Edit1")->palette().color(QPalette::Text) == kRed;
  }

  std::unique_ptr<app::TMainForm> form_;
};

TEST_F(NetworkPageTest, StartUpListsThePortsInTextOrder) {
  Start({"COM2", "COM10", "COM3"});
  QStringList shown;
  for (int i = 0; i < Child<QComboBox>(form_->Network(), "ComboBox8")->count(); ++i)
    shown << Child<QComboBox>(form_->Network(), "ComboBox8")->itemText(i);
  EXPECT_EQ(shown, (QStringList{"COM10", "COM2", "COM3"}));
  EXPECT_EQ(Child<QComboBox>(form_->Network(), "ComboBox8")->currentText(), "COM10");
  EXPECT_EQ(form_->Network().net_COM, "COM10");
  EXPECT_EQ(form_->Network().net_br, 57600);
  EXPECT_EQ(form_->Network().net_addr, 1);
  EXPECT_EQ(Child<QComboBox>(form_->Network(), "ComboBox9")->currentText(), "57600");
  EXPECT_EQ(Child<QLineEdit>(form_->Network(), "Edit1")->text(), "1");
  EXPECT_TRUE(Child<QPushButton>(form_->Network(), "Button15")->isEnabled());
  EXPECT_EQ(Texts(), NotConnected());
  ExpectStopped();

  Child<QComboBox>(form_->Network(), "ComboBox8")->setCurrentIndex(2);
  EXPECT_EQ(form_->Network().net_COM, "COM3");
  Child<QComboBox>(form_->Network(), "ComboBox9")->setCurrentIndex(6);
  EXPECT_EQ(form_->Network().net_br, 115200);
}

// Looking for ports takes a while, so the window does it when "Сеть" is first shown, and only
// then: not while it starts, builds its pages or shows other pages, never while the page is
// hidden, and once in a run.
TEST_F(NetworkPageTest, PortsAreLookedForWhenThePageIsFirstShown) {
  const struct {
    const char* name;
    QStringList arguments;
    int looks_after_visiting_every_page;
  } cases[] = {{"with -f", {"-f"}, 1}, {"without -f (page hidden)", {}, 0}};
  for (const auto& c : cases) {
    auto looks = std::make_shared<int>(0);
    auto found = std::make_shared<QStringList>(QStringList{"ttyUSB0"});
    auto form = std::make_unique<app::TMainForm>(c.arguments, link_shared(), dialogs_shared());
    form->Timer1->stop();
    form->SetPortSource([looks, found] {
      ++*looks;
      std::vector<comport::PortInfo> ports;
      for (const QString& port : *found) ports.push_back({port.toStdString(), ""});
      return ports;
    });
    form->show();
    for (int i = 0; i < 50 && !form->PagesBuilt(); ++i) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_TRUE(form->PagesBuilt()) << c.name;
    EXPECT_EQ(*looks, 0) << c.name << ": pages built";

    const int network_tab = form->TabOf(form->Network());
    for (int page = 0; page < form->PageControl1->count(); ++page) {
      if (!form->PageControl1->isTabVisible(page)) continue;
      form->PageControl1->setCurrentIndex(page);
      EXPECT_EQ(*looks, page < network_tab ? 0 : c.looks_after_visiting_every_page)
          << c.name << ": page " << page;
    }
    // A port that turns up later is not noticed.
    *found << "ttyUSB1";
    for (const int page : {0, network_tab, 1, network_tab}) {
      if (form->PageControl1->isTabVisible(page)) form->PageControl1->setCurrentIndex(page);
    }
    EXPECT_EQ(*looks, c.looks_after_visiting_every_page) << c.name;
    if (c.looks_after_visiting_every_page > 0) {
      EXPECT_EQ(Child<QComboBox>(form->Network(), "ComboBox8")->count(), 1) << c.name;
      EXPECT_EQ(Child<QComboBox>(form->Network(), "ComboBox8")->itemText(0), "ttyUSB0") << c.name;
      EXPECT_EQ(form->Network().net_COM, "ttyUSB0") << c.name;
      EXPECT_TRUE(Child<QPushButton>(form->Network(), "Button15")->isEnabled()) << c.name;
    }
  }
}

TEST_F(NetworkPageTest, NoPortAtStartUpLeavesStartDisabled) {
  Start({});
  EXPECT_EQ(Child<QComboBox>(form_->Network(), "ComboBox8")->count(), 0);
  EXPECT_EQ(form_->Network().net_COM, "");
  EXPECT_FALSE(Child<QPushButton>(form_->Network(), "Button15")->isEnabled());
}

TEST_F(NetworkPageTest, PollsTheServerUntilTheTabChanges) {
  PtyPair pair;
  ServerPeer server(pair.theirs(), 1, kHeld);
  Start({QString::fromStdString(pair.ours())});
  Child<QPushButton>(form_->Network(), "Button15")->click();
  ExpectPolling();
  EXPECT_EQ(Texts(), NotConnected());  // nothing shown before the first tick

  form_->Timer2Timer();
  EXPECT_EQ(Texts(), (std::array<QString, 4>{"подключен", "4.54", "131073", "4294967295"}));

  form_->PageControl1->setCurrentIndex(0);
  ExpectStopped();
  EXPECT_EQ(Texts(), NotConnected());
}

// The page on its own, without the window: its ports from its source, its poll on the wire.
TEST_F(NetworkPageTest, PagePollsTheServerWithoutTheWindow) {
  PtyPair pair;
  ServerPeer server(pair.theirs(), 1, kHeld);
  QWidget stand_in;
  const comport::PortSource source = Finds({QString::fromStdString(pair.ours())});
  app::NetworkPage page(&stand_in, source);
  page.ListNetworkPortsOnce();
  EXPECT_EQ(page.net_COM, QString::fromStdString(pair.ours()));
  Child<QPushButton>(page, "Button15")->click();
  EXPECT_EQ(page.Button15Tag, 1);
  page.Timer2Timer();
  EXPECT_EQ(Child<QLabel>(page, "StaticText74")->text(), "подключен");
  EXPECT_EQ(Child<QLabel>(page, "StaticText69")->text(), "4.54");
  page.StopNetworkPollingIfRunning();
  EXPECT_EQ(page.Button15Tag, 0);
  EXPECT_EQ(page.NetworkPort().ComHandle(), comport::kInvalidComHandle);
}

TEST_F(NetworkPageTest, AddressEditKeepsTheLastGoodAddress) {
  PtyPair pair;
  ServerPeer server(pair.theirs(), 12, kHeld);
  Start({QString::fromStdString(pair.ours())});
  Child<QLineEdit>(form_->Network(), "Edit1")->setText("abc");
  EXPECT_TRUE(Red());
  EXPECT_EQ(form_->Network().net_addr, 1);
  Child<QLineEdit>(form_->Network(), "Edit1")->setText("12");
  EXPECT_FALSE(Red());
  EXPECT_EQ(form_->Network().net_addr, 12);
  Child<QPushButton>(form_->Network(), "Button15")->click();
  form_->Timer2Timer();
  EXPECT_EQ(Texts()[0], "подключен");

  // Another address, which the server ignores: one deadline, then the texts say so.
  Child<QLineEdit>(form_->Network(), "Edit1")->setText("$0D");
  form_->Timer2Timer();
  EXPECT_EQ(Texts(), NotConnected());
  Child<QPushButton>(form_->Network(), "Button15")->click();
  ExpectStopped();
}

TEST_F(NetworkPageTest, OnlyTheLowEightBitsOfTheAddressAreSent) {
  PtyPair pair;
  RawEnd slave(pair.theirs());
  Start({QString::fromStdString(pair.ours())});
  Child<QPushButton>(form_->Network(), "Button15")->click();
  const struct {
    const char* text;
    std::uint8_t sent;
  } cases[] = {{"256", 0x00}, {"-1", 0xFF}, {"0x1FE", 0xFE}};
  for (const auto& c : cases) {
    Child<QLineEdit>(form_->Network(), "Edit1")->setText(c.text);
    form_->Timer2Timer();
    EXPECT_EQ(slave.Read(8), WithCrc({c.sent, 0x03, 0x00, 0x00, 0x00, 0x0A})) << c.text;
  }
}

TEST_F(NetworkPageTest, PortHeldByAnotherProgramChangesNothing) {
  PtyPair pair;
  const PortHolder holder(pair.ours());
  Start({QString::fromStdString(pair.ours())});
  Child<QPushButton>(form_->Network(), "Button15")->click();
  ExpectStopped();
  EXPECT_EQ(Texts(), NotConnected());
}

TEST_F(NetworkPageTest, ClosingTheWindowReleasesThePort) {
  PtyPair pair;
  Start({QString::fromStdString(pair.ours())});
  Child<QPushButton>(form_->Network(), "Button15")->click();
  ASSERT_NE(form_->Network().NetworkPort().ComHandle(), comport::kInvalidComHandle);
  form_->close();
  EXPECT_EQ(form_->Network().NetworkPort().ComHandle(), comport::kInvalidComHandle);
  EXPECT_FALSE(form_->Network().Timer2->isActive());
}

}  // namespace
}  // namespace tarven::testing
