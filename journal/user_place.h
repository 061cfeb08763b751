#pragma once
// What the journal needs to know of the user and the computer, one platform file each: who runs
// the program, on which computer, and where the user's own data lives.

#include <string>

namespace tarven::journal {

// The login name of the user running the program; "?" when the system does not tell.
std::string UserName();
// The computer's name; "?" when the system does not tell.
std::string ComputerName();
// The folder for the user's own data: $XDG_DATA_HOME, or ~/.local/share when it is unset or not
// an absolute path. Empty when neither is known.
std::string UserDataFolder();

// Where the journal lives unless a run names another file: UserDataFolder()/tarven/journal.sqlite.
// Empty when there is no data folder.
std::string DefaultJournalPath();

}  // namespace tarven::journal
