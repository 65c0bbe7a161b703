// The backup catalogue through the real window: which folder is listed at start, which backup is
// selected, the creation label, the restore button, the stored folder, deleting, the folder picker for a
// folder that cannot be listed, and the label, button and restore after typing, pauses and clicks.
#include "app/backup_layout.h"
#include "app/window/catalogue.h"
#include "app/creation_label.h"
#include "app/native_path.h"
#include "archive/reader/vcl_unzip.h"
#include "tests/app/support/window_rig.h"
#include "tests/ui/modal_driver.h"
#include "ui/directory_tree.h"
#include "ui/select_dir_dlg.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

using namespace app;
using namespace app::testing;

namespace {

const QString kOlder = QStringLiteral("zorvel3_20250101000000.zip");
const QString kNewer = QStringLiteral("zorvel3_20261206103800.zip");
const QString kMiddle = QStringLiteral("zorvel3_20251115183000.zip");
const QString kOther = QStringLiteral("zorvel3_20240303101000.zip");  // the one backup of the folder "other"

QString StoredInMemory(TfmMain& w) {
    return w.FormStorage1->ReadStoredValue(QString::fromLatin1(kSelectedPathName)).ToString();
}

// An empty but valid archive: a restore from it runs to its end.
QString EmptyBackup(WindowRig& rig, const QString& relative) {
    const QString path = rig.Root() + QLatin1Char('/') + relative;
    testing_support::WriteFile(path.toStdString(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    return path;
}

// Yes to every question, after running `beforeAnswer` (while the box would be open).
class AnsweringDialogs : public fakes::ScriptedDialogs {
public:
    bool Confirm(const QString& text) override {
        if (beforeAnswer) beforeAnswer();
        return ScriptedDialogs::Confirm(text);
    }
    std::function<void()> beforeAnswer;
};

// What the catalogue promises after every step: the button is on, and the label dates the highlighted
// row, exactly when one row is highlighted and names an existing file.
void CheckWindowAgrees(TfmMain& w) {
    const QList<QListWidgetItem*> highlighted = w.FileListBox1->selectedItems();
    QVERIFY(highlighted.size() <= 1);
    const QString name = highlighted.isEmpty() ? QString() : highlighted[0]->text();
    const bool restorable = !name.isEmpty() && QFile::exists(w.FileListBox1->Folder() + QLatin1Char('/') + name);
    QCOMPARE(w.RectoreBT->isEnabled(), restorable);
    QCOMPARE(w.Label1->text(), restorable ? CreationLabel(name) : QString());
}

}  // namespace

class CatalogueTest : public QObject {
    Q_OBJECT

private slots:
    void firstRunListsTheHomeFolder() {
        WindowRig rig;
        rig.Touch(QStringLiteral("home/") + kOlder);
        rig.Touch(QStringLiteral("home/notes.txt"));
        TfmMain& w = rig.Start();
        QCOMPARE(w.DirectoryEdit1->Text(), rig.Home());
        QCOMPARE(rig.Items(), QStringList({kOlder}));
        QCOMPARE(w.FileListBox1->ItemIndex(), 0);
        QVERIFY(w.RectoreBT->isEnabled());
        QCOMPARE(w.Label1->text(), QStringLiteral("01.01.2025 at 00:00"));
    }

    void emptyFolderSelectsNothingAndKeepsTheStoredFolder() {
        WindowRig rig;
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        rig.Touch(QStringLiteral("backups/readme.txt"));
        TfmMain& w = rig.Start();
        QCOMPARE(w.DirectoryEdit1->Text(), rig.Backups());
        QCOMPARE(w.FileListBox1->Count(), 0);
        QCOMPARE(w.FileListBox1->ItemIndex(), -1);
        QVERIFY(!w.RectoreBT->isEnabled());
        QCOMPARE(w.Label1->text(), QString());
        // Nothing selected: the remembered folder is left as it was.
        w.FormStorage1->WriteStoredValue(QString::fromLatin1(kSelectedPathName), QStringLiteral("/kept"));
        w.FileListBox1Change(w.FileListBox1);
        QCOMPARE(StoredInMemory(w), QStringLiteral("/kept"));
        QVERIFY(rig.errors.isEmpty());
    }

    void newestOfTwoBackupsIsSelected() {
        WindowRig rig;
        rig.Touch(QStringLiteral("backups/") + kNewer);
        rig.Touch(QStringLiteral("backups/") + kOlder);
        TfmMain& w = rig.Start();
        w.FormStorage1->WriteStoredValue(QString::fromLatin1(kSelectedPathName), QStringLiteral("/elsewhere"));
        w.DirectoryEdit1->SetText(rig.Backups());
        QCOMPARE(rig.Items(), QStringList({kOlder, kNewer}));
        QCOMPARE(w.FileListBox1->ItemIndex(), 1);
        QCOMPARE(w.FileListBox1->SelectedFileName(), rig.Backups() + QLatin1Char('/') + kNewer);
        QVERIFY(w.RectoreBT->isEnabled());
        QCOMPARE(w.Label1->text(), QStringLiteral("06.12.2026 at 10:38"));
        QCOMPARE(StoredInMemory(w), rig.Backups());  // a real backup is selected: the folder is remembered

        // The user picks the older one.
        w.FileListBox1->setCurrentRow(0);
        QCOMPARE(w.Label1->text(), QStringLiteral("01.01.2025 at 00:00"));
    }

    // The backups made before a restore are listed first and told as such, and a refresh never takes
    // one of them for the newest backup, which one made before a restore may well be.
    void backupsMadeBeforeARestoreAreNeverTheNewest() {
        const QString before = QStringLiteral("zorvel3-before-restore-20261207140320.zip");
        const struct {
            const char* name;
            QStringList files;
            QString selected;  // "" for none
        } cases[] = {
            {"a backup and a later one made before a restore", {kOlder, before}, kOlder},
            {"only backups made before a restore", {before, "zorvel3-before-restore-20261201000000.zip"}, ""},
        };
        for (const auto& c : cases) {
            WindowRig rig;
            for (const QString& file : c.files) rig.Touch(QStringLiteral("backups/") + file);
            rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
            TfmMain& w = rig.Start();
            QVERIFY2(rig.Items().first().startsWith("zorvel3-before-restore-"), c.name);
            QVERIFY2(w.FileListBox1->SelectedFileName() == (c.selected.isEmpty() ? QString() : rig.Backups() + "/" + c.selected),
                     qPrintable(QString(c.name) + ": " + w.FileListBox1->SelectedFileName()));
            QVERIFY2(w.RectoreBT->isEnabled() == !c.selected.isEmpty(), c.name);
            // Chosen by the user, it says what it is.
            w.FileListBox1->setCurrentRow(rig.Items().indexOf(before));
            QCOMPARE(w.Label1->text(), QStringLiteral("07.12.2026 at 14:03, made before a restore"));
            QVERIFY(w.RectoreBT->isEnabled());
        }
    }

    void aListedFileThatIsGoneDisablesRestore() {
        WindowRig rig;
        const QString newer = rig.Touch(QStringLiteral("backups/") + kNewer);
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        QVERIFY(w.RectoreBT->isEnabled());
        QVERIFY(QFile::remove(newer));
        w.FileListBox1Change(w.FileListBox1);
        QVERIFY(!w.RectoreBT->isEnabled());
        QCOMPARE(w.Label1->text(), QString());
    }

    void nameOutsideThePatternIsReadByPosition() {
        WindowRig rig;
        rig.Touch(QStringLiteral("backups/zorvel3x.zip"));
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        QCOMPARE(rig.Items(), QStringList({QStringLiteral("zorvel3x.zip")}));
        QVERIFY(w.RectoreBT->isEnabled());
        QCOMPARE(w.Label1->text(), QStringLiteral("3x.el.zorv at :"));
    }

    void deletingTheLastItemLeavesNoSelection() {
        WindowRig rig;
        rig.Touch(QStringLiteral("backups/") + kOlder);
        const QString newer = rig.Touch(QStringLiteral("backups/") + kNewer);
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        QCOMPARE(w.FileListBox1->ItemIndex(), 1);
        w.Deletefile1->trigger();
        QVERIFY(!QFile::exists(newer));
        QCOMPARE(rig.Items(), QStringList({kOlder}));
        QCOMPARE(w.FileListBox1->ItemIndex(), -1);
        QVERIFY(!w.RectoreBT->isEnabled());
        QCOMPARE(w.Label1->text(), QString());
        QVERIFY(rig.errors.isEmpty());
    }

    void deletingAMiddleItemSelectsTheOneThatMovedUp() {
        WindowRig rig;
        rig.Touch(QStringLiteral("backups/") + kOlder);
        const QString middle = rig.Touch(QStringLiteral("backups/") + kMiddle);
        rig.Touch(QStringLiteral("backups/") + kNewer);
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        w.FileListBox1->setCurrentRow(1);
        QCOMPARE(w.Label1->text(), QStringLiteral("15.11.2025 at 18:30"));
        w.Deletefile1->trigger();
        QVERIFY(!QFile::exists(middle));
        QCOMPARE(rig.Items(), QStringList({kOlder, kNewer}));
        QCOMPARE(w.FileListBox1->ItemIndex(), 1);
        QVERIFY(w.RectoreBT->isEnabled());
        QCOMPARE(w.Label1->text(), QStringLiteral("06.12.2026 at 10:38"));
    }

    // A read-only backup stays, and one that vanished meanwhile just leaves the list; neither says a word.
    void failedDeletionsAreSilent() {
        WindowRig rig;
        const QString older = rig.Touch(QStringLiteral("backups/") + kOlder);
        const QString newer = rig.Touch(QStringLiteral("backups/") + kNewer);
        QVERIFY(QFile::setPermissions(newer, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        w.Deletefile1->trigger();
        QVERIFY(QFile::exists(newer));
        QCOMPARE(rig.Items(), QStringList({kOlder, kNewer}));
        QCOMPARE(w.FileListBox1->ItemIndex(), 1);
        QVERIFY(w.RectoreBT->isEnabled());

        w.FileListBox1->setCurrentRow(0);
        QVERIFY(QFile::remove(older));
        w.Deletefile1->trigger();
        QCOMPARE(rig.Items(), QStringList({kNewer}));
        QCOMPARE(w.FileListBox1->ItemIndex(), 0);
        QCOMPARE(w.Label1->text(), QStringLiteral("06.12.2026 at 10:38"));

        // The whole folder is gone: the list cannot be re-read, and restore is off all the same.
        QVERIFY(QFile::setPermissions(newer, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY(QDir(rig.Backups()).removeRecursively());
        w.Deletefile1->trigger();
        QVERIFY(!w.RectoreBT->isEnabled());
        QVERIFY(rig.errors.isEmpty());
    }

    void deleteWithNothingSelectedDoesNothing() {
        WindowRig rig;
        const QString older = rig.Touch(QStringLiteral("backups/") + kOlder);
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        w.FileListBox1->SetItemIndex(-1);
        w.Deletefile1->trigger();
        QVERIFY(QFile::exists(older));
        QVERIFY(rig.errors.isEmpty());
    }

    void popupMenuOpensOnTheCatalogue() {
        WindowRig rig;
        TfmMain& w = rig.Start();
        emit w.FileListBox1->customContextMenuRequested(QPoint(5, 5));
        QTRY_VERIFY(w.PopupMenu1->isVisible());
        w.PopupMenu1->hide();
    }

    // Typing, a pause, Enter, the focus moving to the list and clicks, in the orders a user mixes them:
    // afterwards the label and the button agree with the highlighted row, and a restore reads the
    // archive the window showed at the press, or says why it cannot.
    void buttonAndLabelFollowTheHighlightedRow_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("listed");       // the folder the list shows, under the rig's root
        QTest::addColumn<QString>("highlighted");  // the row highlighted at the end; empty: none
        QTest::newRow("typed, click below the rows") << "typed click-below" << "other" << "";
        QTest::newRow("typed, Enter") << "typed enter" << "other" << kOther;
        QTest::newRow("typed, pause") << "typed pause" << "other" << kOther;
        QTest::newRow("empty folder typed, Enter") << "empty enter" << "empty" << "";
        QTest::newRow("missing folder typed, Enter, picker cancelled, restore")
            << "missing enter restore" << "backups" << kNewer;
        QTest::newRow("archive deleted between the press and Yes") << "restore-deleted" << "backups" << "";
        QTest::newRow("backup folder deleted between the press and Yes")
            << "restore-folder-deleted" << "backups" << kNewer;  // the list cannot be read again
        QTest::newRow("another row clicked while the question is open") << "restore-moved" << "backups" << kOlder;
    }
    void buttonAndLabelFollowTheHighlightedRow() {
        QFETCH(QString, steps);
        QFETCH(QString, listed);
        QFETCH(QString, highlighted);
        WindowRig rig;
        EmptyBackup(rig, QStringLiteral("backups/") + kOlder);
        const QString newer = EmptyBackup(rig, QStringLiteral("backups/") + kNewer);
        EmptyBackup(rig, QStringLiteral("other/") + kOther);
        QVERIFY(QDir().mkpath(rig.Root() + QStringLiteral("/empty")));
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        AnsweringDialogs dialogs;
        MainWindowServices services = rig.Services();
        services.platform.dialogs = &dialogs;
        TfmMain& w = rig.Start(std::move(services));
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.cbLogs->setChecked(true);
        int pickers = 0;
        w.DirectoryEdit1->OnBeforeDialog = [&](QObject*, QString&, bool& proceed) {
            ++pickers;
            proceed = false;
        };
        QListWidget* list = w.FileListBox1;
        const auto clickRow = [&](int row) {
            const QPoint at = row >= 0 ? list->visualItemRect(list->item(row)).center()
                                       : QPoint(10, list->viewport()->height() - 5);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        };
        const auto type = [&](const QString& folder) {
            w.DirectoryEdit1->setFocus();
            w.DirectoryEdit1->selectAll();
            QTest::keyClicks(w.DirectoryEdit1, rig.Root() + QLatin1Char('/') + folder);
        };

        if (steps.startsWith("typed")) type(QStringLiteral("other"));
        if (steps.startsWith("empty")) type(QStringLiteral("empty"));
        if (steps.startsWith("missing")) type(QStringLiteral("gone"));
        if (steps.contains("enter")) QTest::keyClick(w.DirectoryEdit1, Qt::Key_Return);
        if (steps.contains("pause")) {
            QCOMPARE(w.FileListBox1->Folder(), rig.Backups());  // not before the pause
            QTRY_COMPARE_WITH_TIMEOUT(w.FileListBox1->Folder(), rig.Root() + "/other", kTypingPauseMs + 3000);
        }
        if (steps.contains("click-below")) clickRow(-1);
        if (steps.contains("restore")) {
            CheckWindowAgrees(w);
            if (steps == "restore-deleted") dialogs.beforeAnswer = [&] { QVERIFY(QFile::remove(newer)); };
            if (steps == "restore-folder-deleted")
                dialogs.beforeAnswer = [&] { QVERIFY(QDir(rig.Backups()).removeRecursively()); };
            if (steps == "restore-moved") dialogs.beforeAnswer = [&] { clickRow(0); };
            QTest::mouseClick(w.RectoreBT, Qt::LeftButton);
            QCOMPARE(dialogs.Questions(), QStringList({QString::fromLatin1(kRestoreQuestion)}));
            QCOMPARE(w.UnZip1->ZipName(), Native(newer));
        }

        QCOMPARE(w.FileListBox1->Folder(), rig.Root() + QLatin1Char('/') + listed);
        QCOMPARE(w.FileListBox1->selectedItems().isEmpty() ? QString() : w.FileListBox1->selectedItems()[0]->text(),
                 highlighted);
        CheckWindowAgrees(w);
        QCOMPARE(pickers, steps.startsWith("missing") ? 1 : 0);
        QVERIFY2(rig.errors.isEmpty(), qPrintable(rig.errors.join('\n')));
        if (steps.contains("deleted")) {
            QCOMPARE(dialogs.Warnings(), QStringList({"The backup " + newer + " no longer exists."}));
            if (steps == "restore-deleted") QCOMPARE(rig.Items(), QStringList({kOlder}));
        } else if (steps.contains("restore")) {
            QCOMPARE(dialogs.Warnings().size(), 1);  // the empty backup holds no logs: said so, restore done
            QVERIFY(dialogs.Warnings()[0].startsWith("Not everything was restored."));
        } else {
            QVERIFY(dialogs.boxes.empty());
        }
    }

    // Should the button ever be on with nothing selected, a press asks nothing and puts it right.
    void restoreWithNothingSelectedAsksNothing() {
        WindowRig rig;
        QVERIFY(QDir().mkpath(rig.Backups()));
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        w.cbLogs->setChecked(true);
        w.RectoreBT->setEnabled(true);
        w.RectoreBT->click();
        QVERIFY(rig.fakes.dialogs.boxes.empty());
        QVERIFY(!w.RectoreBT->isEnabled());
        QVERIFY(rig.errors.isEmpty());
    }

    // A stored folder that no longer exists opens the folder picker, without a message; cancelling it
    // leaves the field as it was and the window goes on starting.
    void missingFolderOpensThePicker() {
        WindowRig rig;
        const QString missing = rig.Root() + QStringLiteral("/gone");
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), missing);
        TfmMain& w = rig.Make();
        QStringList pickerStarts;
        w.DirectoryEdit1->OnBeforeDialog = [&](QObject*, QString& start, bool& proceed) {
            pickerStarts.append(start);
            proceed = false;
        };
        w.show();
        QCoreApplication::processEvents();
        QCOMPARE(pickerStarts, QStringList({missing}));
        QCOMPARE(w.DirectoryEdit1->Text(), missing);
        QVERIFY(rig.fakes.dialogs.boxes.empty());
        QVERIFY(rig.errors.isEmpty());
        QVERIFY(w.isVisible());
        QCOMPARE(w.StatusText(), w.windowTitle());
    }

    // In the real picker the user chooses another folder: the field takes it and that folder is listed.
    void folderChosenInThePickerIsListed() {
        WindowRig rig;
        rig.Touch(QStringLiteral("backups/") + kNewer);
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Root() + QStringLiteral("/gone"));
        bool opened = false;
        WhenModal<ui::TSelectDirDlg>([&](ui::TSelectDirDlg* dialog) {
            opened = true;
            dialog->DirList()->SetDirectory(rig.Backups());
            PressButton(dialog, "OKButton");
        });
        TfmMain& w = rig.Start();
        QVERIFY(opened);
        QCOMPARE(w.DirectoryEdit1->Text(), rig.Backups());
        QCOMPARE(rig.Items(), QStringList({kNewer}));
        QCOMPARE(w.Label1->text(), QStringLiteral("06.12.2026 at 10:38"));
        QVERIFY(w.RectoreBT->isEnabled());
        w.close();
        QCOMPARE(rig.StoredText(QString::fromLatin1(kSelectedPathName)), rig.Backups());
    }
};

QTEST_MAIN(CatalogueTest)
#include "catalogue_test.moc"
