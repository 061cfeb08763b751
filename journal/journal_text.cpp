// The journal's words for time and place, the same whether or not the build keeps a journal.
#include <cctype>
#include <chrono>
#include <ctime>
#include <optional>
#include <string>

#include "journal/journal.h"
#include "journal/user_place.h"
#include "platform/local_time.h"

namespace tarven::journal {

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const std::tm utc = platform::UtcTime(now);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::optional<std::string> SinceText(const std::string& text) {
  // YYYY-MM-DD, then optionally T or a blank, HH:MM, :SS, Z.
  static constexpr const char* kShape = "dddd-dd-ddTdd:dd:ddZ";
  std::string normal;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i >= 20) return std::nullopt;
    const char want = kShape[i];
    const char c = text[i];
    if (want == 'd') {
      if (std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
    } else if (want == 'T') {
      if (c != 'T' && c != ' ') return std::nullopt;
      normal += 'T';
      continue;
    } else if (c != want) {
      return std::nullopt;
    }
    normal += c;
  }
  const std::size_t n = normal.size();
  // Whole fields only: the date, the minutes, the seconds, the zone.
  if (n != 10 && n != 16 && n != 19 && n != 20) return std::nullopt;
  const int month = std::stoi(normal.substr(5, 2));
  const int day = std::stoi(normal.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  if (n >= 16 && (std::stoi(normal.substr(11, 2)) > 23 || std::stoi(normal.substr(14, 2)) > 59)) {
    return std::nullopt;
  }
  if (n >= 19 && std::stoi(normal.substr(17, 2)) > 60) return std::nullopt;
  return normal;
}

std::string DefaultJournalPath() {
  const std::string folder = UserDataFolder();
  if (folder.empty()) return {};
  return folder + "/tarven/journal.sqlite";
}

}  // namespace tarven::journal
