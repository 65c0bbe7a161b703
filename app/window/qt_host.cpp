// QtHost: the engine's host calls mapped onto Qt; see qt_host.h.
#include "app/window/qt_host.h"

#include "app/platform/message_box_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace app {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

QtHost::~QtHost() {
    if (busy_) QApplication::restoreOverrideCursor();
}

archive::Answer QtHost::MessageBox(const std::string& caption, const std::string& text, archive::Buttons buttons) {
    QWidget* parent = QApplication::activeWindow();
    switch (buttons) {
    case archive::Buttons::YesNo:
        return platform::ShowMessageBox(parent, QMessageBox::Question, Q(caption), Q(text),
                                        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes
                   ? archive::Answer::Yes
                   : archive::Answer::No;
    case archive::Buttons::OkCancel:
        return platform::ShowMessageBox(parent, QMessageBox::Warning, Q(caption), Q(text),
                                        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok
                   ? archive::Answer::Ok
                   : archive::Answer::Cancel;
    case archive::Buttons::Ok:
        break;
    }
    platform::ShowMessageBox(parent, QMessageBox::Information, Q(caption), Q(text), QMessageBox::Ok);
    return archive::Answer::Ok;
}

std::optional<std::string> QtHost::OpenFileDialog(const std::string& title, const std::string& filter,
                                                  const std::string& initialDir) {
    const QString chosen =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), Q(title), Q(initialDir), QtFileFilter(filter));
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

std::optional<std::string> QtHost::SelectFolderDialog(const std::string& startDir) {
    const QString chosen = QFileDialog::getExistingDirectory(QApplication::activeWindow(), QString(), Q(startDir));
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

void QtHost::ProcessMessages() { QApplication::processEvents(); }

void QtHost::SetBusyCursor(bool busy) {
    // Only our own cursor is taken off the stack: a second "on" or an "off" without an "on" changes
    // nothing, so a dialog's own override cursor is never popped by the engine.
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QString QtFileFilter(const std::string& filter) {
    const QStringList parts = Q(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1].trimmed().replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns.isEmpty()) continue;
        // The engine's descriptions carry their own "(*.ZIP)"; Qt reads the patterns from the last
        // bracket, so that one is replaced by the real patterns.
        if (description.endsWith(QLatin1Char(')'))) {
            const qsizetype open = description.lastIndexOf(QLatin1Char('('));
            if (open >= 0) description = description.left(open).trimmed();
        }
        entries.append(description.isEmpty() ? patterns : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace app
