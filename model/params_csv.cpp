#include "model/params_csv.h"

#include "model/integer_text.h"

namespace tarven::model {

// The fields of one line of a CSV file as RFC 4180 has them: separated by commas; a field in
// double quotes may hold commas, and two quotes in it stand for one. False when a quote is out of
// place (inside an unquoted field, after a closing one, or never closed on the line).
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields) {
  fields.assign(1, std::string());
  enum { FieldStart, Plain, Quoted, AfterQuote } state = FieldStart;
  for (const char c : line) {
    switch (state) {
      case FieldStart:
      case Plain:
        if (c == ',') {
          fields.emplace_back();
          state = FieldStart;
        } else if (c == '"') {
          if (state == Plain) return false;
          state = Quoted;
        } else {
          fields.back() += c;
          state = Plain;
        }
        break;
      case Quoted:
        if (c == '"') {
          state = AfterQuote;
        } else {
          fields.back() += c;
        }
        break;
      case AfterQuote:
        if (c == '"') {
          fields.back() += '"';
          state = Quoted;
        } else if (c == ',') {
          fields.emplace_back();
          state = FieldStart;
        } else {
          return false;
        }
        break;
    }
  }
  return state != Quoted;
}

bool ParseParamsCsv(std::string_view text, std::map<std::size_t, std::int32_t>& values,
                   std::string& why, const Excerpt& excerpt) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a spreadsheet's mark
  std::size_t line_number = 0;
  bool header = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string at = "line " + std::to_string(line_number) + ": ";
    std::vector<std::string> fields;
    const bool split = SplitCsvLine(line, fields);
    if (!header) {
      if (!split || fields != std::vector<std::string>{"number", "value"}) {
        why = at + "the first line must be '" + kParamsCsvHeader + "'";
        return false;
      }
      header = true;
      continue;
    }
    if (line.empty()) continue;
    if (!split) {
      why = at + "'" + excerpt(line) + "': a quote out of place";
      return false;
    }
    const auto number = fields.size() == 2 ? ParseInteger(fields[0]) : std::nullopt;
    const auto value = fields.size() == 2 ? ParseInteger(fields[1]) : std::nullopt;
    if (!number || *number < 1 || *number > 255 || !value) {
      why = at + "'" + excerpt(line) +
            "' is not NUMBER,VALUE with a number 1..255 and a 32-bit value";
      return false;
    }
    if (!values.emplace(static_cast<std::size_t>(*number), *value).second) {
      why = at + "parameter " + std::to_string(*number) + " is given twice";
      return false;
    }
  }
  if (!header) {
    why = "the file is empty";
    return false;
  }
  return true;
}

std::string ParamsCsvText(const std::map<std::size_t, std::int32_t>& values) {
  std::string text = std::string(kParamsCsvHeader) + "\n";
  for (const auto& [number, value] : values) {
    text += std::to_string(number) + "," + std::to_string(value) + "\n";
  }
  return text;
}

}  // namespace tarven::model
