#pragma once
// The console: whether a standard stream is a terminal a person reads, the command line's words
// in UTF-8, and a console that shows UTF-8 text (the programs write Russian in UTF-8).

#include <string>
#include <vector>

namespace tarven::platform {

enum class StandardStream { Input, Output, Error };

// True when the stream is a terminal (a console window on Windows), not a file or a pipe.
bool IsTerminal(StandardStream stream);

// The program's arguments after its own name, in UTF-8 whatever the system's code page.
std::vector<std::string> CommandLineWords(int argc, char** argv);

// Makes the console, where there is one, show the UTF-8 the program writes. Nothing to do where
// terminals take UTF-8 as they are.
void UseUtf8Console();

}  // namespace tarven::platform
