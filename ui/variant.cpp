// Conversion of a stored value to the text that the store keeps.
#include "ui/variant.h"

namespace ui {

QString Variant::ToString() const {
    switch (kind()) {
        case Kind::Unassigned:
        case Kind::Null:
            return QString();
        case Kind::Text:
            return std::get<QString>(value_);
        case Kind::Integer:
            return QString::number(std::get<int64_t>(value_));
        case Kind::Float:
            return QString::number(std::get<double>(value_), 'g', 15);
        case Kind::Boolean:
            return std::get<bool>(value_) ? QStringLiteral("True") : QStringLiteral("False");
    }
    return QString();
}

}  // namespace ui
