// Host file times as MS-DOS date and time.
#include "DosTime.h"

#include <sys/stat.h>

#include <cstdlib>

namespace {

uint32_t DosDateTimeOfFields(const std::tm& local)
{
    const int year = local.tm_year + 1900;
    if (year < 1980)
        return (0u << 9 | 1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    if (year > 2107)
        return (127u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u);
    const uint32_t date = static_cast<uint32_t>(year - 1980) << 9 | static_cast<uint32_t>(local.tm_mon + 1) << 5 |
                          static_cast<uint32_t>(local.tm_mday);
    // A leap second (60) counts as 59.
    const int seconds = local.tm_sec > 59 ? 59 : local.tm_sec;
    const uint32_t clock = static_cast<uint32_t>(local.tm_hour) << 11 | static_cast<uint32_t>(local.tm_min) << 5 |
                           static_cast<uint32_t>(seconds / 2);
    return date << 16 | clock;
}

} // namespace

uint32_t DosDateTimeOf(std::time_t time)
{
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &time);
#else
    localtime_r(&time, &local);
#endif
    return DosDateTimeOfFields(local);
}

uint32_t DosDateTimeOfUtc(std::time_t time)
{
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &time);
#else
    gmtime_r(&time, &utc);
#endif
    return DosDateTimeOfFields(utc);
}

bool SourceDateEpoch(std::optional<std::time_t>* time)
{
    time->reset();
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0')
        return true;
    long long seconds = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || seconds > 999999999999LL)
            return false;
        seconds = seconds * 10 + (*p - '0');
    }
    *time = static_cast<std::time_t>(seconds);
    return true;
}

bool ModificationTime(const std::string& path, std::time_t* time)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    *time = info.st_mtime;
    return true;
}
