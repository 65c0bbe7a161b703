// The save and restore sequences of TFormPlacement and its hooks on the owning form.
#include "ui/form_placement.h"

#include "ui/ui_errors.h"
#include "ui/settings_form_store.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace ui {

namespace {

const QString kFormVersion = QStringLiteral("FormVersion");
const QString kFlags = QStringLiteral("Flags");
const QString kShowCmd = QStringLiteral("ShowCmd");
const QString kPixelsPerInch = QStringLiteral("PixelsPerInch");
const QString kMinMaxPos = QStringLiteral("MinMaxPos");
const QString kNormPos = QStringLiteral("NormPos");
const QString kVisible = QStringLiteral("Visible");
const QString kActiveControl = QStringLiteral("ActiveControl");

bool IsSizeable(const QWidget* form) {
    return form->minimumSize() != form->maximumSize() &&
           !form->windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint);
}

// Suffixed name first; the plain name (written last, so from the latest screen) when that is empty.
QString ReadPositionText(FormStore& store, const QString& section, const QString& name) {
    QString text = ReadString(store, section, name + ScreenSizeSuffix(), QString());
    if (text.isEmpty()) text = ReadString(store, section, name, QString());
    return text;
}

// Closes the store when a sequence ends, also by an exception.
class OpenStore {
public:
    OpenStore(FormStore& store, const QString& key, bool forWriting) : store_(store) {
        store_.Open(key, forWriting);
    }
    ~OpenStore() { store_.Close(); }
    OpenStore(const OpenStore&) = delete;
    OpenStore& operator=(const OpenStore&) = delete;

private:
    FormStore& store_;
};

}  // namespace

TFormPlacement::TFormPlacement(QWidget* owner)
    : QObject(owner), form_(owner), isForm_(owner && owner->isWindow()) {
    if (isForm_) options_ = TPlacementOptions(fpState) | fpPosition;
    if (form_) form_->installEventFilter(this);
}

TFormPlacement::~TFormPlacement() {
    if (form_) {
        FormDestroy();
        form_->removeEventFilter(this);
    }
}

FormStore& TFormPlacement::Store() {
    if (!store_) store_ = std::make_shared<SettingsFormStore>();
    return *store_;
}

QString TFormPlacement::DefaultStorageKey() {
    const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return QStringLiteral("Software/") + exe;
}

QString TFormPlacement::DefaultSectionName() const {
    if (!form_) return QString();
    if (!sectionSeen_.isEmpty()) return sectionSeen_;
    QString name = QString::fromLatin1(form_->metaObject()->className());
    const qsizetype cut = name.lastIndexOf(QStringLiteral("::"));
    return cut < 0 ? name : name.mid(cut + 2);
}

void TFormPlacement::StoreFormState() {
    if (!restoreDone_ && active_) return;
    FormStore& store = Store();
    OpenStore open(store, StorageKey(), true);
    const QString section = Section();
    WriteInteger(store, section, kFormVersion, version_);
    if (isForm_) {
        if (options_ & (fpState | fpPosition)) {
            WriteWindowPlacement(store, section);
            WriteBool(store, section, kVisible, savingOnDestroy_);
        }
        if (options_ & fpActiveControl) {
            const QWidget* focused = form_->focusWidget();
            if (focused && focused != form_ && !focused->objectName().isEmpty())
                WriteString(store, section, kActiveControl, focused->objectName());
        }
    }
    SaveValues(store, section);
    if (OnSavePlacement) OnSavePlacement(this);
    saveDone_ = true;
}

void TFormPlacement::LoadFormState() {
    saveDone_ = false;
    // While the form is being destroyed its class is no longer known: keep the name seen here.
    sectionSeen_.clear();
    sectionSeen_ = DefaultSectionName();
    FormStore& store = Store();
    OpenStore open(store, StorageKey(), false);
    const QString section = Section();
    if (ReadInteger(store, section, kFormVersion, 0) >= version_) {
        if (isForm_) ReadWindowPlacement(store, section, options_ & fpState, options_ & fpPosition);
        RestoreValues(store, section);
        restoreDone_ = true;
        if (OnRestorePlacement) OnRestorePlacement(this);
        if ((options_ & fpActiveControl) && isForm_) {
            const QString name = ReadString(store, section, kActiveControl, QString());
            QWidget* control = name.isEmpty() ? nullptr : form_->findChild<QWidget*>(name);
            if (control && control->isEnabled() && control->focusPolicy() != Qt::NoFocus) control->setFocus();
        }
    }
    restoreDone_ = true;
    // The platform's maximised position has no counterpart on Qt: nothing to update after a restore.
}

