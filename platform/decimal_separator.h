#pragma once
// The decimal separator the user's regional settings choose, for numbers shown to a person.

#include <string>

namespace tarven::platform {

// "," or "." (or whatever the settings name); "." when they say nothing.
std::string UserDecimalSeparator();

}  // namespace tarven::platform
