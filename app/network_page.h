#pragma once
// The page "Сеть": polls a module's network interface by Modbus RTU once a second over the open
// serial port and shows whether it answers, its version and its packet and error counters.

#include <QString>
#include <QWidget>
#include <cstdint>

#include "comport/comport.h"
#include "ui_tab_sheet10.h"

class QTimer;

namespace tarven::app {

class NetworkPage final : public QWidget {
  Q_OBJECT

 private:
  Ui::TabSheet10Page ui_{};  // the page's form

 public:
  // The ports are taken from `port_source` (the window's) when the page is first shown.
  NetworkPage(QWidget* parent, const comport::PortSource& port_source);
  ~NetworkPage() override;

  void Button15Click();
  void Timer2Timer();
  void ComboBox8Change();
  void ComboBox9Change();
  void Edit1Change();

  // Looks for the serial ports once: when the page is first shown, or at the first start.
  void ListNetworkPortsOnce();
  // Polling runs only while its page is shown and while the window is open.
  void StopNetworkPollingIfRunning();

  const comport::ComPort& NetworkPort() const { return network_port_; }

  std::int32_t net_addr = 0;
  std::int32_t net_br = 0;
  QString net_COM;
  // The network poll, once a second while polling.
  QTimer* Timer2 = nullptr;
  // The start/stop button's polling flag: 1 while polling.
  int Button15Tag = 0;

 private:
  void SetNetworkSettingsEnabled(bool enabled);
  void StopNetworkPolling();
  void ShowNetworkNotConnected();

  const comport::PortSource& port_source_;
  comport::ComPort network_port_;
  bool network_ports_listed_ = false;
};

}  // namespace tarven::app
