// The folder field with its picker, driven through the real widgets: the field, its button and key,
// and the "Select Directory" dialog.
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

// A field and a list box (somewhere for the focus to go), shown in a window.
struct FieldWindow {
    QWidget window;
    TDirectoryEdit* edit = new TDirectoryEdit(&window);
    TFileListBox* other = new TFileListBox(&window);
    FieldWindow() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        window.show();
    }
};

}  // namespace

class DirectoryEditTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString root;

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

    void typingRaisesOnChangeAndThePickerWritesBack() {
        // What the field itself does; how the window reacts to a change is the catalogue's (tested there).
        FieldWindow w;
        auto* edit = w.edit;
        auto* other = w.other;
        QWidget& window = w.window;
        edit->SetText(root);
        QStringList seen;
        edit->OnChange = [&](QObject* sender) {
            QCOMPARE(sender, edit);
            seen << edit->Text();
        };
        edit->setFocus();
        edit->setCursorPosition(root.size());
        int pickers = 0;
        edit->OnBeforeDialog = [&](QObject*, QString&, bool& action) {
            ++pickers;
            action = false;
        };
        QTest::keyClicks(edit, "XY");
        QCOMPARE(seen, QStringList({root + "X", root + "XY"}));  // one change per keystroke
        QCOMPARE(pickers, 0);                                    // typing alone opens no picker
        edit->OnBeforeDialog = nullptr;

        // The picker for a folder that does not exist starts at the process's current folder; Cancel
        // leaves the field as it was.
        QString openedAt;
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            openedAt = dialog->Directory();
            Press(dialog, "CancelButton");
        });
        seen.clear();
        edit->PerformButtonClick();
        QCOMPARE(openedAt, QDir::currentPath());
        QCOMPARE(edit->Text(), root + "XY");
        QCOMPARE(seen, QStringList());
        QCOMPARE(edit->InitialDir(), QString());

        // OK writes the chosen folder into the field (one change) and gives the field the focus back.
        other->setFocus();
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            dialog->DirList()->SetDirectory(root + "/Backups");
            Press(dialog, "OKButton");
        });
        edit->PerformButtonClick();
        QCOMPARE(edit->Text(), root + "/Backups");
        QCOMPARE(seen, QStringList({root + "/Backups"}));
        QCOMPARE(edit->InitialDir(), root + "/Backups");
        QCOMPARE(window.focusWidget(), edit);
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

    // With a change delay, typed text raises OnChange once, when the typing is finished: at Enter, when
    // the focus leaves, after the pause. Text set from code, and the picker's choice, raise it at once;
    // the picker opened half-way through typing takes the place of the typed change.
    void typedTextWaitsUntilTheTypingIsFinished() {
        FieldWindow w;
        auto* edit = w.edit;
        auto* other = w.other;
        QWidget& window = w.window;
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));  // focus moves (and leaves) only in an active window
        edit->SetChangeDelay(300);
        QStringList changes;
        edit->OnChange = [&](QObject*) { changes.append(edit->Text()); };
        edit->setFocus();

        QTest::keyClicks(edit, "/tm");
        QVERIFY(changes.isEmpty() && edit->TypingPending());
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(changes, QStringList({"/tm"}));
        QTest::keyClick(edit, Qt::Key_Return);  // nothing new was typed
        QCOMPARE(changes.size(), 1);

        QTest::keyClicks(edit, "p");
        other->setFocus();
        QCOMPARE(changes, QStringList({"/tm", "/tmp"}));

        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(changes.size(), 2);
        QTRY_COMPARE(changes.size(), 3);
        QCOMPARE(changes.last(), QStringLiteral("/tm"));

        edit->SetText(root);
        QCOMPARE(changes.last(), root);

        QTest::keyClicks(edit, "/Backups");
        WhenModal<TSelectDirDlg>([](TSelectDirDlg* dialog) { Press(dialog, "OKButton"); });
        QTest::keyClick(edit, Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(changes.last(), root + "/Backups");
        QVERIFY(!edit->TypingPending());
        const int count = changes.size();
        QTest::qWait(400);
        QCOMPARE(changes.size(), count);
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
