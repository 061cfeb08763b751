// The page "Сеть": polls a module's network interface by Modbus RTU once a second over the open
// serial port and shows whether it answers, its version and its packet and error counters.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <string>
#include <vector>

#include "app/edit_colour.h"
#include "app/network_page.h"
#include "comport/comport.h"
#include "comport/modbus_registers.h"
#include "model/integer_text.h"
#include "model/version_text.h"

namespace tarven::app {
namespace {

constexpr std::int32_t kDefaultBaud = 57600;
constexpr std::int32_t kDefaultSlave = 1;

QString StartCaption() {
  return QStringLiteral("Запустить опрос");
}
QString StopCaption() {
  return QStringLiteral("Остановить опрос");
}

}  // namespace

NetworkPage::NetworkPage(QWidget* parent, const comport::PortSource& port_source)
    : QWidget(parent), net_addr(kDefaultSlave), net_br(kDefaultBaud), port_source_(port_source) {
  ui_.setupUi(this);
  // The port selector is filled when the page is first shown (ListNetworkPortsOnce).
  Timer2 = new QTimer(this);
  Timer2->setInterval(comport::kReadDeadlineMs);
  connect(Timer2, &QTimer::timeout, this, &NetworkPage::Timer2Timer);
  connect(ui_.Button15, &QPushButton::clicked, this, &NetworkPage::Button15Click);
  connect(ui_.ComboBox8, &QComboBox::currentIndexChanged, this, &NetworkPage::ComboBox8Change);
  connect(ui_.ComboBox9, &QComboBox::currentIndexChanged, this, &NetworkPage::ComboBox9Change);
  connect(ui_.Edit1, &QLineEdit::textChanged, this, &NetworkPage::Edit1Change);
}

NetworkPage::~NetworkPage() {
  // A window that goes away while polling leaves the port free for the next one.
  network_port_.CloseComPort();
}

void NetworkPage::StopNetworkPollingIfRunning() {
  if (Button15Tag == 1) StopNetworkPolling();
}

void NetworkPage::ListNetworkPortsOnce() {
  // Looking for the ports takes a while (sysfs, or the device manager), so it waits until the
  // page is first shown, which a person cannot tell apart from the window's start. They are
  // gathered once: without one, there is nothing to poll for the whole run.
  if (network_ports_listed_) return;
  network_ports_listed_ = true;
  std::vector<std::string> ports;
  comport::ListComPorts(ports, port_source_);
  ui_.ComboBox8->clear();
  for (const std::string& port : ports) ui_.ComboBox8->addItem(QString::fromStdString(port));
  if (ports.empty()) {
    ui_.Button15->setEnabled(false);
  } else {
    ui_.ComboBox8->setCurrentIndex(0);
  }
  net_COM = ui_.ComboBox8->currentText();
}

void NetworkPage::Button15Click() {
  if (Button15Tag == 0) {
    ListNetworkPortsOnce();
    if (!network_port_.OpenComPort(net_COM.toStdString(), net_br)) return;
    SetNetworkSettingsEnabled(false);
    Button15Tag = 1;
    ui_.Button15->setText(StopCaption());
    Timer2->start();
  } else {
    StopNetworkPolling();
  }
}

void NetworkPage::StopNetworkPolling() {
  network_port_.CloseComPort();
  SetNetworkSettingsEnabled(true);
  Button15Tag = 0;
  ui_.Button15->setText(StartCaption());
  Timer2->stop();
  ShowNetworkNotConnected();
}

void NetworkPage::SetNetworkSettingsEnabled(bool enabled) {
  ui_.Edit1->setEnabled(enabled);
  ui_.ComboBox8->setEnabled(enabled);
  ui_.ComboBox9->setEnabled(enabled);
}

void NetworkPage::Timer2Timer() {
  std::array<std::uint8_t, 2 * comport::kNetworkRegisterCount> registers{};
  const auto slave = static_cast<std::uint8_t>(static_cast<std::uint32_t>(net_addr) & 0xFFU);
  if (!network_port_.ReadHoldingRegisters(slave, comport::kNetworkFirstRegister,
                                          comport::kNetworkRegisterCount, registers.data())) {
    ShowNetworkNotConnected();
    return;
  }
  const comport::NetworkStatus status = comport::DecodeNetworkStatus(registers);
  ui_.StaticText74->setText(QStringLiteral("подключен"));
  ui_.StaticText69->setText(QString::fromStdString(status.version));
  ui_.StaticText76->setText(QString::number(status.packets));
  ui_.StaticText78->setText(QString::number(status.errors));
}

void NetworkPage::ShowNetworkNotConnected() {
  const QString not_available = QString::fromUtf8(model::kNotAvailable);
  ui_.StaticText74->setText(QStringLiteral("не подключен"));
  ui_.StaticText69->setText(not_available);
  ui_.StaticText76->setText(not_available);
  ui_.StaticText78->setText(not_available);
}

void NetworkPage::ComboBox8Change() {
  net_COM = ui_.ComboBox8->currentText();
}

void NetworkPage::ComboBox9Change() {
  // The list holds only rates written in digits.
  net_br = ui_.ComboBox9->currentText().toInt();
}

void NetworkPage::Edit1Change() {
  const auto value = model::ParseInteger(ui_.Edit1->text().toStdString());
  if (value) net_addr = *value;
  ShowTextValid(*ui_.Edit1, value.has_value());
}

}  // namespace tarven::app
