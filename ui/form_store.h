// Where the form-state store keeps its values: a key of sections holding named text values.
//
// The layout is the one of the per-user registry the logger's platform uses: a key path such as
// "Software/ZORVEL_Backup", below it one section per form ("TfmMain"), and in each section named values
// that are always text (numbers in decimal, booleans "0"/"1"). A store object is opened for one save or
// one restore and closed right after it; opening creates the key path, also when it is opened for reading,
// so after a first run the key exists even though its section does not yet.
//
// Two implementations: QSettings for the product (settings_form_store.h) and memory for the tests
// (memory_form_store.h). Failures raise ERegistryException with the fixed messages.
#pragma once

#include <QString>

#include <optional>

namespace ui {

class FormStore {
public:
    virtual ~FormStore() = default;

    // Opens the key path, creating it when missing: "Failed to create key %s" when that is impossible.
    virtual void Open(const QString& keyPath, bool forWriting) = 0;
    // The text of a value; nullopt when the section or the value does not exist. A value that exists but
    // is not text raises "Invalid data type for '%s'"; an unreadable one "Failed to get data for '%s'".
    virtual std::optional<QString> ReadValue(const QString& section, const QString& name) = 0;
    // Writes a text value, creating the section when needed ("Failed to create key %s",
    // "Failed to set data for '%s'").
    virtual void WriteValue(const QString& section, const QString& name, const QString& text) = 0;
    // Removes a section with everything in it.
    virtual void EraseSection(const QString& section) = 0;
    // Releases the key; safe to call when nothing is open.
    virtual void Close() = 0;
};

// The typed reads and writes on top of the text values, with the defaults of the registry's INI view.
QString ReadString(FormStore& store, const QString& section, const QString& name, const QString& def);
int ReadInteger(FormStore& store, const QString& section, const QString& name, int def);
void WriteString(FormStore& store, const QString& section, const QString& name, const QString& text);
void WriteInteger(FormStore& store, const QString& section, const QString& name, int value);
void WriteBool(FormStore& store, const QString& section, const QString& name, bool value);

// Integer conversion as the stored texts need it: optional leading blanks, a sign, then decimal digits or
// "$"/"0x" and hexadecimal digits, nothing after them, within 32 bits. nullopt otherwise.
std::optional<int> ParseInteger(const QString& text);

}  // namespace ui
