// The archive names; see backup_names.h.
#include "app/commands/backup_names.h"

#include <chrono>
#include <cstdio>

namespace app {

namespace {

constexpr std::string_view kZip = ".zip";
constexpr int kDigits = 14;

// Seconds since 1970-01-01 00:00:00 of the same calendar (the zone does not matter: both sides of a
// comparison are local times).
long long Seconds(const NameTime& t) {
    using namespace std::chrono;
    const sys_days day{year{t.year} / month{unsigned(t.month)} / std::chrono::day{unsigned(t.day)}};
    return day.time_since_epoch().count() * 86400LL + t.hour * 3600LL + t.minute * 60LL + t.second;
}

bool Valid(const NameTime& t) {
    using namespace std::chrono;
    const year_month_day date{year{t.year}, month{unsigned(t.month)}, day{unsigned(t.day)}};
    return date.ok() && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

std::optional<NameTime> TimeOf(std::string_view digits) {
    if (digits.size() != kDigits) return std::nullopt;
    for (const char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    const auto number = [&](size_t at, size_t count) {
        int n = 0;
        for (size_t i = at; i < at + count; ++i) n = n * 10 + (digits[i] - '0');
        return n;
    };
    const NameTime t{number(0, 4), number(4, 2), number(6, 2), number(8, 2), number(10, 2), number(12, 2)};
    if (!Valid(t)) return std::nullopt;
    return t;
}

}  // namespace

std::optional<ArchiveName> ParseArchiveName(std::string_view fileName) {
    for (const auto& [prefix, kind] : {std::pair{std::string_view(kBackupPrefix), ArchiveKind::Backup},
                                       std::pair{std::string_view(kSafetyBackupPrefix), ArchiveKind::SafetyBackup}}) {
        if (fileName.size() != prefix.size() + kDigits + kZip.size()) continue;
        if (!fileName.starts_with(prefix) || !fileName.ends_with(kZip)) continue;
        if (const auto time = TimeOf(fileName.substr(prefix.size(), kDigits))) return ArchiveName{kind, *time};
    }
    return std::nullopt;
}

bool IsBackupName(std::string_view fileName) {
    const auto name = ParseArchiveName(fileName);
    return name && name->kind == ArchiveKind::Backup;
}

bool IsSafetyBackupName(std::string_view fileName) {
    const auto name = ParseArchiveName(fileName);
    return name && name->kind == ArchiveKind::SafetyBackup;
}

std::string ArchiveFileName(ArchiveKind kind, const NameTime& t) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return std::string(kind == ArchiveKind::Backup ? kBackupPrefix : kSafetyBackupPrefix) + digits + std::string(kZip);
}

bool IsFarFuture(const NameTime& time, const NameTime& now) { return Seconds(time) > Seconds(now) + 86400; }

NameTime AddSeconds(const NameTime& t, long long seconds) {
    using namespace std::chrono;
    const long long total = Seconds(t) + seconds;
    long long days = total / 86400, rest = total % 86400;
    if (rest < 0) rest += 86400, --days;
    const year_month_day date{sys_days{std::chrono::days{days}}};
    return {int(date.year()), int(unsigned(date.month())), int(unsigned(date.day())), int(rest / 3600),
            int(rest / 60 % 60), int(rest % 60)};
}

std::string TimeText(const NameTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

}  // namespace app
