// MS-DOS date and time of files, in local time.
//
// An MS-DOS value is one 32-bit word, date in the high half (bits 15-9 year - 1980, 8-5 month, 4-0 day)
// and time in the low half (bits 15-11 hour, 10-5 minute, 4-0 seconds / 2). It carries no zone: it is
// the wall-clock time where the file was written, so conversion goes through the local time and mktime()
// with the daylight-saving flag left to mktime (tm_isdst = -1), which picks the offset that was in
// force on that date rather than today's.
//
// Range: the word reaches from 1980-01-01 00:00:00 to 2107-12-31 23:59:58. Earlier times give the
// first value and later ones the last, so that a year never wraps into the 7-bit field. Odd seconds
// are rounded down to even; sub-second parts are dropped. Setting a time writes the modification time
// only, leaving the access time as it was (posix/, win32/).
#include <ctime>

#include "archive/fs/fs.h"
#include "archive/fs/file_io.h"

namespace archive::fs {

namespace {

constexpr uint32_t kFirstDos = (0u << 25) | (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
constexpr uint32_t kLastDos = (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;

}  // namespace

uint32_t DosFromTime(std::time_t t) {
    std::tm tm{};
    if (!LocalTime(t, tm)) return t < 0 ? kFirstDos : kLastDos;
    const int year = tm.tm_year + 1900;
    if (year < 1980) return kFirstDos;
    if (year > 2107) return kLastDos;
    // A leap second (tm_sec 60) is the last even second of its minute.
    const int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    const uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    const uint32_t time = static_cast<uint32_t>(tm.tm_hour << 11 | tm.tm_min << 5 | sec / 2);
    return date << 16 | time;
}

std::time_t TimeFromDos(uint32_t dosDateTime) {
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    std::tm tm{};
    tm.tm_year = static_cast<int>(date >> 9) + 80;
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_hour = static_cast<int>(time >> 11);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(time & 0x1F) * 2;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::optional<uint32_t> GetFileDosTime(const std::string& path) {
    const auto t = GetFileTime(path);
    if (!t) return std::nullopt;
    return DosFromTime(*t);
}

}  // namespace archive::fs
