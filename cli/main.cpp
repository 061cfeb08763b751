#include <iostream>
#include <string>
#include <vector>

#include "cli/tarvenctl.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return tarven::cli::Run(args, std::cout, std::cerr);
}
