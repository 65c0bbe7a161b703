// A form store held in memory, for tests.
//
// It keeps what a registry would: the key paths that were created, and per section the values in the order
// they were first written, with names compared ignoring case. Besides the FormStore operations it lets a
// test look inside, plant values (also values that are not text) and make key creation or writes fail.
#pragma once

#include "ui/form_store.h"

#include <QStringList>

#include <map>
#include <vector>

namespace ui {

class MemoryFormStore : public FormStore {
public:
    void Open(const QString& keyPath, bool forWriting) override;
    std::optional<QString> ReadValue(const QString& section, const QString& name) override;
    void WriteValue(const QString& section, const QString& name, const QString& text) override;
    void EraseSection(const QString& section) override;
    void Close() override;

    // ---- inspection and set-up for tests ----
    bool HasKey(const QString& keyPath) const;
    bool HasSection(const QString& keyPath, const QString& section) const;
    // Value names of a section in the order of their first write.
    QStringList ValueNames(const QString& keyPath, const QString& section) const;
    // Text of a value, nullopt when missing or not text.
    std::optional<QString> Text(const QString& keyPath, const QString& section, const QString& name) const;
    void Plant(const QString& keyPath, const QString& section, const QString& name, const QString& text);
    // A value of another type than text (as an integer-typed registry value would be).
    void PlantNonText(const QString& keyPath, const QString& section, const QString& name);
    void Clear() { keys_.clear(); }

    bool failCreateKey = false;
    bool failWrites = false;
    int openCount = 0;
    bool isOpen() const { return open_; }

private:
    struct Value {
        QString name;
        QString text;
        bool isText = true;
    };
    struct Section {
        std::vector<Value> values;
        Value* Find(const QString& name);
    };
    using Sections = std::map<QString, Section>;  // lower-cased section name

    Section* FindSection(const QString& keyPath, const QString& section);
    const Section* FindSection(const QString& keyPath, const QString& section) const;
    Section& MakeSection(const QString& keyPath, const QString& section);
    static QString Fold(const QString& s) { return s.toCaseFolded(); }

    std::map<QString, Sections> keys_;  // case-folded key path
    QString openKey_;
    bool open_ = false;
};

}  // namespace ui
