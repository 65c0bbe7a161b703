// The creation label is cut out of the backup's name by position, whatever the name holds.
#include "app/creation_label.h"

#include <QtTest>

class CreationLabelTest : public QObject {
    Q_OBJECT

private slots:
    void labelIsCutOutByPosition_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("label");
        QTest::newRow("backup") << "zorvel3_20261206103800.zip" << "06.12.2026 at 10:38";
        QTest::newRow("midnight new year") << "zorvel3_20250101000000.zip" << "01.01.2025 at 00:00";
        QTest::newRow("seconds are not shown") << "zorvel3_20251231235959.zip" << "31.12.2025 at 23:59";
        // Only the mask matched: the pieces are whatever stands at the positions.
        QTest::newRow("no underscore") << "zorvel3x.zip" << "3x.el.zorv at :";
        QTest::newRow("capitals are not removed") << "ZORVEL3_20261206103800.ZIP" << "3_.EL.ZORV at 20:26";
        QTest::newRow("short timestamp") << "zorvel3_2026.zip" << "..2026 at :";
        QTest::newRow("nothing left") << "zorvel3_.zip" << ".. at :";
        QTest::newRow("text after the stamp") << "zorvel3_20261206103800 (copy).zip" << "06.12.2026 at 10:38";
        QTest::newRow("first .zip only") << "zorvel3_.zip.zip" << "...zip at :";
        QTest::newRow("first prefix only") << "zorvel3_zorvel3_20261206103800.zip" << "3_.el.zorv at 20:26";
        QTest::newRow("prefix inside the name") << "old_zorvel3_20261206.zip" << "26.20.old_ at 12:06";
    }
    void labelIsCutOutByPosition() {
        QFETCH(QString, fileName);
        QFETCH(QString, label);
        QCOMPARE(app::CreationLabel(fileName), label);
    }
};

QTEST_MAIN(CreationLabelTest)
#include "creation_label_test.moc"
