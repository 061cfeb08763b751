// The C runtime's localtime_s and gmtime_s; the offset is the difference between the two
// readings of one moment, since the runtime's strftime("%z") gives nothing.
#include "platform/local_time.h"

namespace tarven::platform {

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  ::localtime_s(&local, &moment);
  return local;
}

std::tm UtcTime(std::time_t moment) {
  std::tm utc{};
  ::gmtime_s(&utc, &moment);
  return utc;
}

std::string UtcOffsetText(std::time_t moment) {
  std::tm local = LocalTime(moment);
  std::tm utc = UtcTime(moment);
  // Both readings taken as if they were UTC: their difference is the offset.
  const std::time_t local_as_utc = ::_mkgmtime(&local);
  const std::time_t utc_as_utc = ::_mkgmtime(&utc);
  if (local_as_utc == -1 || utc_as_utc == -1) return "+0000";
  return OffsetText(static_cast<long>(local_as_utc - utc_as_utc));
}

}  // namespace tarven::platform
