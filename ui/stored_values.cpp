// The stored-value collection and its unique names.
#include "ui/stored_values.h"

#include "ui/ui_errors.h"

namespace ui {

void TStoredValue::SetName(const QString& name) {
    // Renaming an item to its own name in another case is no collision.
    if (!name.isEmpty() && name.compare(name_, Qt::CaseInsensitive) != 0 && owner_ && owner_->IndexOf(name) >= 0)
        throw EStringListError(QStringLiteral("String list does not allow duplicates"));
    name_ = name;
}

TStoredValue& TStoredValues::Add() {
    items_.push_back(std::unique_ptr<TStoredValue>(new TStoredValue(this)));
    return *items_.back();
}

int TStoredValues::IndexOf(const QString& name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->name_.compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    return -1;
}

TStoredValue* TStoredValues::Find(const QString& name) {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}

}  // namespace ui
