// QSettings behind the form store.
//
// QSettings reads an INI text like "a,b" as a list and "@Variant(...)" as a typed value; such values are
// not text for us ("Invalid data type"). Texts with commas are written quoted by QSettings, so what we
// write always reads back as text.
#include "ui/settings_form_store.h"

#include "ui/ui_errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace ui {

SettingsFormStore::SettingsFormStore() = default;
SettingsFormStore::~SettingsFormStore() = default;

void SettingsFormStore::Open(const QString& keyPath, bool forWriting) {
    Close();
    QString path = keyPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype cut = path.indexOf(QLatin1Char('/'));
    const QString organization = cut < 0 ? path : path.left(cut);
    const QString application = cut < 0 ? QString() : path.mid(cut + 1);
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, organization,
                                                application);
    const QFileInfo file(settings->fileName());
    if (!file.exists()) {
        QFile create(file.filePath());
        if (!QDir().mkpath(file.absolutePath()) || !create.open(QIODevice::WriteOnly))
            throw ERegistryException(QStringLiteral("Failed to create key %1").arg(keyPath));
    }
    settings_ = std::move(settings);
}

std::optional<QString> SettingsFormStore::ReadValue(const QString& section, const QString& name) {
    if (!settings_) return std::nullopt;
    if (settings_->status() == QSettings::AccessError)
        throw ERegistryException(QStringLiteral("Failed to get data for '%1'").arg(name));
    const QString key = section + QLatin1Char('/') + name;
    if (!settings_->contains(key)) return std::nullopt;
    const QVariant value = settings_->value(key);
    if (value.typeId() != QMetaType::QString)
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
    return value.toString();
}

void SettingsFormStore::WriteValue(const QString& section, const QString& name, const QString& text) {
    if (!settings_) throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
    settings_->setValue(section + QLatin1Char('/') + name, text);
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
}

void SettingsFormStore::EraseSection(const QString& section) {
    if (!settings_) return;
    settings_->remove(section);
    settings_->sync();
}

void SettingsFormStore::Close() {
    if (settings_) settings_->sync();
    settings_.reset();
}

QString SettingsFormStore::FileName() const { return settings_ ? settings_->fileName() : QString(); }

}  // namespace ui
