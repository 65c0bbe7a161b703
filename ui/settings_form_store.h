// The product's form store: an INI file kept by QSettings in the user's configuration folder.
//
// A key path "Software/<name>" maps to QSettings(IniFormat, UserScope, "Software", "<name>"), that is the
// file <config folder>/Software/<name>.ini; sections are its groups ([TfmMain]) and every value is written
// as text. Opening creates the file (the "key") when it is missing, as the registry creates its key even
// for reading. Each write is flushed at once so that a failure is reported with the value's name.
#pragma once

#include "ui/form_store.h"

#include <memory>

class QSettings;

namespace ui {

class SettingsFormStore : public FormStore {
public:
    SettingsFormStore();
    ~SettingsFormStore() override;

    void Open(const QString& keyPath, bool forWriting) override;
    std::optional<QString> ReadValue(const QString& section, const QString& name) override;
    void WriteValue(const QString& section, const QString& name, const QString& text) override;
    void EraseSection(const QString& section) override;
    void Close() override;

    // The file of the open key ("" when closed).
    QString FileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace ui
