#include "archive/records/date_time.h"

#include <chrono>
#include <ctime>

#include "archive/fs/file_io.h"

namespace archive {

namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

constexpr int64_t kDelphiEpochFromUnix = 25569;  // days from 1899-12-30 to 1970-01-01

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
    const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                         kDelphiEpochFromUnix;
    const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    // Before the epoch the fraction still counts forward from midnight of that day (as the origin does).
    out = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
    return true;
}

DateTimeParts DecodeDateTime(TDateTime value) {
    DateTimeParts p{};
    double whole = value >= 0 ? static_cast<double>(static_cast<int64_t>(value))
                              : -static_cast<double>(static_cast<int64_t>(-value));
    double fraction = value - whole;
    if (fraction < 0) fraction = -fraction;
    int64_t ms = static_cast<int64_t>(fraction * 86400000.0 + 0.5);
    int64_t days = static_cast<int64_t>(whole);
    if (ms >= 86400000) {
        ms -= 86400000;
        days += value >= 0 ? 1 : -1;
    }
    CivilFromDays(days - kDelphiEpochFromUnix, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    return p;
}

bool DosToDateTime(uint32_t dos, TDateTime& out) {
    const int second = static_cast<int>(dos & 0x1F) * 2;
    const int minute = static_cast<int>((dos >> 5) & 0x3F);
    const int hour = static_cast<int>((dos >> 11) & 0x1F);
    const int day = static_cast<int>((dos >> 16) & 0x1F);
    const int month = static_cast<int>((dos >> 21) & 0x0F);
    const int year = static_cast<int>((dos >> 25) & 0x7F) + 1980;
    return TryEncodeDateTime(year, month, day, hour, minute, second, out);
}

uint32_t DateTimeToDos(TDateTime value) {
    DateTimeParts p = DecodeDateTime(value);
    if (p.year < 1980) return (1u << 21) | (1u << 16);
    if (p.year > 2107) p.year = 2107;
    return (static_cast<uint32_t>(p.year - 1980) << 25) | (static_cast<uint32_t>(p.month) << 21) |
           (static_cast<uint32_t>(p.day) << 16) | (static_cast<uint32_t>(p.hour) << 11) |
           (static_cast<uint32_t>(p.minute) << 5) | static_cast<uint32_t>(p.second / 2);
}

uint32_t NormalizeDosDateTime(uint32_t dos) {
    unsigned second = (dos & 0x1F) * 2;
    unsigned minute = (dos >> 5) & 0x3F;
    unsigned hour = (dos >> 11) & 0x1F;
    unsigned day = (dos >> 16) & 0x1F;
    unsigned month = (dos >> 21) & 0x0F;
    unsigned year = ((dos >> 25) & 0x7F) + 1980;
    bool clamped = false;
    auto clampAbove = [&clamped](unsigned& v, unsigned limit) {
        if (v > limit) {
            v = limit;
            clamped = true;
        }
    };
    clampAbove(hour, 23);
    clampAbove(minute, 59);
    clampAbove(second, 59);
    clampAbove(year, 2099);
    clampAbove(month, 12);
    if (month == 0) {
        month = 1;
        clamped = true;
    }
    if (day == 0) {
        day = 1;
        clamped = true;
    }
    if (!clamped) return dos;
    return ((year - 1980) << 25) | (month << 21) | (day << 16) | (hour << 11) | (minute << 5) | (second / 2);
}

TDateTime Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    fs::LocalTime(seconds, local);
    TDateTime out = 0;
    TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec > 59 ? 59 : local.tm_sec, out);
    return out + static_cast<double>(ms < 0 ? 0 : ms) / 86400000.0;
}

int PercentOf(int64_t part, int64_t whole) {
    if (whole <= 0) return 0;
    if (part <= 0) return 0;
    // part * 100 fits: sizes here stay far below 2^56.
    const int64_t scaled = part * 100;
    int64_t q = scaled / whole;
    const int64_t r = scaled % whole;
    if (2 * r > whole || (2 * r == whole && (q & 1))) ++q;
    return q > 100 ? 100 : static_cast<int>(q);
}

}  // namespace archive