void TFormPlacement::WriteWindowPlacement(FormStore& store, const QString& section) {
    const WindowPlacement p = GetWindowPlacement(form_);
    const QString suffix = ScreenSizeSuffix();
    const QString minMax = FormatPosition(p.minPosition.x(), p.minPosition.y(), p.maxPosition.x(), p.maxPosition.y());
    const QString normal = FormatPosition(p.left, p.top, p.right, p.bottom);
    WriteInteger(store, section, kFlags, p.flags);
    WriteInteger(store, section, kShowCmd, p.showCmd);
    WriteInteger(store, section, kPixelsPerInch, ScreenPixelsPerInch());
    WriteString(store, section, kMinMaxPos + suffix, minMax);
    WriteString(store, section, kMinMaxPos, minMax);
    WriteString(store, section, kNormPos + suffix, normal);
    WriteString(store, section, kNormPos, normal);
}

void TFormPlacement::ReadWindowPlacement(FormStore& store, const QString& section, bool loadState,
                                         bool loadPosition) {
    if (!loadState && !loadPosition) return;
    WindowPlacement p = GetWindowPlacement(form_);
    if (loadPosition) {
        p.flags = ReadInteger(store, section, kFlags, p.flags);
        bool found = false;
        QString text = ReadPositionText(store, section, kMinMaxPos);
        if (!text.isEmpty()) {
            const auto v = ParsePosition(text, {0, 0, 0, 0});
            p.minPosition = QPoint(v[0], v[1]);
            p.maxPosition = QPoint(v[2], v[3]);
            found = true;
        }
        text = ReadPositionText(store, section, kNormPos);
        if (!text.isEmpty()) {
            const QRect g = form_->geometry();
            const auto v = ParsePosition(text, {g.x(), g.y(), g.x() + g.width(), g.y() + g.height()});
            p.left = v[0];
            p.top = v[1];
            p.right = v[2];
            p.bottom = v[3];
            found = true;
        }
        const int screenPpi = ScreenPixelsPerInch();
        // A placement from a screen with other pixels per inch would come out at the wrong size.
        if (found && ReadInteger(store, section, kPixelsPerInch, screenPpi) == screenPpi) {
            if (!IsSizeable(form_)) {
                p.right = p.left + form_->width();
                p.bottom = p.top + form_->height();
            }
            if (p.right > p.left) SetWindowPlacement(form_, p);
        }
    }
    if (loadState) {
        Qt::WindowState state = Qt::WindowNoState;
        switch (ReadInteger(store, section, kShowCmd, 0)) {
            case 1: case 5: case 9: state = Qt::WindowNoState; break;
            case 2: case 6: case 7: state = Qt::WindowMinimized; break;
            case 3: state = Qt::WindowMaximized; break;
            default: break;
        }
        if (state == Qt::WindowMinimized) {
            // Minimising a window that is still being shown would be undone by the show: do it afterwards.
            form_->setWindowState(Qt::WindowNoState);
            QTimer::singleShot(0, form_, [form = form_] { form->showMinimized(); });
            return;
        }
        form_->setWindowState(state);
    }
    form_->update();
}

void TFormPlacement::FormDestroy() {
    if (destroyHookRan_) return;
    destroyHookRan_ = true;
    if (!active_ || saveDone_) return;
    savingOnDestroy_ = true;
    try {
        StoreFormState();
    } catch (const std::exception& e) {
        Report(e);
    }
    savingOnDestroy_ = false;
}

bool TFormPlacement::eventFilter(QObject* watched, QEvent* event) {
    if (watched != form_) return false;
    if (event->type() == QEvent::Show && !event->spontaneous()) {
        if (active_) {
            try {
                LoadFormState();
            } catch (const std::exception& e) {
                Report(e);
            }
        }
        return false;  // the form's own show handler runs next
    }
    if (event->type() == QEvent::Close) {
        // The form's own close handler decides first; its answer is the event's accepted state.
        static_cast<QObject*>(form_)->event(event);
        if (event->isAccepted() && active_ && form_->testAttribute(Qt::WA_WState_Created)) {
            try {
                StoreFormState();
            } catch (const std::exception& e) {
                Report(e);
            }
        }
        return true;
    }
    return false;
}

void TFormPlacement::Report(const std::exception& e) {
    const QString message = ExceptionText(e);
    if (ErrorReporter) {
        ErrorReporter(message);
        return;
    }
    QMessageBox::critical(nullptr, QGuiApplication::applicationDisplayName(), message);
}

}  // namespace ui
