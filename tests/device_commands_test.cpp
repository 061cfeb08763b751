// What is plugged in, and why a module cannot be reached: tarvenctl devices, the error of a
// command that finds the module but cannot open it, and where a device sits on the USB.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/access_hint.h"
#include "cli_fixture.h"
#include "device/hid.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

TEST(UsbLocation, IsTheUsbDeviceNearestTheInterface) {
  const struct {
    const char* sysfs;
    const char* location;
  } cases[] = {
      {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:03EB:6202.0005", "1-2"},
      {"/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1.4/3-1.4.2/3-1.4.2:1.0/"
       "0003:03EB:6202.000A",
       "3-1.4.2"},
      {"/sys/devices/platform/soc/usb2/2-10/2-10:1.1/0003:03EB:6202.0001", "2-10"},
      // Virtual devices (uhid) and what is not a USB device name give none.
      {"/sys/devices/virtual/misc/uhid/0003:03EB:6202.0007", ""},
      {"/sys/devices/pci0000:00/usb1/1-/1-.2/x", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hid::UsbLocationFromSysfsPath(c.sysfs), c.location) << c.sysfs;
  }
}

// A simulated bus: the module, a device with the module's ids that only root may open, and one
// with the ids but another report length.
std::shared_ptr<sim::SimBackend> Bus(int open_error) {
  auto sim = std::make_shared<sim::SimBackend>();
  sim->devices().front().open_error = open_error;
  sim->AddDecoy(0x03EB, 0x6202, 9, /*front=*/false);
  return sim;
}

TEST(Devices, ListsEveryDeviceWithTheModulesIdsAndWhatAnswers) {
  auto sim = Bus(0);
  sim->AddDecoy(0x046D, 0xC52B, 65);  // another maker's: not listed
  CtlResult r = RunCtl({"--simulate", "devices"}, sim);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "sim:module\n  location: sim-1\n  serial: SIM00001\n  feature report: 65 bytes\n"
            "  answers: application, firmware 4.54\n"
            "sim:decoy1\n  location: н/д\n  serial: н/д\n  feature report: 9 bytes\n"
            "  answers: not the module (feature report of 9 bytes, the module's has 65)\n");
  // The decoy with another report length is never sent a report; the module gets identify and
  // status, and every handle is closed again.
  EXPECT_EQ(sim->OpenHandleCount(), 0u);

  sim->module().personality = sim::Personality::BootLoader;
  sim->module().boot_version = 0x00010203;
  r = RunCtl({"--simulate", "devices", "--json"}, sim);
  EXPECT_EQ(r.code, 0) << r.err;
  const auto list = nlohmann::json::parse(r.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["personality"], "bootloader");
  EXPECT_EQ(list[0]["bootloader"], "1.2.3.");
  EXPECT_EQ(list[0]["firmware"], "4.54");
  EXPECT_EQ(list[0]["location"], "sim-1");
  EXPECT_EQ(list[0]["serial"], "SIM00001");
  EXPECT_TRUE(list[1]["personality"].is_null());
  EXPECT_TRUE(list[1]["location"].is_null());
  EXPECT_EQ(list[1]["feature_report_length"], 9);

  // No module among them: exit 1, as status does.
  sim->Unplug();
  r = RunCtl({"--simulate", "devices"}, sim);
  EXPECT_EQ(r.code, 1);
}

