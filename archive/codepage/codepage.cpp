// CP437 <-> UTF-8 and the choice between them for stored names.
//
// Names without flag bit 11 are in the system's OEM code page. Where the system has one (Windows: 437 in
// the United States, 850 in Western Europe, 866 in Russia...), names that fit it are stored in it and
// read with it, as every other program of that system does; elsewhere it is CP437, the page other ZIP
// tools assume, and names that fit it are stored in it so that every tool shows them alike. The upper half maps through kCp437High; the lower half is
// ASCII (the graphic forms of 0x01-0x1F and 0x7F are a display convention, not what names mean).
// Reverse lookups search the 128-entry table: names are short and this is not on any hot path.
//
// UTF-8 is decoded strictly (no overlong forms, no surrogates, nothing above U+10FFFF): a name that is
// not valid UTF-8 is not taken for text. Such a name (a file created under a single-byte locale) is
// stored byte for byte without bit 11, so every reader sees its CP437 reading and RoundTrip can say
// exactly which name a reader will see.
#include "archive/codepage/codepage.h"

#include <array>
#include <cstdint>
#include <optional>

#include "archive/fs/fs.h"

namespace archive::codepage {

namespace {

// Unicode code points of CP437 bytes 0x80-0xFF.
constexpr char32_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[i]; advances i. Returns kInvalid (advancing one byte) when the bytes
// there are not a well-formed sequence.
char32_t DecodeOne(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return kInvalid;
    }
    if (i + static_cast<size_t>(length) > text.size()) {
        ++i;
        return kInvalid;
    }
    for (int k = 1; k < length; ++k) {
        const uint8_t b = byte(i + static_cast<size_t>(k));
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kInvalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kInvalid;
    }
    i += static_cast<size_t>(length);
    return cp;
}

// The byte of a code point in the single-byte page whose upper half is `high`, or -1.
int ToSingleByte(const char32_t* high, char32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    if (cp == 0xFFFD) return -1;  // stands for the bytes the page leaves undefined
    for (int k = 0; k < 128; ++k)
        if (high[k] == cp) return 0x80 + k;
    return -1;
}

// The upper half of the OEM code page of stored names: the system's, else CP437.
const char32_t* OemHigh() {
    static const std::optional<std::array<char32_t, 128>> system = fs::OemCodePageHigh();
    return system ? system->data() : kCp437High;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        // Every character of a single-byte page lies in the basic plane.
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();)
        if (DecodeOne(text, i) == kInvalid) return false;
    return true;
}

bool Fits(const char32_t* high, std::string_view utf8) {
    for (size_t i = 0; i < utf8.size();) {
        const char32_t cp = DecodeOne(utf8, i);
        if (cp == kInvalid || ToSingleByte(high, cp) < 0) return false;
    }
    return true;
}

std::string FromUtf8(const char32_t* high, std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const char32_t cp = DecodeOne(utf8, i);
        const int b = cp == kInvalid ? -1 : ToSingleByte(high, cp);
        out += b < 0 ? '?' : static_cast<char>(b);
    }
    return out;
}

std::string ToUtf8(const char32_t* high, std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        AppendUtf8(out, b < 0x80 ? char32_t{b} : high[b - 0x80]);
    }
    return out;
}

}  // namespace

bool FitsCp437(std::string_view utf8) { return Fits(kCp437High, utf8); }

std::string Utf8ToCp437(std::string_view utf8) { return FromUtf8(kCp437High, utf8); }

std::string Cp437ToUtf8(std::string_view cp437) { return ToUtf8(kCp437High, cp437); }

std::string ToArchive(std::string_view name, bool forceUtf8, bool& utf8) {
    if (!forceUtf8) {
        if (Fits(OemHigh(), name)) {
            utf8 = false;
            return FromUtf8(OemHigh(), name);
        }
        if (!IsValidUtf8(name)) {
            // Not text in any encoding we know: the bytes as they are, read in the OEM code page.
            utf8 = false;
            return std::string(name);
        }
    }
    utf8 = true;
    return std::string(name);
}

std::string FromArchive(std::string_view stored, bool utf8) {
    if (utf8) return std::string(stored);
    return ToUtf8(OemHigh(), stored);
}

std::string RoundTrip(std::string_view name) {
    if (IsValidUtf8(name)) return std::string(name);
    return ToUtf8(OemHigh(), name);
}

}  // namespace archive::codepage
