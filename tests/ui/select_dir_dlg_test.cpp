// The "Select Directory" dialog: its controls, texts and sizes, the start folder, the result, the drive
// chooser, and the create options, driven through the real widgets.
#include "ui/select_dir_dlg.h"

#include "ui/directory_tree.h"
#include "ui/file_list_box.h"
#include "ui/mounts.h"
#include "modal_driver.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace ui;

namespace {

template <class T = QWidget>
T* Control(QWidget* dialog, const char* name) {
    T* w = dialog->findChild<T*>(QString::fromLatin1(name));
    if (!w) qWarning("no control %s", name);
    return w;
}

}  // namespace

class SelectDirDlgTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString root;

private slots:
    void initTestCase() {
        root = dir.path();
        QDir(root).mkpath("Backups/2025");
        QDir(root).mkpath("logs");
        QDir(root).mkpath(".cache");
        QFile f(root + "/Backups/a.zip");
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

    void controlsTextsAndGeometry_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("visible");
        QTest::newRow("name label") << "DirLabel" << "Directory &Name:" << QRect(8, 8, 92, 13) << true;
        QTest::newRow("path label") << "DirPath" << "" << QRect(8, 24, 313, 20) << true;
        QTest::newRow("edit") << "DirEdit" << "" << QRect(8, 24, 313, 20) << false;
        QTest::newRow("directories label") << "DirectoryLabel" << "&Directories:" << QRect(8, 56, 66, 13) << true;
        QTest::newRow("tree") << "DirList" << "" << QRect(8, 72, 213, 138) << true;
        QTest::newRow("files label") << "FileLabel" << "&Files: (*.*)" << QRect(232, 56, 57, 13) << true;
        QTest::newRow("files") << "FileList" << "" << QRect(232, 72, 185, 93) << true;
        QTest::newRow("drives label") << "DriveLabel" << "D&rives:" << QRect(232, 176, 41, 13) << true;
        QTest::newRow("drives") << "DriveList" << "" << QRect(232, 192, 185, 19) << true;
        QTest::newRow("network") << "NetButton" << "Ne&twork..." << QRect(8, 224, 77, 27) << false;
        QTest::newRow("ok moved right") << "OKButton" << "OK" << QRect(256, 224, 77, 27) << true;
        QTest::newRow("cancel moved right") << "CancelButton" << "Cancel" << QRect(340, 224, 77, 27) << true;
        QTest::newRow("help") << "HelpButton" << "&Help" << QRect(340, 224, 77, 27) << false;
    }
    void controlsTextsAndGeometry() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, rect);
        QFETCH(bool, visible);
        TSelectDirDlg dialog({}, 0, nullptr, 96);
        dialog.SetDirectory(root);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("Select Directory"));
        QCOMPARE(dialog.size(), QSize(424, 255));
        QWidget* w = Control(&dialog, name.toLatin1().constData());
        QVERIFY(w);
        if (qobject_cast<QLabel*>(w) && !text.isEmpty()) {
            // Captions keep their place and grow with their text.
            QCOMPARE(w->pos(), rect.topLeft());
            QVERIFY(w->width() >= rect.width() && w->height() >= rect.height());
            QVERIFY(w->width() >= w->sizeHint().width());
        } else {
            QCOMPARE(w->geometry(), rect);
        }
        QCOMPARE(w->isVisible(), visible);
        if (auto* label = qobject_cast<QLabel*>(w); label && !text.isEmpty()) QCOMPARE(label->text(), text);
        if (auto* button = qobject_cast<QPushButton*>(w)) QCOMPARE(button->text(), text);
        QVERIFY(Control<QPushButton>(&dialog, "OKButton")->isDefault());
    }

    void optionsAndHelpContext() {
        TSelectDirDlg dialog(sdAllowCreate, 7, nullptr, 96);
        dialog.SetDirectory(root);
        dialog.show();
        QVERIFY(Control(&dialog, "DirEdit")->isVisible());
        QVERIFY(!Control(&dialog, "DirPath")->isVisible());
        QVERIFY(Control(&dialog, "HelpButton")->isVisible());
        QCOMPARE(Control(&dialog, "OKButton")->geometry(), QRect(172, 224, 77, 27));
        QCOMPARE(Control(&dialog, "CancelButton")->geometry(), QRect(256, 224, 77, 27));
        QCOMPARE(Control<QLineEdit>(&dialog, "DirEdit")->text(), root);
    }

    void scaledOnOtherScreens() {
        TSelectDirDlg dialog({}, 0, nullptr, 144);
        QCOMPARE(dialog.size(), QSize(636, 383));
        QCOMPARE(Control(&dialog, "DirList")->geometry(), QRect(12, 108, 320, 207));
        QCOMPARE(Control(&dialog, "OKButton")->geometry(), QRect(384, 336, 116, 41));
    }

    void startFolder_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("expected");  // relative to root; "*" for the current folder
        QTest::newRow("existing") << "%/Backups" << "/Backups";
        QTest::newRow("trailing separator") << "%/Backups/" << "/Backups";
        QTest::newRow("other case") << "%/backups/2025" << "/Backups/2025";
        QTest::newRow("hidden folder on the path") << "%/.cache" << "/.cache";
        QTest::newRow("missing") << "%/NoSuchFolder" << "*";
        QTest::newRow("empty") << "" << "*";
        QTest::newRow("a file") << "%/Backups/a.zip" << "*";
    }
    void startFolder() {
        QFETCH(QString, start);
        QFETCH(QString, expected);
        TSelectDirDlg dialog({}, 0, nullptr, 96);
        dialog.SetDirectory(start.replace("%", root));
        const QString want = expected == "*" ? QDir::currentPath() : root + expected;
        QCOMPARE(dialog.Directory(), want);
        QCOMPARE(dialog.DirList()->Directory(), want);
        QCOMPARE(dialog.FileList()->Folder(), want);
    }

    void treeShowsFoldersOnlyWithoutDotFolders() {
        TSelectDirDlg dialog({}, 0, nullptr, 96);
        dialog.SetDirectory(root);
        QTreeWidgetItem* item = dialog.DirList()->FindItem(root);
        QVERIFY(item);
        item->setExpanded(true);
        QStringList children;
        for (int i = 0; i < item->childCount(); ++i) children << item->child(i)->text(0);
        QCOMPARE(children, QStringList({"Backups", "logs"}));
    }

    // Four and more levels of look-alike names: every name on the path is shown whole (the tree scrolls
    // sideways instead of cutting it), the opened folder's name is in view, and each row's tooltip is
    // the folder's whole path.
    void deepLookAlikeFoldersAreToldApart() {
        QTemporaryDir scratch;
        const QString top = QFileInfo(scratch.path()).canonicalFilePath();
        const QString deep = top + "/Program Files/Programs/Programmes/ProgramData/Programmer Backups";
        QVERIFY(QDir().mkpath(deep));
        TSelectDirDlg dialog({}, 0, nullptr, 96);
        dialog.SetDirectory(deep);  // opened before it shows, as RunSelectDirDialog does
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCoreApplication::processEvents();
        TDirectoryTree* tree = dialog.DirList();
        QCOMPARE(tree->width(), 213);
        QVERIFY(tree->horizontalScrollBar()->maximum() > 0);
        QString path = top;
        for (const QString& name : QStringList{"Program Files", "Programs", "Programmes", "ProgramData", "Programmer Backups"}) {
            path += "/" + name;
            QTreeWidgetItem* item = tree->FindItem(path);
            QVERIFY2(item, qPrintable(path));
            QCOMPARE(item->toolTip(0), path);
            const QRect cell = tree->visualItemRect(item);
            const int needed = tree->iconSize().width() + tree->fontMetrics().horizontalAdvance(name);
            QVERIFY2(cell.width() >= needed, qPrintable(name));  // the column is wide enough: nothing cut
        }
        const QRect current = tree->visualItemRect(tree->currentItem());
        QVERIFY(current.left() >= 0 && current.left() < tree->viewport()->width() / 2);
        QVERIFY(tree->viewport()->rect().intersects(current));
    }

    void filesOfTheChosenFolder() {
        TSelectDirDlg dialog({}, 0, nullptr, 96);
        dialog.SetDirectory(root);
        dialog.show();
        dialog.DirList()->setCurrentItem(dialog.DirList()->FindItem(root + "/Backups"));
        QCOMPARE(dialog.Directory(), root + "/Backups");
        QCOMPARE(dialog.FileList()->Count(), 1);
        QCOMPARE(dialog.FileList()->ItemText(0), QString("a.zip"));
        QCOMPARE(Control<QLabel>(&dialog, "DirPath")->toolTip(), root + "/Backups");
    }

    void driveChooserMovesTheTree() {
        TSelectDirDlg dialog({}, 0, nullptr, 96);
        dialog.SetDirectory(root);
        QComboBox* drives = dialog.DriveList();
        QVERIFY(drives->count() >= 1);
        QCOMPARE(drives->itemText(0), QString("/"));
        dialog.show();
        emit drives->activated(0);  // what the chooser reports when the user picks "/"
        QCOMPARE(dialog.Directory(), QString("/"));
        QCOMPARE(dialog.DirList()->currentItem()->text(0), QString("/"));
        dialog.DirList()->SetDirectory(root);
        QCOMPARE(drives->currentText(), MountOf(MountedFolders(), root));
    }

    void runReturnsTheChosenFolder() {
        QString folder = root + "/logs";
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            dialog->DirList()->FindItem(root + "/Backups")->setExpanded(true);
            dialog->DirList()->setCurrentItem(dialog->DirList()->FindItem(root + "/Backups/2025"));
            Control<QPushButton>(dialog, "OKButton")->click();
        });
        QVERIFY(RunSelectDirDialog(folder, {}, 0));
        QCOMPARE(folder, root + "/Backups/2025");

        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            dialog->DirList()->SetDirectory("/");
            Control<QPushButton>(dialog, "OKButton")->click();
        });
        QVERIFY(RunSelectDirDialog(folder, {}, 0));
        QCOMPARE(folder, QString("/"));

        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) { Control<QPushButton>(dialog, "CancelButton")->click(); });
        QVERIFY(!RunSelectDirDialog(folder, {}, 0));
        QCOMPARE(folder, QString("/"));
    }

    void typedNewFolderWithPromptAndCreate() {
        QString folder = root;
        const QString wanted = root + "/new/deeper";
        bool askedTwice = false;
        WhenModal<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
            Control<QLineEdit>(dialog, "DirEdit")->setText("new/deeper/");
            // First answer No: the dialog stays open; then Yes.
            WhenModal<QMessageBox>([&, dialog](QMessageBox* box) {
                QCOMPARE(box->text(), QString("The specified directory does not exist. Create it?"));
                box->button(QMessageBox::No)->click();
                QTimer::singleShot(0, [&, dialog] {
                    QVERIFY(dialog->isVisible());
                    WhenModal<QMessageBox>([&](QMessageBox* again) {
                        askedTwice = true;
                        again->button(QMessageBox::Yes)->click();
                    });
                    Control<QPushButton>(dialog, "OKButton")->click();
                });
            });
            Control<QPushButton>(dialog, "OKButton")->click();
        });
        QVERIFY(RunSelectDirDialog(folder, sdAllowCreate | sdPrompt | sdPerformCreate, 0));
        QVERIFY(askedTwice);
        QCOMPARE(folder, wanted);
        QVERIFY(QDir(wanted).exists());
    }
};

QTEST_MAIN(SelectDirDlgTest)
#include "select_dir_dlg_test.moc"
