// TFormStorage on a real top-level widget (offscreen platform) with the in-memory store: first run, the
// values a close writes, the fallbacks when reading the placement back, the stored values, and the hooks'
// order and failure paths.
#include "ui/form_storage.h"
#include "ui/memory_form_store.h"
#include "ui/ui_errors.h"

#include <QCloseEvent>
#include <QtTest>

using namespace ui;

// The form under test: records what its own handlers saw, and may refuse to close.
class TfmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfmMain(std::shared_ptr<MemoryFormStore> store) {
        storage = new TFormStorage(this);
        storage->SetOptions(fpPosition);
        storage->SetStore(store);
        storage->ErrorReporter = [this](const QString& m) { errors << m; };
        TStoredValue& item = storage->StoredValues().Add();
        item.SetName("SelectedPathName");
        item.SetValue("c:\\");
        setGeometry(518, 168, 434, 368);
    }
    // The destroy hook runs before the form's own clean-up, while what its reporter uses still exists.
    ~TfmMain() override { storage->FormDestroy(); }
    TFormStorage* storage;
    QStringList errors;
    bool allowClose = true;
    QString seenOnShow;
    QString writeOnClose;

protected:
    void showEvent(QShowEvent*) override { seenOnShow = storage->ReadStoredValue("SelectedPathName").ToString(); }
    void closeEvent(QCloseEvent* e) override {
        if (!writeOnClose.isEmpty()) storage->WriteStoredValue("SelectedPathName", writeOnClose);
        if (!allowClose) e->ignore();
    }
};

class FormStorageTest : public QObject {
    Q_OBJECT
    std::shared_ptr<MemoryFormStore> store;
    QString key;
    const QString section = "TfmMain";

    std::optional<QString> Stored(const QString& name) { return store->Text(key, section, name); }
    void Plant(const QString& name, const QString& text) { store->Plant(key, section, name, text); }
    QString Suffix() { return ScreenSizeSuffix(); }

private slots:
    void init() {
        store = std::make_shared<MemoryFormStore>();
        key = TFormPlacement::DefaultStorageKey();
    }

    void firstRunCreatesKeyButNoSection() {
        TfmMain form(store);
        form.show();
        QVERIFY(store->HasKey(key));
        QVERIFY(!store->HasSection(key, section));
        QCOMPARE(form.geometry(), QRect(518, 168, 434, 368));
        QCOMPARE(form.seenOnShow, QString("c:\\"));
        QVERIFY(form.storage->ReadStoredValue("SelectedPathName").IsText());
        QVERIFY(form.storage->RestoreDone());
        QVERIFY(form.errors.isEmpty());
    }

    void closeWritesExactlyTheLayoutAsText() {
        TfmMain form(store);
        form.show();
        form.storage->WriteStoredValue("SelectedPathName", "/home/op/Backups");
        QVERIFY(form.close());
        const QString s = Suffix();
        QCOMPARE(store->ValueNames(key, section),
                 QStringList({"FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos" + s, "MinMaxPos",
                              "NormPos" + s, "NormPos", "Visible", "SelectedPathName"}));
        QCOMPARE(*Stored("FormVersion"), QString("0"));
        QCOMPARE(*Stored("Flags"), QString("0"));
        QCOMPARE(*Stored("ShowCmd"), QString("1"));
        QCOMPARE(*Stored("PixelsPerInch"), QString::number(ScreenPixelsPerInch()));
        QCOMPARE(*Stored("MinMaxPos" + s), QString("-1,-1,-1,-1"));
        QCOMPARE(*Stored("MinMaxPos"), QString("-1,-1,-1,-1"));
        const QRect g = form.geometry();
        const QString norm = FormatPosition(g.x(), g.y(), g.x() + g.width(), g.y() + g.height());
        QCOMPARE(*Stored("NormPos" + s), norm);
        QCOMPARE(*Stored("NormPos"), norm);
        QCOMPARE(*Stored("Visible"), QString("0"));
        QCOMPARE(*Stored("SelectedPathName"), QString("/home/op/Backups"));
        QVERIFY(!store->isOpen());
    }

