// TStoredValues: the named values a form keeps in the form store.
//
// An owned collection of TStoredValue in insertion order. Names are unique ignoring case; giving an item
// a name that another item already has raises "String list does not allow duplicates" and leaves the
// name unchanged. The form's code reads and writes the values in memory only; the store carries them to
// and from the store's section at save and restore (form_storage.h).
#pragma once

#include "ui/variant.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace ui {

class TStoredValues;

class TStoredValue {
public:
    using TStoredValueEvent = std::function<void(TStoredValue& sender, Variant& value)>;

    QString Name() const { return name_; }
    void SetName(const QString& name);
    QString DisplayName() const { return name_; }
    const Variant& Value() const { return value_; }
    void SetValue(const Variant& value) { value_ = value; }

    // Before writing, with a modifiable copy of the value.
    TStoredValueEvent OnSave;
    // After reading, with the modifiable value just read (text).
    TStoredValueEvent OnRestore;

private:
    friend class TStoredValues;
    explicit TStoredValue(TStoredValues* owner) : owner_(owner) {}

    TStoredValues* owner_;
    QString name_;
    Variant value_;  // a new item starts unassigned
};

class TStoredValues {
public:
    TStoredValues() = default;
    TStoredValues(const TStoredValues&) = delete;
    TStoredValues& operator=(const TStoredValues&) = delete;

    // Appends a new item with an empty name and an unassigned value.
    TStoredValue& Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TStoredValue& Item(int index) { return *items_.at(static_cast<size_t>(index)); }
    const TStoredValue& Item(int index) const { return *items_.at(static_cast<size_t>(index)); }
    // Index of the item with that name, ignoring case; -1 when there is none.
    int IndexOf(const QString& name) const;
    TStoredValue* Find(const QString& name);
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<TStoredValue>> items_;
};

}  // namespace ui
