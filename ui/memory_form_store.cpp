// The in-memory form store of the tests.
#include "ui/memory_form_store.h"

#include "ui/ui_errors.h"

namespace ui {

MemoryFormStore::Value* MemoryFormStore::Section::Find(const QString& name) {
    for (Value& v : values)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0) return &v;
    return nullptr;
}

void MemoryFormStore::Open(const QString& keyPath, bool forWriting) {
    ++openCount;
    if (failCreateKey) throw ERegistryException(QStringLiteral("Failed to create key %1").arg(keyPath));
    keys_[Fold(keyPath)];
    openKey_ = keyPath;
    open_ = true;
}

std::optional<QString> MemoryFormStore::ReadValue(const QString& section, const QString& name) {
    Section* s = FindSection(openKey_, section);
    if (!s) return std::nullopt;
    Value* v = s->Find(name);
    if (!v) return std::nullopt;
    if (!v->isText) throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
    return v->text;
}

void MemoryFormStore::WriteValue(const QString& section, const QString& name, const QString& text) {
    if (failWrites) throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
    Plant(openKey_, section, name, text);
}

void MemoryFormStore::EraseSection(const QString& section) {
    auto key = keys_.find(Fold(openKey_));
    if (key != keys_.end()) key->second.erase(Fold(section));
}

void MemoryFormStore::Close() {
    open_ = false;
    openKey_.clear();
}

bool MemoryFormStore::HasKey(const QString& keyPath) const { return keys_.count(Fold(keyPath)) != 0; }

bool MemoryFormStore::HasSection(const QString& keyPath, const QString& section) const {
    return FindSection(keyPath, section) != nullptr;
}

QStringList MemoryFormStore::ValueNames(const QString& keyPath, const QString& section) const {
    QStringList names;
    if (const Section* s = FindSection(keyPath, section))
        for (const Value& v : s->values) names << v.name;
    return names;
}

std::optional<QString> MemoryFormStore::Text(const QString& keyPath, const QString& section,
                                             const QString& name) const {
    const Section* s = FindSection(keyPath, section);
    if (!s) return std::nullopt;
    for (const Value& v : s->values)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0 && v.isText) return v.text;
    return std::nullopt;
}

void MemoryFormStore::Plant(const QString& keyPath, const QString& section, const QString& name,
                            const QString& text) {
    Section& s = MakeSection(keyPath, section);
    if (Value* v = s.Find(name)) {
        v->text = text;
        v->isText = true;
    } else {
        s.values.push_back(Value{name, text, true});
    }
}

void MemoryFormStore::PlantNonText(const QString& keyPath, const QString& section, const QString& name) {
    Plant(keyPath, section, name, QString());
    MakeSection(keyPath, section).Find(name)->isText = false;
}

MemoryFormStore::Section* MemoryFormStore::FindSection(const QString& keyPath, const QString& section) {
    auto key = keys_.find(Fold(keyPath));
    if (key == keys_.end()) return nullptr;
    auto s = key->second.find(Fold(section));
    return s == key->second.end() ? nullptr : &s->second;
}

const MemoryFormStore::Section* MemoryFormStore::FindSection(const QString& keyPath,
                                                             const QString& section) const {
    return const_cast<MemoryFormStore*>(this)->FindSection(keyPath, section);
}

MemoryFormStore::Section& MemoryFormStore::MakeSection(const QString& keyPath, const QString& section) {
    return keys_[Fold(keyPath)][Fold(section)];
}

}  // namespace ui
