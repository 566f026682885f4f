// Where the client finds its brain server: ~/.kovel/config.json or the default.

#include "menubar/brain/brain.h"
#include "menubar/brain/brainconfig.h"
#include "tests/menubar/brain/brainrecorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Kovel::Bar;

class TestBrainConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QByteArray savedHome;

    void writeConfig(const QByteArray &bytes)
    {
        QDir(home.path()).mkpath(".kovel");
        QFile file(home.path() + "/.kovel/config.json");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        savedHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
    }
    void cleanupTestCase() { qputenv("HOME", savedHome); }
    void init() { QDir(home.path() + "/.kovel").removeRecursively(); }

    void serverURL_data()
    {
        QTest::addColumn<bool>("hasFile");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        const QString fallback = "http://127.0.0.1:8900";

        QTest::newRow("no file") << false << QByteArray() << fallback;
        QTest::newRow("plain address") << true << q("{'brain':'http://10.0.0.5:8900'}") << "http://10.0.0.5:8900";
        QTest::newRow("one trailing slash removed") << true << q("{'brain':'http://h:1/'}") << "http://h:1";
        QTest::newRow("two trailing slashes keep one") << true << q("{'brain':'http://h:1//'}") << "http://h:1/";
        QTest::newRow("lone slash gives empty text") << true << q("{'brain':'/'}") << "";
        QTest::newRow("path prefix kept") << true << q("{'brain':'https://h/brain/'}") << "https://h/brain";
        QTest::newRow("no scheme used unchanged") << true << q("{'brain':'localhost:8900'}") << "localhost:8900";
        QTest::newRow("white space used unchanged") << true << q("{'brain':'  http://h:1 '}") << "  http://h:1 ";
        QTest::newRow("other keys ignored") << true << q("{'x':1,'brain':'http://h','y':[]}") << "http://h";
        QTest::newRow("empty string") << true << q("{'brain':''}") << fallback;
        QTest::newRow("number") << true << q("{'brain':8900}") << fallback;
        QTest::newRow("null") << true << q("{'brain':null}") << fallback;
        QTest::newRow("object") << true << q("{'brain':{'url':'http://h'}}") << fallback;
        QTest::newRow("key missing") << true << q("{'server':'http://h'}") << fallback;
        QTest::newRow("top level array") << true << q("[{'brain':'http://h'}]") << fallback;
        QTest::newRow("top level string") << true << q("'http://h'") << fallback;
        QTest::newRow("not JSON") << true << QByteArray("brain = http://h") << fallback;
        QTest::newRow("trailing comma is not strict JSON") << true << q("{'brain':'http://h',}") << fallback;
        QTest::newRow("truncated") << true << q("{'brain':'http://h'") << fallback;
        QTest::newRow("empty file") << true << QByteArray() << fallback;
        QTest::newRow("not UTF-8") << true << QByteArray("{\"brain\":\"http://h\xff\"}") << fallback;
    }
    void serverURL()
    {
        QFETCH(bool, hasFile);
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        if (hasFile)
            writeConfig(content);
        QCOMPARE(BrainConfig::serverURL(), expected);
    }

    void aFolderInPlaceOfTheFileGivesTheDefault()
    {
        QVERIFY(QDir(home.path()).mkpath(".kovel/config.json"));
        QCOMPARE(BrainConfig::serverURL(), QString("http://127.0.0.1:8900"));
    }

    // The model reads the address once, at creation, and starts with empty fields.
    void brainTakesTheAddressOnceAtCreation()
    {
        writeConfig(q("{'brain':'http://first:1/'}"));
        Brain brain;
        writeConfig(q("{'brain':'http://second:2'}"));
        QCOMPARE(brain.server(), QString("http://first:1"));
        QCOMPARE(Brain().server(), QString("http://second:2"));

        QCOMPARE(brain.briefing(), QString());
        QVERIFY(brain.loops().isEmpty());
        QCOMPARE(brain.loopTotal(), 0);
        QCOMPARE(brain.answer(), QString());
        QCOMPARE(brain.askedAbout(), QString());
        QCOMPARE(brain.asking(), false);
        QCOMPARE(brain.briefingBusy(), false);
    }
};

QTEST_GUILESS_MAIN(TestBrainConfig)
#include "tst_brainconfig.moc"
