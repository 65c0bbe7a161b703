// The backup catalogue through the real window: which folder is listed at start, which backup is
// selected, the creation label, the restore button, the stored folder, deleting, and the folder picker
// for a folder that cannot be listed.
#include "app/catalogue.h"
#include "tests/app/support/window_rig.h"
#include "tests/ui/modal_driver.h"
#include "ui/directory_tree.h"
#include "ui/select_dir_dlg.h"

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

QString StoredInMemory(TfmMain& w) {
    return w.FormStorage1->ReadStoredValue(QString::fromLatin1(kSelectedPathName)).ToString();
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
