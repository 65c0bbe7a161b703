// TFileListBox on a scratch folder: masks, sorting, hidden entries, typed paths, the selected file's
// path, when the folder is read again, and when OnChange fires.
#include "ui/file_list_box.h"

#include "archive/errors.h"
#include "archive/fs/fs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace ui;

namespace {

void Touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

QStringList Items(TFileListBox& list) {
    QStringList out;
    for (int i = 0; i < list.Count(); ++i) out << list.ItemText(i);
    return out;
}

}  // namespace

class FileListBoxTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString root;

    // A list already showing root; OnChange counted in changes.
    struct Fixture {
        TFileListBox list;
        int changes = 0;
        Fixture(const QString& folder, const QString& mask) {
            list.OnChange = [this](QObject* sender) {
                QCOMPARE(sender, &list);
                ++changes;
            };
            list.SetMask(mask);
            list.SetPathText(folder);
            list.HandleNeeded();
        }
    };

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        root = dir->path();
        for (const char* name : {"zorvel3_20261206103800.zip", "zorvel3_20250101000000.zip",
                                 "ZORVEL3_20240101000000.ZIP", "notes.txt", "Setup.EXE", "run.bat", ".hidden.zip",
                                 "zorvel3x.zip"})
            Touch(root + "/" + name);
        QDir(root).mkpath("Backups");
        QDir(root).mkpath("sub.zip");
        Touch(root + "/Backups/a.zip");
    }

    void catalogueMaskSortsIgnoringCaseAndKeepsDiskCase() {
        Fixture f(root, "zorvel3*.zip");
        QCOMPARE(Items(f.list), QStringList({"ZORVEL3_20240101000000.ZIP", "zorvel3_20250101000000.zip",
                                             "zorvel3_20261206103800.zip", "zorvel3x.zip"}));
        QCOMPARE(f.list.ItemIndex(), -1);
        QCOMPARE(f.list.SelectedFileName(), QString());
    }

    void severalMasksAndAFileListedTwice() {
        Fixture f(root, "*.txt;*.bat");
        QCOMPARE(Items(f.list), QStringList({"notes.txt", "run.bat"}));
        f.list.SetMask("zorvel3_2026*;*.zip");
        QCOMPARE(Items(f.list), QStringList({"ZORVEL3_20240101000000.ZIP", "zorvel3_20250101000000.zip",
                                             "zorvel3_20261206103800.zip", "zorvel3_20261206103800.zip",
                                             "zorvel3x.zip"}));
    }

    void hiddenEntriesAndFoldersOnlyOnRequest() {
        Fixture f(root, "*.*");
        QVERIFY(!Items(f.list).contains(".hidden.zip"));
        QVERIFY(!Items(f.list).contains("[Backups]"));
        QCOMPARE(f.list.Count(), 7);
        f.list.SetFileType(TFileType(ftNormal) | ftDirectory);
        QVERIFY(Items(f.list).contains("[Backups]"));
        QVERIFY(Items(f.list).contains("[sub.zip]"));
        f.list.SetFileType(ftHidden);  // hidden ones only
        QCOMPARE(Items(f.list), QStringList({".hidden.zip"}));
    }

    void hiddenAndSystemByAttribute() {
        // Files marked the way Wine keeps the logger's attributes, without a leading dot.
        namespace fs = archive::fs;
        const std::string hidden = (root + "/zorvel3_hidden.zip").toStdString();
        const std::string system = (root + "/zorvel3_system.zip").toStdString();
        Touch(QString::fromStdString(hidden));
        Touch(QString::fromStdString(system));
        fs::SetAttributes(hidden, fs::faArchive | fs::faHidden);
        fs::SetAttributes(system, fs::faArchive | fs::faSysFile);
        if (!(fs::GetAttributes(hidden).value_or(0) & fs::faHidden))
            QSKIP("this file system keeps no extended attributes");
        Fixture f(root, "zorvel3*.zip");
        QVERIFY(!Items(f.list).contains("zorvel3_hidden.zip"));
        QVERIFY(!Items(f.list).contains("zorvel3_system.zip"));
        f.list.SetFileType(TFileType(ftNormal) | ftHidden | ftSystem);
        QVERIFY(Items(f.list).contains("zorvel3_hidden.zip"));
        QVERIFY(Items(f.list).contains("zorvel3_system.zip"));
    }

    void glyphsAndRowHeight() {
        Fixture f(root, "*.*");
        f.list.SetFileType(TFileType(ftNormal) | ftDirectory);
        f.list.SetShowGlyphs(true);
        f.list.show();
        const QStringList items = Items(f.list);
        QCOMPARE(f.list.ItemGlyph(items.indexOf("Setup.EXE")), Glyph::Executable);
        QCOMPARE(f.list.ItemGlyph(items.indexOf("run.bat")), Glyph::Executable);
        QCOMPARE(f.list.ItemGlyph(items.indexOf("notes.txt")), Glyph::UnknownFile);
        QCOMPARE(f.list.ItemGlyph(items.indexOf("[Backups]")), Glyph::ClosedFolder);
        QVERIFY(f.list.visualItemRect(f.list.item(0)).height() >= 16);
        QCOMPARE(GlyphPixmap(Glyph::UnknownFile).size(), QSize(16, 15));
        QCOMPARE(GlyphPixmap(Glyph::FolderButton).size(), QSize(14, 12));
    }

    void selectedFileNameForRootAndSubFolders() {
        Fixture f(root + "/Backups", "*.zip");
        f.list.SetItemIndex(0);
        QCOMPARE(f.list.SelectedFileName(), root + "/Backups/a.zip");
        f.list.SetPathText("/");
        QCOMPARE(f.list.Folder(), QString("/"));
        // The root always holds the top folder of this test's scratch folder ("[tmp]" as a rule): no
        // doubled separator after the root.
        f.list.SetMask("*.*");
        f.list.SetFileType(ftDirectory);
        const QString top = "[" + QDir(root).canonicalPath().section('/', 1, 1) + "]";
        const int at = Items(f.list).indexOf(top);
        QVERIFY2(at >= 0, qPrintable(top + " not in " + Items(f.list).join(' ')));
        f.list.SetItemIndex(at);
        QCOMPARE(f.list.SelectedFileName(), "/" + top);
        f.list.SetItemIndex(-1);
        QCOMPARE(f.list.SelectedFileName(), QString());
    }

    void typedPaths() {
        Fixture f(root, "zorvel3*.zip");
        f.list.SetPathText(root + "/backups");  // other case: the folder on disk
        QCOMPARE(f.list.Folder(), root + "/Backups");
        f.list.SetPathText(root + "/Backups/");
        QCOMPARE(f.list.Folder(), root + "/Backups");
        f.list.SetPathText("..");
        QCOMPARE(f.list.Folder(), root);
        f.list.SetPathText("[Backups]");
        QCOMPARE(f.list.Folder(), root + "/Backups");
        f.list.SetPathText(root + "/*.txt");
        QCOMPARE(f.list.Folder(), root);
        QCOMPARE(f.list.Mask(), QString("*.txt"));
        QCOMPARE(Items(f.list), QStringList({"notes.txt"}));
        f.list.SetPathText("sub.zip");  // a folder whose name matches the mask is still a folder
        QCOMPARE(f.list.Folder(), root + "/sub.zip");
    }

    void typedFileName() {
        Fixture f(root, "*.*");
        const int before = f.changes;
        f.list.SetPathText(root + "/NOTES.TXT");
        QCOMPARE(f.list.SelectedFileName(), root + "/notes.txt");
        QCOMPARE(f.changes, before + 1);
        // A file the mask hides becomes the mask.
        f.list.SetMask("zorvel3*.zip");
        f.list.SetPathText(root + "/run.bat");
        QCOMPARE(f.list.Mask(), QString("run.bat"));
        QCOMPARE(f.list.SelectedFileName(), root + "/run.bat");
    }

    void missingFolderRaisesAndKeepsItems() {
        Fixture f(root, "zorvel3*.zip");
        const QStringList before = Items(f.list);
        const int changes = f.changes;
        QVERIFY_THROWS_EXCEPTION(archive::EInOutError, f.list.SetPathText(root + "/NoSuchFolder"));
        QVERIFY_THROWS_EXCEPTION(archive::EInOutError, f.list.SetPathText(root + "/NoSuchFolder/x.zip"));
        QVERIFY_THROWS_EXCEPTION(archive::EInOutError, f.list.SetPathText(root + "/notes.txt/x"));
        QCOMPARE(f.list.Folder(), root);
        QCOMPARE(Items(f.list), before);
        QCOMPARE(f.changes, changes);

        f.list.SetPathText(root + "/Backups");
        QCOMPARE(Items(f.list), QStringList());
        QVERIFY(QDir(root + "/Backups").removeRecursively());
        try {
            f.list.ReloadFiles();
            QFAIL("no exception");
        } catch (const archive::EInOutError& e) {
            QVERIFY(QString(e.what()).contains(root + "/Backups"));
        }
        QCOMPARE(f.list.Folder(), root + "/Backups");
    }

    void sameFolderIsNotReadAgainButReloadIs() {
        Fixture f(root, "zorvel3*.zip");
        const int changes = f.changes;
        Touch(root + "/zorvel3_20270101000000.zip");
        f.list.SetPathText(root);
        f.list.SetPathText(root.toUpper() + "/");  // the same folder typed in capitals
        QCOMPARE(f.list.Count(), 4);
        QCOMPARE(f.changes, changes);
        f.list.ReloadFiles();
        QCOMPARE(f.list.Count(), 5);
        QCOMPARE(f.changes, changes + 1);
        QCOMPARE(f.list.ItemIndex(), -1);
    }

    void onChangeCount() {
        Fixture f(root, "zorvel3*.zip");
        QCOMPARE(f.changes, 1);  // the first read
        f.list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.list));
        auto click = [&](int row) {
            QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, f.list.visualItemRect(f.list.item(row)).center());
        };
        click(1);
        QCOMPARE(f.list.ItemIndex(), 1);
        QCOMPARE(f.changes, 2);
        click(1);  // the same item again
        QCOMPARE(f.changes, 2);
        QTest::keyClick(f.list.viewport(), Qt::Key_Down);
        QCOMPARE(f.list.ItemIndex(), 2);
        QCOMPARE(f.changes, 3);
        f.list.SetItemIndex(0);  // from code: nothing
        QCOMPARE(f.changes, 3);
        click(0);  // differs from the last reported (2)
        QCOMPARE(f.changes, 4);
        f.list.ReloadFiles();
        QCOMPARE(f.changes, 5);
        QCOMPARE(f.list.ItemIndex(), -1);
    }

    // The owner shows what it was last told or what its code selected. A change the user makes reaches
    // it even when it only returns to the item last reported; a click that changes nothing does not.
    void userChangesAfterACodeSelectionAreReported_data() {
        QTest::addColumn<int>("userFirst");  // the row the user picks first; -1: none
        QTest::addColumn<int>("codeRow");    // the row code selects then, silently; -2: none
        QTest::addColumn<int>("userClick");  // the row the user clicks last; -1: the empty area below the rows
        QTest::addColumn<bool>("reported");
        QTest::newRow("code selected, click below the rows") << -1 << 1 << -1 << true;
        QTest::newRow("code selected, click back on the row reported last") << 0 << 1 << 0 << true;
        QTest::newRow("nothing selected, click below the rows") << -1 << -2 << -1 << false;
        QTest::newRow("click on the row reported last") << 1 << -2 << 1 << false;
    }
    void userChangesAfterACodeSelectionAreReported() {
        QFETCH(int, userFirst);
        QFETCH(int, codeRow);
        QFETCH(int, userClick);
        QFETCH(bool, reported);
        Fixture f(root, "zorvel3*.zip");
        f.list.resize(300, 200);  // room below the three rows
        f.list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.list));
        const auto click = [&](int row) {
            const QPoint at = row >= 0 ? f.list.visualItemRect(f.list.item(row)).center()
                                       : QPoint(5, f.list.viewport()->height() - 5);
            QTest::mouseClick(f.list.viewport(), Qt::LeftButton, {}, at);
        };
        if (userFirst >= 0) click(userFirst);
        if (codeRow >= -1) f.list.SetItemIndex(codeRow);
        const int before = f.changes;
        click(userClick);
        QCOMPARE(f.list.ItemIndex(), userClick);
        QCOMPARE(f.changes - before, reported ? 1 : 0);
    }

    void noSearchBeforeTheListHasAWindow() {
        TFileListBox list;  // never shown
        int changes = 0;
        list.OnChange = [&](QObject*) { ++changes; };
        QCOMPARE(list.Folder(), QDir::currentPath());
        list.SetMask("*.txt");
        list.SetPathText(root);
        QCOMPARE(changes, 0);
        QVERIFY(!list.HandleAllocated());
        QCOMPARE(Items(list), QStringList({"notes.txt"}));  // the first item read gives it its window
        QCOMPARE(changes, 1);
        QCOMPARE(list.width(), 145);
    }
};

QTEST_MAIN(FileListBoxTest)
#include "file_list_box_test.moc"
