// MS-DOS date and time of a host file's last change, in local time: date in
// the high 16 bits ((year - 1980) << 9 | month << 5 | day), time in the low
// 16 (hour << 11 | minute << 5 | seconds / 2). Times outside 1980..2107 are
// clamped to the nearest representable one.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

uint32_t DosDateTimeOf(std::time_t time);
// The same in UTC, for times that stand for no local clock (SOURCE_DATE_EPOCH).
uint32_t DosDateTimeOfUtc(std::time_t time);

// The time SOURCE_DATE_EPOCH fixes for every entry of a build, if it is set;
// false with the variable set to anything but a decimal count of seconds.
bool SourceDateEpoch(std::optional<std::time_t>* time);

// The modification time of a host file; false when it cannot be read.
bool ModificationTime(const std::string& path, std::time_t* time);
