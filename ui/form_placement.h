// TFormPlacement: keeps a form's window placement in the form store between runs.
//
// The component is a child of the form it serves and hooks three moments of that form through an event
// filter installed at construction:
//  - show (not the platform's own re-show of a restored window): LoadFormState, then the form's own
//    show handler runs, so the form already sees restored values;
//  - close: the form's own close handler runs first (the filter hands the event to the form itself), and
//    only when it accepted the close, StoreFormState, so values the handler writes are saved in this run;
//  - destruction: FormDestroy saves once more, with "Visible" = "1", when no save was done since the last
//    restore. A form can call FormDestroy() at the start of its destructor to get that save before its own
//    clean-up; otherwise it runs when the component itself is destroyed with the form's children, after
//    the form's own destructor, so hooks (OnSave, ErrorReporter) must then not touch the form's members.
// An exception inside these hooks goes to ErrorReporter (the application's error box), and the show,
// close or destruction goes on.
//
// Save: only after a restore (or while inactive); "FormVersion", the placement values in their fixed order
// ("Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos(WxH)", "MinMaxPos", "NormPos(WxH)", "NormPos"), "Visible",
// then what a derived class adds. Restore: when the stored "FormVersion" is at least Version, read the
// placement (the screen-size suffixed names first, the plain ones when those are empty) and apply it only
// when it was saved at the current pixels per inch and its right lies beyond its left.
// A restore that fails before its placement part completed leaves RestoreDone clear, so while the component
// is active nothing is saved for the rest of the run and a damaged store is never overwritten with guesses.
#pragma once

#include "ui/form_store.h"
#include "ui/window_placement.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace ui {

enum TPlacementOption { fpState = 0x1, fpPosition = 0x2, fpActiveControl = 0x4 };
Q_DECLARE_FLAGS(TPlacementOptions, TPlacementOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TPlacementOptions)

class TFormPlacement : public QObject {
    Q_OBJECT
public:
    // owner: the form; a top-level widget gets the default options [fpState, fpPosition].
    explicit TFormPlacement(QWidget* owner);
    ~TFormPlacement() override;

    bool Active() const { return active_; }
    void SetActive(bool active) { active_ = active; }
    // Key path; empty means DefaultStorageKey().
    QString IniFileName() const { return iniFileName_; }
    void SetIniFileName(const QString& path) { iniFileName_ = path; }
    // Section; empty means DefaultSectionName() of the owner.
    QString IniSection() const { return iniSection_; }
    void SetIniSection(const QString& section) { iniSection_ = section; }
    TPlacementOptions Options() const { return options_; }
    void SetOptions(TPlacementOptions options) { options_ = options; }
    int Version() const { return version_; }
    void SetVersion(int version) { version_ = version; }

    std::function<void(QObject* sender)> OnSavePlacement;
    std::function<void(QObject* sender)> OnRestorePlacement;
    // Shows the message of an exception that escaped a hook. Defaults to the toolkit's error box.
    std::function<void(const QString& message)> ErrorReporter;

    // The store; the product's QSettings store unless another one is set.
    void SetStore(std::shared_ptr<FormStore> store) { store_ = std::move(store); }
    FormStore& Store();

    void StoreFormState();
    void LoadFormState();
    // The destroy hook (see above); runs at most once.
    void FormDestroy();

    bool RestoreDone() const { return restoreDone_; }
    bool SaveDone() const { return saveDone_; }

    QWidget* Form() const { return form_; }
    // "Software/" + the executable's file name without folder and last extension.
    static QString DefaultStorageKey();
    // The owner's class name without namespaces ("TfmMain"), as seen at the last restore.
    QString DefaultSectionName() const;
    QString StorageKey() const { return iniFileName_.isEmpty() ? DefaultStorageKey() : iniFileName_; }
    QString Section() const { return iniSection_.isEmpty() ? DefaultSectionName() : iniSection_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // What a derived class keeps besides the placement, inside the open store.
    virtual void SaveValues(FormStore& store, const QString& section) {}
    virtual void RestoreValues(FormStore& store, const QString& section) {}
    // Marks the restore done before the derived class's values are read, so that a failure among
    // them does not block the saves of the run.
    void SetRestoreDone() { restoreDone_ = true; }

private:
    void WriteWindowPlacement(FormStore& store, const QString& section);
    void ReadWindowPlacement(FormStore& store, const QString& section, bool loadState, bool loadPosition);
    void Report(const std::exception& e);

    QWidget* form_;
    bool isForm_;
    bool active_ = true;
    QString iniFileName_;
    QString iniSection_;
    TPlacementOptions options_;
    int version_ = 0;
    std::shared_ptr<FormStore> store_;
    bool restoreDone_ = false;
    bool saveDone_ = false;
    bool savingOnDestroy_ = false;
    bool destroyHookRan_ = false;
    QString sectionSeen_;
};

}  // namespace ui
