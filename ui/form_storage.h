// TFormStorage: the form placement plus named values that the form's code reads and writes.
//
// ReadStoredValue and WriteStoredValue work in memory only; a value reaches the store at the next save
// (normally when the form closes), so a process that ends abnormally leaves the previous values stored.
// Save writes each value, in collection order, after the placement, as text under its name (OnSave may
// change the copy first). Restore reads each value with its current text as the default and keeps the
// result as text (OnRestore may change it), so after a restore every value is text.
#pragma once

#include "ui/form_placement.h"
#include "ui/stored_values.h"

namespace ui {

class TFormStorage : public TFormPlacement {
    Q_OBJECT
public:
    explicit TFormStorage(QWidget* owner) : TFormPlacement(owner) {}
    // Runs the destroy hook while the stored values can still be saved.
    ~TFormStorage() override { FormDestroy(); }

    TStoredValues& StoredValues() { return storedValues_; }

    // A copy of the named value; null when no item has that name (ignoring case).
    Variant ReadStoredValue(const QString& name) const;
    // Sets the named value, appending a new item when no item has that name.
    void WriteStoredValue(const QString& name, const Variant& value);

protected:
    void SaveValues(FormStore& store, const QString& section) override;
    void RestoreValues(FormStore& store, const QString& section) override;

private:
    TStoredValues storedValues_;
};

}  // namespace ui
