// The parameters' CSV import takes any bytes: a file it accepts holds only parameters 1..255,
// and what it read, written out again and read back, is the same; a refused file is named by line.
// A CSV line split into fields, quoted again field by field, splits into the same fields.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/params_csv.h"

namespace {

std::string Quoted(const std::string& field) {
  std::string out = "\"";
  for (const char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::map<std::size_t, std::int32_t> values;
  std::string why;
  if (tarven::model::ParseParamsCsv(text, values, why)) {
    for (const auto& [number, value] : values) {
      if (number < 1 || number > 255) std::abort();
    }
    std::map<std::size_t, std::int32_t> again;
    std::string why_again;
    if (!tarven::model::ParseParamsCsv(tarven::model::ParamsCsvText(values), again, why_again)) {
      std::abort();
    }
    if (again != values) std::abort();
  } else if (why.rfind("line ", 0) != 0 && why != "the file is empty") {
    std::abort();
  }

  const std::string_view line = text.substr(0, text.find('\n'));
  std::vector<std::string> fields;
  if (tarven::model::SplitCsvLine(line, fields)) {
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) joined += (i ? "," : "") + Quoted(fields[i]);
    std::vector<std::string> split_again;
    if (!tarven::model::SplitCsvLine(joined, split_again) || split_again != fields) std::abort();
  }
  return 0;
}
