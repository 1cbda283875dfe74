// Shared by the POSIX file services and the enumeration.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace zipkit::host {

// DOS attributes of an entry named Name with the status St.
int32_t AttrFromStat(const std::string& Name, const struct stat& St);
// The DOS stamp of a system time, in local time (0 outside 1980 to 2099).
uint32_t DosStampOf(std::time_t When);

}  // namespace zipkit::host
