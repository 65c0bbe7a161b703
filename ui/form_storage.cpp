// Saving and restoring the stored values of TFormStorage.
#include "ui/form_storage.h"

namespace ui {

Variant TFormStorage::ReadStoredValue(const QString& name) const {
    const int i = storedValues_.IndexOf(name);
    return i < 0 ? Variant::Null() : storedValues_.Item(i).Value();
}

void TFormStorage::WriteStoredValue(const QString& name, const Variant& value) {
    TStoredValue* item = storedValues_.Find(name);
    if (!item) {
        item = &storedValues_.Add();
        item->SetName(name);
    }
    item->SetValue(value);
}

void TFormStorage::SaveValues(FormStore& store, const QString& section) {
    for (int i = 0; i < storedValues_.Count(); ++i) {
        TStoredValue& item = storedValues_.Item(i);
        Variant copy = item.Value();
        if (item.OnSave) item.OnSave(item, copy);
        WriteString(store, section, item.Name(), copy.ToString());
    }
}

void TFormStorage::RestoreValues(FormStore& store, const QString& section) {
    SetRestoreDone();
    for (int i = 0; i < storedValues_.Count(); ++i) {
        TStoredValue& item = storedValues_.Item(i);
        Variant value(ReadString(store, section, item.Name(), item.Value().ToString()));
        if (item.OnRestore) item.OnRestore(item, value);
        item.SetValue(value);
    }
}

}  // namespace ui
