// The folder field with its picker, driven through the real widgets: the field, its button and key,
// the "Select Directory" dialog, and a file list that follows the field as the backup catalogue does.
#include "ui/directory_edit.h"

#include "ui/directory_tree.h"
#include "ui/file_list_box.h"
#include "modal_driver.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

using namespace ui;

namespace {

void Press(TSelectDirDlg* dialog, const char* button) {
    dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
}

// Cancels whatever dialog comes up, and remembers that one did.
void CancelAnyDialog(bool& opened) {
    WhenModal<TSelectDirDlg>([&opened](TSelectDirDlg* dialog) {
        opened = true;
        Press(dialog, "CancelButton");
    });
}

}  // namespace

class DirectoryEditTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString root;

    // The catalogue's way of following the field: list the typed folder, else open the picker.
    struct Catalogue {
        QWidget window;
        TDirectoryEdit* edit;
        TFileListBox* list;
        int changes = 0;
        Catalogue() {
            auto* layout = new QVBoxLayout(&window);
            edit = new TDirectoryEdit(&window);
            list = new TFileListBox(&window);
            layout->addWidget(edit);
            layout->addWidget(list);
            list->SetMask("zorvel3*.zip");
            edit->OnChange = [this](QObject*) {
                ++changes;
                try {
                    list->SetPathText(edit->Text());
                    list->ReloadFiles();
                } catch (const std::exception&) {
                    edit->PerformButtonClick();
                }
            };
            window.show();
        }
    };

