// The value of a stored value: a small tagged variant.
//
// A value is unassigned (a new item), null (what reading an unknown name gives), text, or a scalar
// (integer, floating point, boolean) that converts to text. Only text ever comes back from the store, so
// after a restore every stored value is text whatever it held at design time. Conversion to text gives
// the empty text for unassigned and null, decimal for integers and "True"/"False" for booleans.
#pragma once

#include <QString>

#include <cstdint>
#include <variant>

namespace ui {

class Variant {
public:
    enum class Kind { Unassigned, Null, Text, Integer, Float, Boolean };

    Variant() = default;  // unassigned
    Variant(const QString& text) : value_(text) {}
    Variant(const char* text) : value_(QString::fromUtf8(text)) {}
    Variant(int v) : value_(int64_t{v}) {}
    Variant(int64_t v) : value_(v) {}
    Variant(double v) : value_(v) {}
    Variant(bool v) : value_(v) {}

    static Variant Null() {
        Variant v;
        v.value_ = NullTag{};
        return v;
    }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool IsUnassigned() const { return kind() == Kind::Unassigned; }
    bool IsNull() const { return kind() == Kind::Null; }
    bool IsText() const { return kind() == Kind::Text; }

    QString ToString() const;

    bool operator==(const Variant& other) const = default;

private:
    struct UnassignedTag {
        bool operator==(const UnassignedTag&) const = default;
    };
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };
    // The order of the alternatives follows Kind.
    std::variant<UnassignedTag, NullTag, QString, int64_t, double, bool> value_;
};

}  // namespace ui
