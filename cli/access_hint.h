#pragma once
// What to do when the module is there but cannot be opened: on Linux, almost always a hidraw node
// that only root may open because the udev rule is missing or not applied yet.

#include <string>
#include <vector>

namespace tarven::cli {

// The rule line that lets the user at the computer's seat open the module.
inline constexpr const char* kUdevRuleLine =
    R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="03eb", ATTRS{idProduct}=="6202", TAG+="uaccess")";

// Indented lines with the exact commands that give access, for the situation found: the rule not
// installed, or installed but not applied to the module plugged in (or the user not at the seat,
// as in an ssh session, where a group serves instead). `installed_rules` lists the rule files to
// look for; empty: the places the package and a hand installation use.
std::string AccessHint(const std::vector<std::string>& installed_rules = {});

}  // namespace tarven::cli
