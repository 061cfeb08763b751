// The page "Сеть" in the real window: start-up, start and stop, the tick against libmodbus's RTU
// server over a pseudo-terminal pair, the address edit, and the tab change that stops polling.

#include <QColor>
#include <QPalette>
#include <QTimer>
#include <array>
#include <thread>

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
    comport::CloseComPort();
    comport::SetPortSource({});
    FormTest::TearDown();
  }

  // The window with `ports` found at start-up, on its network page.
  void Start(const QStringList& ports) {
    comport::SetPortSource([ports] { return ports; });
    form_ = MakeForm({"-f"});
    form_->PageControl1->setCurrentIndex(app::kNetworkPage);
  }

  // The page's texts: Статус, Версия, Всего пакетов, Ошибок.
  std::array<QString, 4> Texts() const {
    return {form_->StaticText74->text(), form_->StaticText69->text(), form_->StaticText76->text(),
            form_->StaticText78->text()};
  }
  static std::array<QString, 4> NotConnected() { return {"не подключен", "н/д", "н/д", "н/д"}; }

  void ExpectStopped() {
    EXPECT_EQ(form_->Button15Tag, 0);
    EXPECT_EQ(form_->Button15->text(), "Запустить опрос");
    EXPECT_FALSE(form_->Timer2->isActive());
    EXPECT_EQ(comport::ComHandle, comport::kInvalidComHandle);
    EXPECT_TRUE(form_->Edit1->isEnabled());
    EXPECT_TRUE(form_->ComboBox8->isEnabled());
    EXPECT_TRUE(form_->ComboBox9->isEnabled());
  }

  void ExpectPolling() {
    EXPECT_EQ(form_->Button15Tag, 1);
    EXPECT_EQ(form_->Button15->text(), "Остановить опрос");
    EXPECT_TRUE(form_->Timer2->isActive());
    EXPECT_EQ(form_->Timer2->interval(), 1000);
    EXPECT_NE(comport::ComHandle, comport::kInvalidComHandle);
    EXPECT_FALSE(form_->Edit1->isEnabled());
    EXPECT_FALSE(form_->ComboBox8->isEnabled());
    EXPECT_FALSE(form_->ComboBox9->isEnabled());
  }

  bool Red() const { return form_->Edit1->palette().color(QPalette::Text) == kRed; }

  std::unique_ptr<app::TMainForm> form_;
};

TEST_F(NetworkPageTest, StartUpListsThePortsInTextOrder) {
  Start({"COM2", "COM10", "COM3"});
  QStringList shown;
  for (int i = 0; i < form_->ComboBox8->count(); ++i) shown << form_->ComboBox8->itemText(i);
  EXPECT_EQ(shown, (QStringList{"COM10", "COM2", "COM3"}));
  EXPECT_EQ(form_->ComboBox8->currentText(), "COM10");
  EXPECT_EQ(form_->net_COM, "COM10");
  EXPECT_EQ(form_->net_br, 57600);
  EXPECT_EQ(form_->net_addr, 1);
  EXPECT_EQ(form_->ComboBox9->currentText(), "57600");
  EXPECT_EQ(form_->Edit1->text(), "1");
  EXPECT_TRUE(form_->Button15->isEnabled());
  EXPECT_EQ(Texts(), NotConnected());
  ExpectStopped();

  form_->ComboBox8->setCurrentIndex(2);
  EXPECT_EQ(form_->net_COM, "COM3");
  form_->ComboBox9->setCurrentIndex(6);
  EXPECT_EQ(form_->net_br, 115200);
}

TEST_F(NetworkPageTest, NoPortAtStartUpLeavesStartDisabled) {
  Start({});
  EXPECT_EQ(form_->ComboBox8->count(), 0);
  EXPECT_EQ(form_->net_COM, "");
  EXPECT_FALSE(form_->Button15->isEnabled());
}

TEST_F(NetworkPageTest, PollsTheServerUntilTheTabChanges) {
  PtyPair pair;
  ServerPeer server(pair.theirs(), 1, kHeld);
  Start({QString::fromStdString(pair.ours())});
  form_->Button15->click();
  ExpectPolling();
  EXPECT_EQ(Texts(), NotConnected());  // nothing shown before the first tick

  form_->Timer2Timer();
  EXPECT_EQ(Texts(), (std::array<QString, 4>{"подключен", "4.54", "131073", "4294967295"}));

  form_->PageControl1->setCurrentIndex(0);
  ExpectStopped();
  EXPECT_EQ(Texts(), NotConnected());
}

TEST_F(NetworkPageTest, AddressEditKeepsTheLastGoodAddress) {
  PtyPair pair;
  ServerPeer server(pair.theirs(), 12, kHeld);
  Start({QString::fromStdString(pair.ours())});
  form_->Edit1->setText("abc");
  EXPECT_TRUE(Red());
  EXPECT_EQ(form_->net_addr, 1);
  form_->Edit1->setText("12");
  EXPECT_FALSE(Red());
  EXPECT_EQ(form_->net_addr, 12);
  form_->Button15->click();
  form_->Timer2Timer();
  EXPECT_EQ(Texts()[0], "подключен");

  // Another address, which the server ignores: one deadline, then the texts say so.
  form_->Edit1->setText("$0D");
  form_->Timer2Timer();
  EXPECT_EQ(Texts(), NotConnected());
  form_->Button15->click();
  ExpectStopped();
}

TEST_F(NetworkPageTest, OnlyTheLowEightBitsOfTheAddressAreSent) {
  PtyPair pair;
  RawEnd slave(pair.theirs());
  Start({QString::fromStdString(pair.ours())});
  form_->Button15->click();
  const struct {
    const char* text;
    std::uint8_t sent;
  } cases[] = {{"256", 0x00}, {"-1", 0xFF}, {"0x1FE", 0xFE}};
  for (const auto& c : cases) {
    form_->Edit1->setText(c.text);
    form_->Timer2Timer();
    EXPECT_EQ(slave.Read(8), WithCrc({c.sent, 0x03, 0x00, 0x00, 0x00, 0x0A})) << c.text;
  }
}

TEST_F(NetworkPageTest, PortHeldByAnotherProgramChangesNothing) {
  PtyPair pair;
  const PortHolder holder(pair.ours());
  Start({QString::fromStdString(pair.ours())});
  form_->Button15->click();
  ExpectStopped();
  EXPECT_EQ(Texts(), NotConnected());
}

TEST_F(NetworkPageTest, ClosingTheWindowReleasesThePort) {
  PtyPair pair;
  Start({QString::fromStdString(pair.ours())});
  form_->Button15->click();
  ASSERT_NE(comport::ComHandle, comport::kInvalidComHandle);
  form_->close();
  EXPECT_EQ(comport::ComHandle, comport::kInvalidComHandle);
  EXPECT_FALSE(form_->Timer2->isActive());
}

}  // namespace
}  // namespace tarven::testing
