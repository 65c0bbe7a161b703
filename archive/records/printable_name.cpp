#include "archive/records/printable_name.h"

#include <cstdint>

namespace archive {

namespace {

bool IsControlByte(uint8_t b) { return b < 0x20 || b == 0x7F; }

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence of two bytes or more at name[i] (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
size_t SequenceLength(std::string_view name, size_t i) {
    const auto at = [&](size_t k) { return static_cast<uint8_t>(name[i + k]); };
    const uint8_t b0 = at(0);
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > name.size() || at(1) < low || at(1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (!IsContinuation(at(k))) return 0;
    return length;
}

void AppendEscape(std::string& out, uint8_t b) {
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
}

}  // namespace

bool HoldsControlBytes(std::string_view name) {
    for (const char c : name)
        if (IsControlByte(static_cast<uint8_t>(c))) return true;
    return false;
}

std::string PrintableName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const auto b = static_cast<uint8_t>(name[i]);
        if (b < 0x80) {
            if (IsControlByte(b)) AppendEscape(out, b);
            else out += static_cast<char>(b);
            ++i;
            continue;
        }
        const size_t length = SequenceLength(name, i);
        // U+0080-U+009F is C2 80 - C2 9F; U+009B works as ESC [ on terminals that honour C1 controls.
        const bool c1 = length == 2 && b == 0xC2 && static_cast<uint8_t>(name[i + 1]) <= 0x9F;
        if (length == 0 || c1) {
            const size_t n = length == 0 ? 1 : length;
            for (size_t k = 0; k < n; ++k) AppendEscape(out, static_cast<uint8_t>(name[i + k]));
            i += n;
        } else {
            out.append(name.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace archive