private slots:
    void initTestCase() {
        root = dir.path();
        QDir(root).mkpath("Backups");
        QDir(root).mkpath("logs");
        for (const char* name : {"zorvel3_20250101000000.zip", "Backups/zorvel3_20261206103800.zip",
                                 "Backups/zorvel3_20270101000000.zip"}) {
            QFile f(root + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
    }

    void typingAMissingFolderOpensThePicker() {
        Catalogue c;
        c.edit->SetText(root);
        QCOMPARE(c.list->Count(), 1);
        c.edit->setFocus();
        c.edit->setCursorPosition(root.size());

        QString openedAt;
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            openedAt = dialog->Directory();
            Press(dialog, "CancelButton");
        });
        QTest::keyClicks(c.edit, "X");
        QCOMPARE(openedAt, QDir::currentPath());  // no such folder: the process's current folder
        QCOMPARE(c.edit->Text(), root + "X");     // cancelling leaves the field ...
        QCOMPARE(c.list->Folder(), root);         // ... and the list as they were
        QCOMPARE(c.list->Count(), 1);
        QCOMPARE(c.edit->InitialDir(), QString());

        // OK writes the chosen folder into the field, which lists it.
        c.list->setFocus();
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            dialog->DirList()->SetDirectory(root + "/Backups");
            Press(dialog, "OKButton");
        });
        c.edit->PerformButtonClick();
        QCOMPARE(c.edit->Text(), root + "/Backups");
        QCOMPARE(c.list->Folder(), root + "/Backups");
        QCOMPARE(c.list->Count(), 2);
        QCOMPARE(c.edit->InitialDir(), root + "/Backups");
        QCOMPARE(c.window.focusWidget(), c.edit);  // the field takes the focus back
    }

    void startFolderFollowsTheFieldIgnoringCase() {
        TDirectoryEdit edit;
        edit.SetText(root + "/backups");
        QString openedAt;
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            openedAt = dialog->Directory();
            Press(dialog, "OKButton");
        });
        edit.PerformButtonClick();
        QCOMPARE(openedAt, root + "/Backups");
        QCOMPARE(edit.Text(), root + "/Backups");
    }

    void emptyFieldStartsAtInitialDir() {
        TDirectoryEdit edit;
        edit.SetInitialDir(root + "/logs");
        QString openedAt;
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            openedAt = dialog->Directory();
            dialog->DirList()->SetDirectory(root);
            Press(dialog, "OKButton");
        });
        edit.PerformButtonClick();
        QCOMPARE(openedAt, root + "/logs");
        QCOMPARE(edit.Text(), root);
        QCOMPARE(edit.InitialDir(), root);
    }

    void multipleDirsAppend() {
        TDirectoryEdit edit;
        edit.SetMultipleDirs(true);
        QStringList seen;
        edit.OnChange = [&](QObject*) { seen << edit.Text(); };
        edit.SetText(root);
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            dialog->DirList()->SetDirectory(root + "/logs");
            Press(dialog, "OKButton");
        });
        edit.PerformButtonClick();
        QCOMPARE(edit.Text(), root + ";" + root + "/logs");

        // Selected text is deleted first (one change), then the choice is appended to what is left.
        edit.SetText(root);
        edit.selectAll();
        seen.clear();
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            dialog->DirList()->SetDirectory(root + "/Backups");
            Press(dialog, "OKButton");
        });
        edit.PerformButtonClick();
        QCOMPARE(seen, QStringList({"", root + "/Backups"}));
    }

    void toolkitFolderChooser() {
        TDirectoryEdit edit;
        edit.SetDialogKind(dkWin32);
        edit.SetDialogText("Backup folder");
        edit.SetText(root + "/LOGS");
        QString caption, openedAt;
        WhenModal<QFileDialog>([&](QFileDialog* dialog) {
            caption = dialog->windowTitle();
            openedAt = dialog->directory().absolutePath();
            dialog->setDirectory(root + "/Backups");
            static_cast<QDialog*>(dialog)->accept();  // what its Choose button does
        });
        edit.PerformButtonClick();
        QCOMPARE(caption, QString("Backup folder"));
        QCOMPARE(openedAt, root + "/logs");
        QCOMPARE(edit.Text(), root + "/Backups");
        QCOMPARE(edit.InitialDir(), root + "/Backups");

        WhenModal<QFileDialog>([&](QFileDialog* dialog) { dialog->reject(); });
        edit.PerformButtonClick();
        QCOMPARE(edit.Text(), root + "/Backups");
    }

    void buttonKeyAndReadOnly() {
        TDirectoryEdit edit;
        edit.show();
        QCOMPARE(edit.height(), 21);
        QCOMPARE(edit.Button()->geometry(), QRect(edit.width() - 23, 2, 21, 17));
        int clicks = 0;
        edit.OnButtonClick = [&](QObject*) { ++clicks; };

        bool opened = false;
        CancelAnyDialog(opened);
        QTest::mouseClick(edit.Button(), Qt::LeftButton);
        QVERIFY(opened);
        QCOMPARE(clicks, 1);

        opened = false;
        CancelAnyDialog(opened);
        QTest::keyClick(&edit, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(opened);
        QCOMPARE(clicks, 2);

        edit.SetReadOnly(true);
        edit.PerformButtonClick();
        QTest::keyClick(&edit, Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(clicks, 2);
        QVERIFY(edit.isReadOnly());

        edit.SetAlwaysEnable(true);
        opened = false;
        CancelAnyDialog(opened);
        edit.PerformButtonClick();
        QVERIFY(opened);
        QCOMPARE(clicks, 3);
    }

    void dialogHooks() {
        TDirectoryEdit edit;
        edit.SetText(root);
        edit.OnBeforeDialog = [](QObject*, QString&, bool& action) { action = false; };
        edit.PerformButtonClick();  // no dialog: the test would hang otherwise
        QCOMPARE(edit.Text(), root);

        edit.OnBeforeDialog = [&](QObject*, QString& name, bool&) { name = root + "/logs"; };
        QString afterName;
        bool afterAction = true;
        edit.OnAfterDialog = [&](QObject*, QString& name, bool& action) {
            afterName = name;
            afterAction = action;
        };
        QString openedAt;
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            openedAt = dialog->Directory();
            Press(dialog, "CancelButton");
        });
        edit.PerformButtonClick();
        QCOMPARE(openedAt, root + "/logs");
        QVERIFY(!afterAction);
        QCOMPARE(edit.Text(), root);

        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) { Press(dialog, "OKButton"); });
        edit.PerformButtonClick();
        QVERIFY(afterAction);
        QCOMPARE(afterName, root + "/logs");
        QCOMPARE(edit.Text(), root + "/logs");
    }
};

QTEST_MAIN(DirectoryEditTest)
#include "directory_edit_test.moc"