TEST(Devices, ModuleThatCannotBeOpenedSaysWhyAndHowToFixIt) {
  auto sim = Bus(EACCES);
  CtlResult r = RunCtl({"--simulate", "devices"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("sim:module\n  location: sim-1\n  serial: SIM00001\n  feature report: н/д\n"
                       "  answers: cannot be opened: Permission denied\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("udevadm control --reload"), std::string::npos) << r.out;

  r = RunCtl({"--simulate", "devices", "--json"}, sim);
  const auto list = nlohmann::json::parse(r.out);
  EXPECT_EQ(list[0]["opened"], false);
  EXPECT_EQ(list[0]["open_error"], "Permission denied");
  EXPECT_NE(list[0]["fix"].get<std::string>().find("udevadm"), std::string::npos);
}

// A listing with a version missing, or without any module, is no success: exit 1 and one line
// on standard error that says which.
TEST(Devices, AVersionNotToldOrNoModuleIsAFailure) {
  using Fault = sim::SimBackend::Fault;
  const struct {
    const char* name;
    std::function<void(sim::SimBackend&)> arrange;
    const char* answers;
    const char* err;
  } cases[] = {
      // Nothing at all: what to try.
      {"no module", [](sim::SimBackend& s) { s.Unplug(); }, nullptr,
       "tarvenctl: devices: no module found; check the module's USB cable and power ('lsusb -d "
       "03eb:6202' lists the module when the system sees it)\n"},
      {"only a device that is not the module",
       [](sim::SimBackend& s) {
         s.Unplug();
         s.AddDecoy(0x03EB, 0x6202, 9);
       },
       nullptr, "tarvenctl: devices: no device answers as the module\n"},
      // Identify (reports 1 and 2), then the status whose answer is report 4.
      {"status answer lost", [](sim::SimBackend& s) { s.ArmFault(4, Fault::Refuse); },
       "  answers: application, firmware н/д\n",
       "tarvenctl: devices: the module at sim:module did not tell its firmware version\n"},
      // The boot loader: identify, its status (reports 3, 4), its firmware version (5, 6).
      {"boot loader's words lost",
       [](sim::SimBackend& s) {
         s.module().personality = sim::Personality::BootLoader;
         s.ArmFault(4, Fault::Refuse);
         s.ArmFault(6, Fault::Refuse);
       },
       "  answers: boot loader н/д, firmware н/д\n",
       "tarvenctl: devices: the module at sim:module did not tell its boot loader and firmware "
       "versions\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto sim = std::make_shared<sim::SimBackend>();
    c.arrange(*sim);
    const CtlResult r = RunCtl({"--simulate", "devices"}, sim);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, c.err);
    if (c.answers != nullptr) {
      EXPECT_NE(r.out.find(c.answers), std::string::npos) << r.out;
    }
  }
}

// Every command that needs the module tells a module it cannot open from no module at all.
TEST(Devices, CommandsNameTheModuleTheyCannotOpen) {
  const struct {
    int open_error;
    const char* message;
    bool hint;
  } cases[] = {
      {EACCES, "the module at sim:module cannot be opened: Permission denied", true},
      {EBUSY, "the module at sim:module cannot be opened: Device or resource busy", false},
  };
  for (const auto& c : cases) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"status"}, std::vector<std::string>{"cnc", "stop"},
          std::vector<std::string>{"config", "show"}}) {
      SCOPED_TRACE(command.front() + " " + std::to_string(c.open_error));
      std::vector<std::string> args{"--simulate"};
      args.insert(args.end(), command.begin(), command.end());
      const CtlResult r = RunCtl(args, Bus(c.open_error));
      EXPECT_EQ(r.code, 1);
      const std::string first_line = r.err.substr(0, r.err.find('\n'));
      EXPECT_NE(first_line.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("udevadm") != std::string::npos, c.hint) << r.err;
      // The module is there: status does not call it absent above the reason.
      if (command.front() == "status") {
        EXPECT_EQ(r.out.rfind("state: inaccessible\n", 0), 0u) << r.out;
      }
    }
  }
}

TEST(AccessHint, GivesTheRuleTheProjectShipsOrAppliesTheInstalledOne) {
  // The rule line in the hint is the one in the shipped rule file.
  std::ifstream shipped(TARVEN_SOURCE_DIR "/resources/70-tarven.rules");
  ASSERT_TRUE(shipped);
  std::string rules;
  for (std::string line; std::getline(shipped, line);) rules += line + '\n';
  EXPECT_NE(rules.find(cli::kUdevRuleLine), std::string::npos);

  const std::string missing = cli::AccessHint({"/nonexistent/70-tarven.rules"});
  EXPECT_NE(missing.find(std::string("echo '") + cli::kUdevRuleLine +
                         "' > /etc/udev/rules.d/70-tarven.rules"),
            std::string::npos)
      << missing;
  const std::string installed =
      cli::AccessHint({TARVEN_SOURCE_DIR "/resources/70-tarven.rules"});
  EXPECT_EQ(installed.find("echo '" + std::string(cli::kUdevRuleLine)), std::string::npos);
  EXPECT_NE(installed.find("70-tarven.rules gives access"), std::string::npos) << installed;
  for (const std::string& hint : {missing, installed}) {
    EXPECT_NE(hint.find("udevadm control --reload && udevadm trigger"), std::string::npos);
    EXPECT_NE(hint.find(R"(GROUP="plugdev", MODE="0660")"), std::string::npos);
    EXPECT_NE(hint.find("usermod -aG plugdev "), std::string::npos);
  }
}

TEST(Version, PrintsToolAndFirmwareImageWithoutACommand) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, std::vector<std::string>{"--simulate", "--version"},
        std::vector<std::string>{"-V"}}) {
    const CtlResult r = RunCtl(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "tarvenctl " TARVEN_TOOL_VERSION);
    EXPECT_EQ(r.out.find("firmware image: "), r.out.find('\n') + 1) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
}  // namespace tarven::testing
