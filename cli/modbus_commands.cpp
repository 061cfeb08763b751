// modbus poll, ports: a module's network interface polled by Modbus RTU over a serial line, as
// the window's page "Сеть" polls it, and the serial ports that page offers.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/context.h"
#include "cli/number_option.h"
#include "cli/progress_line.h"
#include "comport/comport.h"
#include "comport/modbus_registers.h"
#include "model/printable_text.h"

namespace tarven::cli {
namespace {

constexpr const char* kPollWhat = "modbus poll";
// 50 bit/s is the slowest rate a serial line has a name for, 4 Mbit/s the fastest.
constexpr std::int64_t kMinBaud = 50;
constexpr std::int64_t kMaxBaud = 4000000;
// A million polls, eleven days at one a second; an interval of an hour at most.
constexpr std::int64_t kMaxPolls = 1000000;
constexpr std::int64_t kMaxIntervalMs = 3600000;

struct PollOptions {
  std::string port;
  int baud = 57600;
  std::string address = "1";
  int count = 1;
  int interval_ms = 1000;
  bool trace = false;
  bool json = false;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02X", byte);
    text += pair;
  }
  return text;
}

void PrintPoll(Context& context, bool json, const comport::NetworkStatus* status) {
  if (json) {
    nlohmann::ordered_json object = {{"connected", status != nullptr}};
    if (status != nullptr) {
      object["version"] = status->version;
      object["packets"] = status->packets;
      object["errors"] = status->errors;
    }
    context.out << object.dump() << '\n';
  } else if (status != nullptr) {
    context.out << "подключен " << status->version << " packets=" << status->packets
                << " errors=" << status->errors << '\n';
  } else {
    context.out << "не подключен\n";
  }
  context.out.flush();
}

// Waits until `until`, or less when Ctrl-C asks to stop; false when it did.
bool WaitUntil(std::chrono::steady_clock::time_point until, const StopRequest& stop) {
  while (!stop.requested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(50)));
  }
  return false;
}

int Poll(Context& context, const PollOptions& options, std::uint8_t slave) {
  comport::ComPort port;
  if (!port.OpenComPort(options.port, options.baud)) {
    return context.Fail(kPollWhat, Shorten(options.port) + ": " + port.LastComPortError());
  }
  const StopOnSignals signals(context.stop);
  int requests = 0;
  int replies = 0;
  bool last_answered = false;
  const auto start = std::chrono::steady_clock::now();
  for (int poll = 0; poll < options.count; ++poll) {
    if (poll > 0 &&
        !WaitUntil(start + poll * std::chrono::milliseconds(options.interval_ms), context.stop)) {
      break;
    }
    std::array<std::uint8_t, 2 * comport::kNetworkRegisterCount> registers{};
    comport::ExchangeRecord record;
    last_answered =
        port.ReadHoldingRegisters(slave, comport::kNetworkFirstRegister,
                                  comport::kNetworkRegisterCount, registers.data(), &record);
    ++requests;
    if (options.trace) {
      context.err << ">" << Hex(record.request) << '\n' << "<" << Hex(record.reply) << '\n';
    }
    if (last_answered) {
      ++replies;
      const comport::NetworkStatus status = comport::DecodeNetworkStatus(registers);
      PrintPoll(context, options.json, &status);
    } else {
      PrintPoll(context, options.json, nullptr);
    }
  }
  port.CloseComPort();
  const int failures = requests - replies;
  if (options.json) {
    context.out << nlohmann::ordered_json{{"requests", requests},
                                          {"replies", replies},
                                          {"failures", failures}}
                       .dump()
                << '\n';
  } else {
    context.out << "requests=" << requests << " replies=" << replies << " failures=" << failures
                << '\n';
  }
  if (last_answered) return kExitOk;
  return context.Fail(kPollWhat, requests == 0 ? std::string("stopped before the first poll")
                                               : "no reply from slave " + std::to_string(slave) +
                                                     " on " + Shorten(options.port));
}

int Ports(Context& context, bool json) {
  const std::vector<comport::PortInfo> ports = comport::ListPorts(context.serial_ports);
  if (json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const comport::PortInfo& port : ports) {
      list.push_back({{"name", port.name}, {"description", port.description}});
    }
    // Names and descriptions come from the system; a byte that is not UTF-8 must not end the run.
    context.out << list.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << '\n';
    return kExitOk;
  }
  // The names in the first column, what is behind each port after them where something is known.
  // Both come from the system (a USB adapter names itself), and are shown with their control
  // characters escaped.
  std::size_t width = 0;
  for (const comport::PortInfo& port : ports) {
    width = std::max(width, model::Printable(port.name).size());
  }
  for (const comport::PortInfo& port : ports) {
    const std::string name = model::Printable(port.name);
    context.out << name;
    if (!port.description.empty()) {
      context.out << std::string(width - name.size() + 2, ' ')
                  << model::Printable(port.description);
    }
    context.out << '\n';
  }
  return kExitOk;
}

}  // namespace

void RegisterModbusCommands(CLI::App& app, Action& action) {
  auto options = std::make_shared<PollOptions>();
  CLI::App* modbus = app.add_subcommand("modbus", "a module's network interface over Modbus RTU");
  modbus->require_subcommand(1);
  CLI::App* poll = modbus->add_subcommand(
      "poll", "read the network registers once a poll: state, version, packets, errors");
  poll->add_option("--port", options->port,
                   "serial port: a name as 'ports' lists it, or a device path")
      ->required()
      ->type_name("NAME");
  poll->add_option("--baud", options->baud, "line speed in bits per second, 50 to 4000000 (57600)")
      ->check(WholeNumber(kMinBaud, kMaxBaud))
      ->type_name("RATE");
  poll->add_option("--addr", options->address,
                   "slave address, 0 to 255, decimal or hexadecimal as $F8 or 0xF8 (1)")
      ->type_name("N");
  poll->add_option("--count", options->count, "how many polls, 1 to 1000000 (1)")
      ->check(WholeNumber(1, kMaxPolls))
      ->type_name("N");
  poll->add_option("--interval", options->interval_ms,
                   "milliseconds from one poll's start to the next, 0 to 3600000 (1000)")
      ->check(WholeNumber(0, kMaxIntervalMs))
      ->type_name("MS");
  poll->add_flag("--trace", options->trace,
                 "print each request and reply in hex on standard error");
  poll->add_flag("--json", options->json, "print one JSON object per poll, and one at the end");
  poll->callback([&action, options] {
    const auto address = ParseIntegerWord(options->address);
    if (!address || *address < 0 || *address > 255) {
      throw CLI::ValidationError("--addr", "slave address '" + Shorten(options->address) +
                                               "' is not a number from 0 to 255");
    }
    if (options->port.empty()) throw CLI::ValidationError("--port", "the port name is empty");
    const auto slave = static_cast<std::uint8_t>(*address);
    action = [options, slave](Context& context) { return Poll(context, *options, slave); };
  });

  auto json = std::make_shared<bool>(false);
  CLI::App* ports = app.add_subcommand(
      "ports", "list the serial ports, as the network page does, and what is behind each");
  ports->add_flag("--json", *json, "print one JSON array of objects: name, description");
  ports->callback(
      [&action, json] { action = [json](Context& context) { return Ports(context, *json); }; });
}

}  // namespace tarven::cli
