// The names of scratch files on Windows and the check that tells this program's own; see scratch.h
// (the POSIX side keeps the same rule in scratch.cpp).
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

// The check characters of a random part: FNV-1a over the key and the part, in base 62.
std::string CheckOf(std::string_view random) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : kCheckKey) hash = (hash ^ uint8_t(c)) * 0x100000001b3ull;
    for (const char c : random) hash = (hash ^ uint8_t(c)) * 0x100000001b3ull;
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


// A name this program gives (where no mark can be set, the only sign of its own files).
bool HasOwnScratchCheck(const std::string& fileName) {
    return fileName.size() == kNameLength && IsScratchName(fileName) &&
           fileName.compare(kPrefixLength + kRandomLength, kCheckLength,
                            CheckOf(std::string_view(fileName).substr(kPrefixLength, kRandomLength))) == 0;
}

}  // namespace detail

namespace {

// A name of the plain form (prefix and six letters or digits).
bool IsPlainName(const std::string& fileName) {
    if (fileName.size() != kNameLength) return false;
    if (fileName.compare(0, kPrefixLength, kScratchPrefix) != 0) return false;
    for (size_t i = kPrefixLength; i < fileName.size(); ++i)
        if (!IsAlnum(fileName[i])) return false;
    return true;
}

// A run's file that POSIX makes (an anchor's name, '-', a counter and a check): never made here, but a
// folder may come from there, and such a name is never backed up either.
bool IsRunName(const std::string& fileName) {
    constexpr size_t kRunNameMin = kNameLength + 1 + 1 + kCheckLength;
    constexpr size_t kRunNameMax = kNameLength + 1 + 11 + kCheckLength;
    if (fileName.size() < kRunNameMin || fileName.size() > kRunNameMax) return false;
    if (!IsPlainName(fileName.substr(0, kNameLength)) || fileName[kNameLength] != '-') return false;
    for (size_t i = kNameLength + 1; i < fileName.size(); ++i)
        if (!IsAlnum(fileName[i])) return false;
    return true;
}

}  // namespace

bool IsScratchName(const std::string& fileName) { return IsPlainName(fileName) || IsRunName(fileName); }

}  // namespace archive::fs
