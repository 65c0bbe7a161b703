// Name conversion between the file system (UTF-8 in memory) and the archive.
//
// Names stored without the entry's general-purpose bit 11 are in the OEM code page: the system's where
// it has one (Windows: 437, 850, 866...), else code page 437, the page other ZIP tools assume. A name
// whose characters all exist in that page is stored in it, ASCII names byte for byte, so every other
// ZIP tool shows it; any other name is stored as UTF-8 and bit 11 says so. Reading honours bit 11 and
// otherwise decodes the page. Its bytes 0x00-0x7F are ASCII both ways, so a round trip gives back every
// byte it was given. Bytes that are not valid UTF-8 in a name marked UTF-8 are kept as they are. A name
// that is not valid UTF-8 at all (made under a single-byte locale) is stored as it is without bit 11: a
// reader that checks bit 11 would refuse it as UTF-8, while in the page every tool reads it, and
// RoundTrip gives that reading.
#pragma once

#include <string>
#include <string_view>

namespace archive::codepage {

constexpr unsigned kUtf8NameFlag = 0x0800;  // general-purpose bit 11

// True when every character of the UTF-8 text exists in CP437 (invalid UTF-8 counts as not).
bool FitsCp437(std::string_view utf8);
// CP437 bytes of a UTF-8 text that fits (characters that do not fit become '?').
std::string Utf8ToCp437(std::string_view utf8);
// UTF-8 text of CP437 bytes.
std::string Cp437ToUtf8(std::string_view cp437);

// The bytes to store for a name: the OEM page's when it fits and forceUtf8 is false, else the UTF-8 bytes;
// `utf8` tells which was chosen. Without forceUtf8, FromArchive(ToArchive(x)) == RoundTrip(x) for every x.
std::string ToArchive(std::string_view name, bool forceUtf8, bool& utf8);
// The in-memory name of stored bytes.
std::string FromArchive(std::string_view stored, bool utf8);

// What a name becomes after a trip into the archive and back (the writer stores the name that a reader
// will see). Valid UTF-8 comes back unchanged; other bytes come back as their reading in the OEM page.
std::string RoundTrip(std::string_view name);

}  // namespace archive::codepage
