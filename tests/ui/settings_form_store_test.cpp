// The product's QSettings form store, in a scratch configuration folder (never the user's own): the file
// it creates on opening, texts that QSettings would otherwise read as lists, and the typed-value errors.
#include "ui/settings_form_store.h"
#include "ui/form_storage.h"
#include "ui/ui_errors.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace ui;

class SettingsFormStoreTest : public QObject {
    Q_OBJECT
    QTemporaryDir config;

private slots:
    void initTestCase() {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    }

    void openingCreatesTheKeyFile() {
        SettingsFormStore store;
        store.Open("Software/ZORVEL_Backup", false);
        QCOMPARE(store.FileName(), config.path() + "/Software/ZORVEL_Backup.ini");
        QVERIFY(QFile::exists(store.FileName()));
        QCOMPARE(store.ReadValue("TfmMain", "NormPos"), std::optional<QString>());
        store.Close();
        QCOMPARE(store.ReadValue("TfmMain", "NormPos"), std::optional<QString>());
    }

    void textsRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("position") << "NormPos(800x600)" << "518,168,952,536";
        QTest::newRow("negative position") << "MinMaxPos" << "-1,-1,-1,-1";
        QTest::newRow("number") << "PixelsPerInch" << "96";
        QTest::newRow("empty") << "SelectedPathName" << "";
        QTest::newRow("path with spaces") << "SelectedPathName" << "/home/op/My Backups";
        QTest::newRow("windows path") << "SelectedPathName" << "c:\\";
        QTest::newRow("quotes and semicolons") << "Odd" << "\"a\";'b'=c";
        QTest::newRow("non-ASCII") << "SelectedPathName" << QString::fromUtf8("/home/op/Zálohy");
    }
    void textsRoundTrip() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        {
            SettingsFormStore store;
            store.Open("Software/RoundTrip", true);
            store.WriteValue("TfmMain", name, text);
            store.Close();
        }
        SettingsFormStore store;
        store.Open("Software/RoundTrip", false);
        QCOMPARE(store.ReadValue("TfmMain", name), std::optional<QString>(text));
    }

    void valuesThatAreNotText() {
        {
            QSettings raw(QSettings::IniFormat, QSettings::UserScope, "Software", "Typed");
            raw.setValue("TfmMain/Flags", 3);  // written by hand as a typed value
            raw.setValue("TfmMain/List", QStringList({"a", "b"}));
        }
        SettingsFormStore store;
        store.Open("Software/Typed", false);
        try {
            store.ReadValue("TfmMain", "List");
            QFAIL("no exception");
        } catch (const ERegistryException& e) {
            QCOMPARE(QString(e.what()), QString("Invalid data type for 'List'"));
        }
    }

    void keyThatCannotBeCreated() {
        // A plain file where the key's folder would go: no key can be made there, not even by root.
        QFile blocker(config.path() + "/Blocked");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SettingsFormStore store;
        try {
            store.Open("Blocked/Name", false);
            QFAIL("no exception");
        } catch (const ERegistryException& e) {
            QCOMPARE(QString(e.what()), QString("Failed to create key Blocked/Name"));
        }
    }

    void formStorageThroughTheProductStore() {
        {
            QWidget form;
            auto* storage = new TFormStorage(&form);
            storage->SetIniSection("TfmMain");
            storage->SetIniFileName("Software/Product");
            storage->WriteStoredValue("SelectedPathName", "c:\\");
            form.setGeometry(100, 120, 300, 200);
            form.show();
            storage->WriteStoredValue("SelectedPathName", "/home/op/Backups");
            QVERIFY(form.close());
        }
        const QString file = config.path() + "/Software/Product.ini";
        QSettings raw(file, QSettings::IniFormat);
        QCOMPARE(raw.value("TfmMain/SelectedPathName").toString(), QString("/home/op/Backups"));
        QCOMPARE(raw.value("TfmMain/NormPos").toString(), QString("100,120,400,320"));
        QCOMPARE(raw.value("TfmMain/Visible").toString(), QString("0"));
        QWidget form;
        auto* storage = new TFormStorage(&form);
        storage->SetIniSection("TfmMain");
        storage->SetIniFileName("Software/Product");
        storage->WriteStoredValue("SelectedPathName", "c:\\");
        form.show();
        QCOMPARE(form.geometry(), QRect(100, 120, 300, 200));
        QCOMPARE(storage->ReadStoredValue("SelectedPathName"), Variant("/home/op/Backups"));
        if (qEnvironmentVariableIsSet("ZB_SHOW_INI")) qDebug().noquote() << ReadAll(file);
    }

    static QString ReadAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

QTEST_MAIN(SettingsFormStoreTest)
#include "settings_form_store_test.moc"
