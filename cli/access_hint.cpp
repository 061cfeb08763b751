#include "cli/access_hint.h"

#include <cstdlib>

#include "storage/file_io.h"

namespace tarven::cli {
namespace {

const char* const kRulePlaces[] = {"/usr/lib/udev/rules.d/70-tarven.rules",
                                   "/etc/udev/rules.d/70-tarven.rules"};

constexpr const char* kApply =
    "    udevadm control --reload && udevadm trigger --subsystem-match=hidraw\n";

std::string UserName() {
  const char* user = std::getenv("USER");
  return user != nullptr && *user != '\0' ? user : "USER";
}

}  // namespace

std::string AccessHint(const std::vector<std::string>& installed_rules) {
  std::vector<std::string> places(installed_rules);
  if (places.empty()) places.assign(std::begin(kRulePlaces), std::end(kRulePlaces));
  std::string installed;
  for (const std::string& place : places) {
    if (storage::PathExists(place)) {
      installed = place;
      break;
    }
  }
  std::string hint;
  if (installed.empty()) {
    hint += "  The udev rule that lets you open the module is not installed. As root:\n";
    hint += std::string("    echo '") + kUdevRuleLine + "' > /etc/udev/rules.d/70-tarven.rules\n";
    hint += kApply;
  } else {
    hint += "  The udev rule " + installed +
            " gives access to the user at the computer's seat; apply it to the module plugged in"
            " now, as root:\n";
    hint += kApply;
  }
  hint += "  or unplug the module and plug it in again.\n";
  hint += "  From an ssh session or a service account, give a group access instead, as root:\n";
  hint += R"(    echo 'SUBSYSTEM=="hidraw", ATTRS{idVendor}=="03eb", ATTRS{idProduct}=="6202", )"
          R"(GROUP="plugdev", MODE="0660"' > /etc/udev/rules.d/71-tarven-group.rules)"
          "\n";
  hint += "    usermod -aG plugdev " + UserName() + "\n";
  hint += kApply;
  hint += "  and log in again.\n";
  return hint;
}

}  // namespace tarven::cli
