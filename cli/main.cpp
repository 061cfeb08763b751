#include <iostream>
#include <string>
#include <vector>

#include "cli/tarvenctl.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  tarven::platform::UseUtf8Console();
  const std::vector<std::string> args = tarven::platform::CommandLineWords(argc, argv);
  return tarven::cli::Run(args, std::cout, std::cerr);
}
