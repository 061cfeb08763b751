#include <unistd.h>

#include "platform/console.h"

namespace tarven::platform {

bool IsTerminal(StandardStream stream) {
  const int fd = stream == StandardStream::Input    ? STDIN_FILENO
                 : stream == StandardStream::Output ? STDOUT_FILENO
                                                    : STDERR_FILENO;
  return ::isatty(fd) == 1;
}

// The words as the system passed them: UTF-8 under a UTF-8 locale, bytes as they are otherwise.
std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8Console() {}

}  // namespace tarven::platform
