// The program's modal boxes on real (offscreen) widgets: the text as given, the application's name as
// caption, Yes and No buttons for a confirmation, and closing the box counting as No.
#include "app/platform/message_box_dialogs.h"

#include <QApplication>
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
};

QTEST_MAIN(MessageBoxDialogsTest)
#include "message_box_dialogs_test.moc"