    void secondRunRestoresPlacementAndValues() {
        {
            TfmMain form(store);
            form.show();
            form.setGeometry(40, 30, 500, 400);
            form.writeOnClose = "/srv/backups";  // written by the form's own close handler: saved this run
            QVERIFY(form.close());
        }
        TfmMain form(store);
        form.show();
        QCOMPARE(form.geometry(), QRect(40, 30, 500, 400));
        QCOMPARE(form.seenOnShow, QString("/srv/backups"));
    }

    void changedScreenSizeFallsBackToPlainNames() {
        Plant("NormPos(1x1)", "1,1,2,2");
        Plant("NormPos", "10,20,310,220");
        TfmMain form(store);
        form.show();
        QCOMPARE(form.geometry(), QRect(10, 20, 300, 200));
    }

    void currentScreenSizeWins() {
        Plant("NormPos" + Suffix(), "15,25,215,225");
        Plant("NormPos", "10,20,310,220");
        TfmMain form(store);
        form.show();
        QCOMPARE(form.geometry(), QRect(15, 25, 200, 200));
    }

    void normPosWords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("expected");  // the form starts at 518,168 434x368: right 952, bottom 536
        QTest::newRow("four numbers") << "100,50,400,300" << QRect(100, 50, 300, 250);
        QTest::newRow("two numbers") << "100,50" << QRect(100, 50, 852, 486);
        QTest::newRow("three numbers") << "100,50,600" << QRect(100, 50, 500, 486);
        QTest::newRow("runs of separators") << " 100 ,, 50 , 400,,300 " << QRect(100, 50, 300, 250);
        QTest::newRow("invalid word takes the current value") << "x,50,700,300" << QRect(518, 50, 182, 250);
        QTest::newRow("right equal to left") << "300,50,300,400" << QRect(518, 168, 434, 368);
        QTest::newRow("right left of left") << "300,50,200,400" << QRect(518, 168, 434, 368);
        QTest::newRow("right left of left by default") << "960" << QRect(518, 168, 434, 368);
    }
    void normPosWords() {
        QFETCH(QString, text);
        QFETCH(QRect, expected);
        Plant("NormPos", text);
        TfmMain form(store);
        form.show();
        QCOMPARE(form.geometry(), expected);
    }

    void otherPixelsPerInchIsIgnored() {
        Plant("PixelsPerInch", QString::number(ScreenPixelsPerInch() + 24));
        Plant("NormPos", "10,20,310,220");
        TfmMain form(store);
        form.show();
        QCOMPARE(form.geometry(), QRect(518, 168, 434, 368));
    }

    void fixedSizeFormRestoresPositionOnly() {
        Plant("NormPos", "10,20,310,220");
        TfmMain form(store);
        form.setFixedSize(434, 368);
        form.show();
        QCOMPARE(form.geometry(), QRect(10, 20, 434, 368));
    }

    void placementFromAVanishedScreenComesBackOnScreen() {
        Plant("NormPos", "5000,4000,5300,4200");
        TfmMain form(store);
        form.show();
        QCOMPARE(form.size(), QSize(300, 200));
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(form.geometry()));
    }

    void unknownNameReadsNullAndWriteAppends() {
        {
            TfmMain form(store);
            form.show();
            QVERIFY(form.storage->ReadStoredValue("LastArchive").IsNull());
            form.storage->WriteStoredValue("LastArchive", 42);
            QCOMPARE(form.storage->StoredValues().Count(), 2);
            QCOMPARE(form.storage->ReadStoredValue("lastarchive"), Variant(42));
            QVERIFY(form.close());
        }
        QCOMPARE(store->ValueNames(key, section).last(), QString("LastArchive"));
        QCOMPARE(*Stored("LastArchive"), QString("42"));
        // Saved from then on: a new form that declares it reads it back, as text.
        TfmMain form(store);
        form.storage->WriteStoredValue("LastArchive", 0);
        form.show();
        QCOMPARE(form.storage->ReadStoredValue("LastArchive"), Variant("42"));
    }

    void duplicateNamesAreRefused() {
        TStoredValues values;
        values.Add().SetName("SelectedPathName");
        TStoredValue& other = values.Add();
        other.SetName("Other");
        QVERIFY_THROWS_EXCEPTION(EStringListError, other.SetName("selectedpathNAME"));
        QCOMPARE(other.Name(), QString("Other"));
        other.SetName("OTHER");  // its own name in another case
        QCOMPARE(other.Name(), QString("OTHER"));
        try {
            values.Item(0).SetName("other");
        } catch (const EStringListError& e) {
            QCOMPARE(QString(e.what()), QString("String list does not allow duplicates"));
        }
    }

    void storedValueHooks() {
        Plant("SelectedPathName", "/stored");
        TfmMain form(store);
        TStoredValue& item = *form.storage->StoredValues().Find("SelectedPathName");
        item.OnRestore = [](TStoredValue&, Variant& v) { v = v.ToString() + "/restored"; };
        item.OnSave = [](TStoredValue&, Variant& v) { v = v.ToString() + "/saved"; };
        form.show();
        QCOMPARE(form.seenOnShow, QString("/stored/restored"));
        QVERIFY(form.close());
        QCOMPARE(*Stored("SelectedPathName"), QString("/stored/restored/saved"));
        QCOMPARE(form.storage->ReadStoredValue("SelectedPathName"), Variant("/stored/restored"));
    }

    void cancelledCloseSavesNothing() {
        TfmMain form(store);
        form.allowClose = false;
        form.show();
        QVERIFY(!form.close());
        QVERIFY(!store->HasSection(key, section));
        QVERIFY(form.isVisible());
        form.allowClose = true;
        QVERIFY(form.close());
        QVERIFY(store->HasSection(key, section));
    }

    void destroySavesOnlyWhenNoSaveWasDone() {
        {
            TfmMain form(store);
            form.show();
            form.storage->WriteStoredValue("SelectedPathName", "/at/destroy");
        }
        QCOMPARE(*Stored("Visible"), QString("1"));
        QCOMPARE(*Stored("SelectedPathName"), QString("/at/destroy"));
        store->Clear();
        {
            TfmMain form(store);
            form.show();
            QVERIFY(form.close());
        }
        QCOMPARE(*Stored("Visible"), QString("0"));
        store->Clear();
        {
            TfmMain form(store);  // never shown: nothing restored, nothing saved
        }
        QVERIFY(!store->HasSection(key, section));
        {
            // A form that does not call the hook itself: it runs when the component goes with the form.
            QWidget form;
            auto* storage = new TFormStorage(&form);
            storage->SetStore(store);
            storage->SetIniSection(section);
            storage->WriteStoredValue("SelectedPathName", "/plain");
            form.show();
        }
        QCOMPARE(*Stored("Visible"), QString("1"));
        QCOMPARE(*Stored("SelectedPathName"), QString("/plain"));
    }

    void failedRestoreBlocksSavesAndIsReported() {
        store->PlantNonText(key, section, "Flags");
        Plant("NormPos", "10,20,310,220");
        TfmMain form(store);
        form.show();
        QCOMPARE(form.errors, QStringList({"Invalid data type for 'Flags'"}));
        QVERIFY(form.isVisible());
        QVERIFY(!form.storage->RestoreDone());
        QCOMPARE(form.seenOnShow, QString("c:\\"));  // the show goes on
        QVERIFY(form.close());
        QCOMPARE(store->ValueNames(key, section), QStringList({"Flags", "NormPos"}));
    }

    void failedSaveIsReportedAndCloseGoesOn() {
        TfmMain form(store);
        form.show();
        store->failWrites = true;
        QVERIFY(form.close());
        QCOMPARE(form.errors, QStringList({"Failed to set data for 'FormVersion'"}));
        QVERIFY(!form.storage->SaveDone());
        QVERIFY(!store->isOpen());
    }

    void keyThatCannotBeCreated() {
        store->failCreateKey = true;
        TfmMain form(store);
        form.show();
        QCOMPARE(form.errors, QStringList({"Failed to create key " + key}));
    }

    void lowerStoredVersionIsNotRestored() {
        Plant("FormVersion", "0");
        Plant("NormPos", "10,20,310,220");
        Plant("SelectedPathName", "/stored");
        TfmMain form(store);
        form.storage->SetVersion(1);
        form.show();
        QCOMPARE(form.geometry(), QRect(518, 168, 434, 368));
        QCOMPARE(form.seenOnShow, QString("c:\\"));
        QVERIFY(form.storage->RestoreDone());
        QVERIFY(form.close());
        QCOMPARE(*Stored("FormVersion"), QString("1"));
    }

    void inactiveStorageNeitherRestoresNorSaves() {
        Plant("NormPos", "10,20,310,220");
        TfmMain form(store);
        form.storage->SetActive(false);
        form.show();
        QCOMPARE(form.geometry(), QRect(518, 168, 434, 368));
        QVERIFY(form.close());
        QCOMPARE(store->ValueNames(key, section), QStringList({"NormPos"}));
    }

    void showCommandWithState_data() {
        QTest::addColumn<QString>("showCmd");
        QTest::addColumn<int>("state");
        QTest::newRow("normal") << "1" << int(Qt::WindowNoState);
        QTest::newRow("maximised") << "3" << int(Qt::WindowMaximized);
        QTest::newRow("unknown keeps the initial state") << "4" << int(Qt::WindowNoState);
    }
    void showCommandWithState() {
        QFETCH(QString, showCmd);
        QFETCH(int, state);
        Plant("ShowCmd", showCmd);
        TfmMain form(store);
        form.storage->SetOptions(TPlacementOptions(fpState) | fpPosition);
        form.show();
        QCOMPARE(int(form.windowState()), state);
        QVERIFY(form.close());
        QCOMPARE(*Stored("ShowCmd"), state == int(Qt::WindowMaximized) ? QString("3") : QString("1"));
    }

    void defaultsForAForm() {
        QWidget form;
        TFormPlacement placement(&form);
        QCOMPARE(placement.Options(), TPlacementOptions(fpState) | fpPosition);
        QVERIFY(placement.Active());
        QCOMPARE(placement.Version(), 0);
        QCOMPARE(placement.DefaultSectionName(), QString("QWidget"));
        TfmMain main(store);
        QCOMPARE(main.storage->DefaultSectionName(), QString("TfmMain"));
        QVERIFY(TFormPlacement::DefaultStorageKey().startsWith("Software/"));
        QVERIFY(!TFormPlacement::DefaultStorageKey().endsWith("_test"));
    }

    void positionTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("empty") << "" << QList<int>{7, 8, 9, 10};
        QTest::newRow("negative") << "-1,-1,-8,-8" << QList<int>{-1, -1, -8, -8};
        QTest::newRow("spaces") << "1 2 3 4 5" << QList<int>{1, 2, 3, 4};
        QTest::newRow("hex and junk") << "$10,0x10,12a,+3" << QList<int>{16, 16, 9, 3};
        QTest::newRow("too large") << "99999999999,1" << QList<int>{7, 1, 9, 10};
    }
    void positionTexts() {
        QFETCH(QString, text);
        QFETCH(QList<int>, expected);
        const auto v = ParsePosition(text, {7, 8, 9, 10});
        QCOMPARE((QList<int>{v[0], v[1], v[2], v[3]}), expected);
    }
};

QTEST_MAIN(FormStorageTest)
#include "form_storage_test.moc"
