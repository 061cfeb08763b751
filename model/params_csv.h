#pragma once
// The electroautomatics parameters as a CSV file: a header line "number,value", then one
// NUMBER,VALUE line a parameter (1..255, a signed 32-bit value), as tarvenctl exports them and a
// spreadsheet saves them again (fields may be quoted, lines may end in CR LF, a byte-order mark
// may lead).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarven::model {

inline constexpr const char* kParamsCsvHeader = "number,value";

// The fields of one line as RFC 4180 has them. False when a quote is out of place.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields);

// How a line is quoted in a message (a front end may shorten it).
using Excerpt = std::function<std::string(std::string_view line)>;

// Reads the file's text into `values` (number to value). Every line is checked: false with
// "line N: reason" in `why` for the first bad one, and then `values` may hold the lines before it.
bool ParseParamsCsv(std::string_view text, std::map<std::size_t, std::int32_t>& values,
                    std::string& why,
                    const Excerpt& excerpt = [](std::string_view line) { return std::string(line); });

// The file's text for `values`, in ascending number order.
std::string ParamsCsvText(const std::map<std::size_t, std::int32_t>& values);

}  // namespace tarven::model
