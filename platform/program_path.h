#pragma once
// Where this program's executable is, to find the files installed beside it.

#include <string>

namespace tarven::platform {

// The full path of the running executable in UTF-8; empty when the system does not tell.
std::string ThisProgramPath();

}  // namespace tarven::platform
