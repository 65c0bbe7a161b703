// The system's OEM code page, the page of names stored without the UTF-8 flag: the characters of its
// upper half, asked of the system once per byte. A byte the page leaves undefined gets U+FFFD. A page
// of more than one byte per character (the East Asian ones) is not taken: the engine keeps CP437 there.
#include "archive/fs/fs.h"
#include "archive/fs/win32/system.h"

namespace archive::fs {

std::optional<std::array<char32_t, 128>> OemCodePageHigh() {
    CPINFO info{};
    if (!GetCPInfo(CP_OEMCP, &info) || info.MaxCharSize != 1) return std::nullopt;
    std::array<char32_t, 128> high{};
    for (int k = 0; k < 128; ++k) {
        const char byte = static_cast<char>(0x80 + k);
        wchar_t wide = 0;
        const bool defined = MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1) == 1;
        high[k] = defined && (wide < 0xD800 || wide > 0xDFFF) ? char32_t{wide} : char32_t{0xFFFD};
    }
    return high;
}

}  // namespace archive::fs
