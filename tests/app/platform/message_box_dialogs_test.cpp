// The program's modal boxes on real (offscreen) widgets: the text as given, the application's name as
// caption, Yes and No buttons for a confirmation, and closing the box counting as No.
#include "app/platform/message_box_dialogs.h"

#include "app/window/desktop_look.h"
#include "tests/support/test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

using app::platform::MessageBoxDialogs;

namespace {

struct Seen {
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Once the modal box is up, records it and acts on it.
void WhenBoxShows(Seen& seen, std::function<void(QMessageBox*)> act) {
    QTimer::singleShot(0, [&seen, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            WhenBoxShows(seen, act);  // not up yet
            return;
        }
        seen = {box->windowTitle(), box->text(), box->standardButtons()};
        act(box);
    });
}

}  // namespace

class MessageBoxDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setApplicationName("ZORVEL_Backup"); }

    void confirm_data() {
        QTest::addColumn<int>("action");  // 0 Yes, 1 No, 2 Escape
        QTest::addColumn<bool>("answer");
        QTest::newRow("Yes") << 0 << true;
        QTest::newRow("No") << 1 << false;
        QTest::newRow("closed with Escape") << 2 << false;
    }
    void confirm() {
        QFETCH(int, action);
        QFETCH(bool, answer);
        Seen seen;
        WhenBoxShows(seen, [action](QMessageBox* box) {
            if (action == 0) box->button(QMessageBox::Yes)->click();
            if (action == 1) box->button(QMessageBox::No)->click();
            if (action == 2) QTest::keyClick(box, Qt::Key_Escape);
        });
        MessageBoxDialogs dialogs;
        QCOMPARE(dialogs.Confirm("You must be close \"ZORVEL_Log 3\" program"), answer);
        QCOMPARE(seen.caption, QStringLiteral("ZORVEL_Backup"));
        QCOMPARE(seen.text, QStringLiteral("You must be close \"ZORVEL_Log 3\" program"));
        QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    }

    void inform() {
        Seen seen;
        WhenBoxShows(seen, [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
        QWidget parent;
        MessageBoxDialogs dialogs(&parent);
        dialogs.Inform("This program must be run in ZORVEL_Log 3 folder");
        QCOMPARE(seen.text, QStringLiteral("This program must be run in ZORVEL_Log 3 folder"));
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    // Every kind of box is at least as wide as its title needs beside the window manager's buttons,
    // even with the shortest text, and shows the theme's button pictures or none -- never the toolkit's
    // built-in bitmaps.
    void boxesAreWideEnoughForTheirTitleAndLookLikeTheDesktop() {
        const QString title = QStringLiteral("ZORVEL_Backup 3.1 - a long caption of the engine");
        for (auto icon : {QMessageBox::Question, QMessageBox::Information, QMessageBox::Warning, QMessageBox::Critical}) {
            int width = 0;
            QList<QIcon> pictures;
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                width = box->width();
                for (QAbstractButton* button : box->buttons()) pictures.append(button->icon());
                box->buttons().first()->click();
            });
            app::platform::ShowMessageBox(nullptr, icon, title, "Ok?", QMessageBox::Yes | QMessageBox::No);
            QVERIFY2(width >= app::platform::MessageBoxWidthForTitle(title), qPrintable(QString::number(width)));
            QVERIFY(app::platform::MessageBoxWidthForTitle(title) >
                    QFontMetrics(QApplication::font()).horizontalAdvance(title));
            QCOMPARE(pictures.size(), 2);
            for (const QIcon& picture : pictures)
                QVERIFY(picture.isNull() || QIcon::hasThemeIcon("dialog-ok") || QIcon::hasThemeIcon("dialog-cancel"));
        }
    }

    // The program names its desktop entry and has a window icon; the entry and the icon it names ship
    // in dist/.
    void desktopEntryAndWindowIcon() {
        app::ApplyDesktopLook();
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("zorvel-backup"));
        QVERIFY(!QGuiApplication::windowIcon().isNull());
        QVERIFY(!QGuiApplication::windowIcon().pixmap(32, 32).isNull());
        const QString dist = QString::fromStdString(testing_support::SourceDir()) + "/dist/";
        QFile entry(dist + "zorvel-backup.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        for (const char* line : {"[Desktop Entry]", "\nType=Application\n", "\nName=ZORVEL_Backup\n",
                                 "\nIcon=zorvel-backup\n", "\nStartupWMClass=ZORVEL_Backup\n"})
            QVERIFY2(text.contains(QString::fromLatin1(line)), line);
        QFile icon(dist + "zorvel-backup.svg");
        QVERIFY(icon.open(QIODevice::ReadOnly));
        QVERIFY(icon.readAll().contains("<svg"));
    }
};

QTEST_MAIN(MessageBoxDialogsTest)
#include "message_box_dialogs_test.moc"
