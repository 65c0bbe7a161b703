// The engine's host on Qt: the file filter's translation, the boxes' answers, the busy cursor that
// never pops a cursor it did not push, and the message pump.
#include "app/window/qt_host.h"
#include "tests/ui/modal_driver.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace app;

class QtHostTest : public QObject {
    Q_OBJECT

private slots:
    void fileFilterBecomesQtsList_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the reader's") << "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|All Files (*.*)|*.*"
                                      << "Zip Files (*.zip);;SFX Files (*.exe);;All Files (*.*)";
        QTest::newRow("several patterns") << "Archives|*.zip;*.jar" << "Archives (*.zip *.jar)";
        QTest::newRow("no description") << "|*.zip" << "*.zip";
        QTest::newRow("dangling description") << "Zip Files|*.zip|Other" << "Zip Files (*.zip)";
        QTest::newRow("empty") << "" << "";
    }
    void fileFilterBecomesQtsList() {
        QFETCH(QString, filter);
        QFETCH(QString, expected);
        QCOMPARE(QtFileFilter(filter.toStdString()), expected);
    }

    void boxesAnswerWithTheButtonPressed_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(archive::Buttons::YesNo) << int(QMessageBox::Yes) << int(archive::Answer::Yes);
        QTest::newRow("no") << int(archive::Buttons::YesNo) << int(QMessageBox::No) << int(archive::Answer::No);
        QTest::newRow("ok") << int(archive::Buttons::OkCancel) << int(QMessageBox::Ok) << int(archive::Answer::Ok);
        QTest::newRow("cancel") << int(archive::Buttons::OkCancel) << int(QMessageBox::Cancel)
                                << int(archive::Answer::Cancel);
        QTest::newRow("ok only") << int(archive::Buttons::Ok) << int(QMessageBox::Ok) << int(archive::Answer::Ok);
    }
    void boxesAnswerWithTheButtonPressed() {
        QFETCH(int, buttons);
        QFETCH(int, press);
        QFETCH(int, answer);
        QtHost host;
        QString caption, text;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            caption = box->windowTitle();
            text = box->text();
            box->button(static_cast<QMessageBox::StandardButton>(press))->click();
        });
        const archive::Answer got =
            host.MessageBox("File Exists Alert", "Replace existing file a.txt?", static_cast<archive::Buttons>(buttons));
        QCOMPARE(int(got), answer);
        QCOMPARE(caption, QStringLiteral("File Exists Alert"));
        QCOMPARE(text, QStringLiteral("Replace existing file a.txt?"));
    }

    void busyCursorPopsOnlyItsOwn() {
        QtHost host;
        QApplication::setOverrideCursor(Qt::PointingHandCursor);  // someone else's
        host.SetBusyCursor(false);                                 // not ours: stays
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
        host.SetBusyCursor(true);
        host.SetBusyCursor(true);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        host.SetBusyCursor(false);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
        {
            QtHost forgotten;
            forgotten.SetBusyCursor(true);
        }  // a host that goes away takes its cursor with it
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
        QApplication::restoreOverrideCursor();
        QVERIFY(!QApplication::overrideCursor());
    }

    void processMessagesRunsPendingEvents() {
        QtHost host;
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        host.ProcessMessages();
        QVERIFY(ran);
    }
};

QTEST_MAIN(QtHostTest)
#include "qt_host_test.moc"
