// The names of scratch files and the checks that tell this program's own, on every system; see
// scratch.h. A plain name is the prefix, three random letters or digits and their check; a run's file
// (POSIX extraction runs) is its anchor's plain name, '-', a counter and a check over both.
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "archive/fs/fs_detail.h"
#include "archive/fs/scratch.h"

namespace archive::fs {

namespace {

constexpr size_t kPrefixLength = sizeof(kScratchPrefix) - 1;
constexpr size_t kRandomLength = 3;
constexpr size_t kCheckLength = 3;
constexpr size_t kNameLength = kPrefixLength + kRandomLength + kCheckLength;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr uint64_t kAlphabetSize = sizeof(kAlphabet) - 1;

constexpr std::string_view kCheckKey = "ZORVEL_Backup scratch file";

// A run's file: an anchor's name, the separator, a counter (at least one character) and the check.
constexpr char kRunSeparator = '-';
constexpr size_t kRunNameMin = kNameLength + 1 + 1 + kCheckLength;
constexpr size_t kRunNameMax = kNameLength + 1 + 11 + kCheckLength;  // a 64-bit counter in base 62

// The check characters of a part: FNV-1a over the key and the part, in base 62.
std::string CheckOf(std::string_view part) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : kCheckKey) hash = (hash ^ uint8_t(c)) * 0x100000001b3ull;
    for (const char c : part) hash = (hash ^ uint8_t(c)) * 0x100000001b3ull;
    std::string check(kCheckLength, 'X');
    for (char& c : check) {
        c = kAlphabet[hash % kAlphabetSize];
        hash /= kAlphabetSize;
    }
    return check;
}

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

namespace detail {

// A new name: the prefix, three characters from a generator seeded once per thread, and their check.
std::string NewScratchName() {
    thread_local std::mt19937_64 generator{std::random_device{}() ^
                                           (uint64_t(std::hash<std::thread::id>{}(std::this_thread::get_id())) << 16) ^
                                           uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())};
    std::string random(kRandomLength, 'X');
    for (char& c : random) c = kAlphabet[generator() % kAlphabetSize];
    return kScratchPrefix + random + CheckOf(random);
}

bool IsPlainScratchName(const std::string& fileName) {
    if (fileName.size() != kNameLength) return false;
    if (fileName.compare(0, kPrefixLength, kScratchPrefix) != 0) return false;
    for (size_t i = kPrefixLength; i < fileName.size(); ++i)
        if (!IsAlnum(fileName[i])) return false;
    return true;
}

bool IsRunScratchName(const std::string& fileName) {
    if (fileName.size() < kRunNameMin || fileName.size() > kRunNameMax) return false;
    if (!IsPlainScratchName(fileName.substr(0, kNameLength)) || fileName[kNameLength] != kRunSeparator) return false;
    for (size_t i = kNameLength + 1; i < fileName.size(); ++i)
        if (!IsAlnum(fileName[i])) return false;
    return true;
}

bool HasOwnScratchCheck(const std::string& fileName) {
    return IsPlainScratchName(fileName) &&
           fileName.compare(kPrefixLength + kRandomLength, kCheckLength,
                            CheckOf(std::string_view(fileName).substr(kPrefixLength, kRandomLength))) == 0;
}

// The check of a run's file is over everything between the prefix and the check.
std::string RunFileName(const std::string& anchor, uint64_t counter) {
    std::string name = anchor + kRunSeparator;
    do {
        name += kAlphabet[counter % kAlphabetSize];
        counter /= kAlphabetSize;
    } while (counter > 0);
    return name + CheckOf(std::string_view(name).substr(kPrefixLength));
}

bool RunFileCheckHolds(const std::string& fileName) {
    return IsRunScratchName(fileName) &&
           fileName.compare(fileName.size() - kCheckLength, kCheckLength,
                            CheckOf(std::string_view(fileName).substr(
                                kPrefixLength, fileName.size() - kPrefixLength - kCheckLength))) == 0;
}

std::string RunAnchorOf(const std::string& runFileName) { return runFileName.substr(0, kNameLength); }

}  // namespace detail

bool IsScratchName(const std::string& fileName) {
    return detail::IsPlainScratchName(fileName) || detail::IsRunScratchName(fileName);
}

}  // namespace archive::fs
