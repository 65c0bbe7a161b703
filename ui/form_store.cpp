// Typed access to a form store and the integer rule for stored texts.
#include "ui/form_store.h"

namespace ui {

QString ReadString(FormStore& store, const QString& section, const QString& name, const QString& def) {
    std::optional<QString> text = store.ReadValue(section, name);
    return text ? *text : def;
}

int ReadInteger(FormStore& store, const QString& section, const QString& name, int def) {
    std::optional<QString> text = store.ReadValue(section, name);
    if (!text) return def;
    return ParseInteger(*text).value_or(def);
}

void WriteString(FormStore& store, const QString& section, const QString& name, const QString& text) {
    store.WriteValue(section, name, text);
}

void WriteInteger(FormStore& store, const QString& section, const QString& name, int value) {
    store.WriteValue(section, name, QString::number(value));
}

void WriteBool(FormStore& store, const QString& section, const QString& name, bool value) {
    store.WriteValue(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

std::optional<int> ParseInteger(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' ')) ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
               (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n) return std::nullopt;
    int64_t value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (base == 16 && c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (base == 16 && c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > int64_t{0xFFFFFFFF}) return std::nullopt;
    }
    if (base == 10) {
        if (negative ? value > int64_t{2147483648} : value > int64_t{2147483647}) return std::nullopt;
        return static_cast<int>(negative ? -value : value);
    }
    // Hexadecimal spells the 32-bit pattern.
    const int v = static_cast<int>(static_cast<uint32_t>(value));
    return negative ? -v : v;
}

}  // namespace ui
