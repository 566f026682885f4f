#include "platform/mac/launchdagent.h"
#include "tests/support/fakeservicemanager.h"
#include "tests/support/filechecks.h"
#include "tests/support/fulldisk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <sys/stat.h>

using namespace Kovel::System;

namespace {

SensorAgentService plainAgent()
{
    return {QStringLiteral("/Applications/Kovel.app/Contents/Resources/kovel/kovel"),
            QStringLiteral("http://192.168.0.10:8900"), QStringLiteral("dev-42"), QStringLiteral("key-abc")};
}

// Runs launchdReplaceAgent and waits for it to report back; `error` gets what it said.
bool replaceAndWait(const SensorAgentService &agent, const QString &home, uint uid, const QString &launchctl,
                    QString *error = nullptr)
{
    int finished = 0;
    QString said;
    launchdReplaceAgent(agent, home, uid, launchctl, [&](const QString &e) { ++finished; said = e; });
    if (finished != 0)
        return false; // it must never finish inside the call
    if (!QTest::qWaitFor([&] { return finished == 1; }, 10000))
        return false;
    if (error)
        *error = said;
    return true;
}

} // namespace

class TestLaunchdAgent : public QObject
{
    Q_OBJECT
private slots:
    void plainValuesGiveTheExactText();
    void specialCharactersAreEscaped();
    void writesPrivatelyThenBootsOutAndBootstraps();
    void earlierFileIsReplacedAndNarrowed();
    void missingLaunchAgentsFolderIsCreated();
    void failuresAreReported_data();
    void failuresAreReported();
    void unwritableFileIsReported();
    void fullDiskKeepsTheWorkingFile();
};

void TestLaunchdAgent::plainValuesGiveTheExactText()
{
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\"><dict>\n"
        "  <key>Label</key><string>io.kovel.agent</string>\n"
        "  <key>ProgramArguments</key><array>\n"
        "    <string>/Applications/Kovel.app/Contents/Resources/kovel/kovel</string><string>agent</string>\n"
        "    <string>--server</string><string>http://192.168.0.10:8900</string>\n"
        "    <string>--device-id</string><string>dev-42</string>\n"
        "    <string>--api-key</string><string>key-abc</string>\n"
        "  </array>\n"
        "  <key>RunAtLoad</key><true/><key>KeepAlive</key><true/>\n"
        "  <key>StandardOutPath</key><string>/Users/mina/Library/Logs/kovel-agent.log</string>\n"
        "  <key>StandardErrorPath</key><string>/Users/mina/Library/Logs/kovel-agent.err.log</string>\n"
        "</dict></plist>";
    QCOMPARE(launchdAgentPlist(plainAgent(), QStringLiteral("/Users/mina")).toUtf8(), expected);
}

void TestLaunchdAgent::specialCharactersAreEscaped()
{
    const SensorAgentService hostile{QStringLiteral("/Volumes/A&B/Kovel.app/Contents/Resources/kovel/kovel"),
                                     QStringLiteral("http://brain/?a=1&b=<2>"), QStringLiteral("dev\"1'"),
                                     QStringLiteral("k&y</string><string>--evil")};
    const QString text = launchdAgentPlist(hostile, QStringLiteral("/Users/o'<&>"));
    const QByteArray bytes = text.toUtf8();

    QVERIFY(bytes.contains("<string>/Volumes/A&amp;B/Kovel.app/Contents/Resources/kovel/kovel</string>"));
    QVERIFY(bytes.contains("<string>http://brain/?a=1&amp;b=&lt;2&gt;</string>"));
    QVERIFY(bytes.contains("<string>dev&quot;1&apos;</string>"));
    QVERIFY(bytes.contains("<string>k&amp;y&lt;/string&gt;&lt;string&gt;--evil</string>"));
    QVERIFY(bytes.contains("<string>/Users/o&apos;&lt;&amp;&gt;/Library/Logs/kovel-agent.log</string>"));
    QVERIFY(bytes.contains("<string>/Users/o&apos;&lt;&amp;&gt;/Library/Logs/kovel-agent.err.log</string>"));
    // Still the label, eight program arguments and two log paths, nothing more.
    QCOMPARE(bytes.count("<string>"), 11);
    QCOMPARE(bytes.count("</string>"), 11);

    // And an XML reader gets every value back as it was.
    QStringList strings;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("string"))
            strings << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    const QStringList expected = {
        "io.kovel.agent", hostile.program, "agent", "--server", hostile.server, "--device-id", hostile.deviceID,
        "--api-key", hostile.apiKey, "/Users/o'<&>/Library/Logs/kovel-agent.log",
        "/Users/o'<&>/Library/Logs/kovel-agent.err.log",
    };
    QCOMPARE(strings, expected);
}

void TestLaunchdAgent::writesPrivatelyThenBootsOutAndBootstraps()
{
    QTemporaryDir home;
    QVERIFY(QDir().mkpath(home.path() + "/Library/LaunchAgents"));
    const QString plist = home.path() + "/Library/LaunchAgents/io.kovel.agent.plist";
    // bootout of nothing fails; that is no failure of the run.
    FakeServiceManager launchctl(plist, 5, "bootout", "Boot-out failed: 3: No such process");

    QString error = "unset";
    QVERIFY(replaceAndWait(plainAgent(), home.path(), 501, launchctl.program(), &error));
    QCOMPARE(error, QString());

    QCOMPARE(readAll(plist), launchdAgentPlist(plainAgent(), home.path()).toUtf8());
    QCOMPARE(modeOf(plist), 0600);
    const QList<QStringList> expected = {
        {"bootout", "gui/501/io.kovel.agent", "@600"},
        {"bootstrap", "gui/501", plist, "@600"},
    };
    QCOMPARE(launchctl.calls(), expected);
}

void TestLaunchdAgent::earlierFileIsReplacedAndNarrowed()
{
    QTemporaryDir home;
    QVERIFY(QDir().mkpath(home.path() + "/Library/LaunchAgents"));
    const QString plist = home.path() + "/Library/LaunchAgents/io.kovel.agent.plist";
    FakeServiceManager launchctl;

    QVERIFY(replaceAndWait(plainAgent(), home.path(), 501, launchctl.program()));
    QVERIFY(QFile::setPermissions(plist, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));

    SensorAgentService second = plainAgent();
    second.deviceID = QStringLiteral("dev-second");
    second.apiKey = QStringLiteral("key-second");
    QVERIFY(replaceAndWait(second, home.path(), 501, launchctl.program()));

    const QByteArray text = readAll(plist);
    QVERIFY(text.contains("<string>dev-second</string>"));
    QVERIFY(text.contains("<string>key-second</string>"));
    QVERIFY(!text.contains("dev-42"));
    QVERIFY(!text.contains("key-abc"));
    QCOMPARE(modeOf(plist), 0600);
    // Nothing left behind beside it.
    QCOMPARE(QDir(home.path() + "/Library/LaunchAgents").entryList(QDir::Files | QDir::Hidden),
             QStringList{"io.kovel.agent.plist"});
    QCOMPARE(launchctl.calls().size(), 4);
}

// Without the folder nothing would be written while the run went on.
void TestLaunchdAgent::missingLaunchAgentsFolderIsCreated()
{
    QTemporaryDir home;
    FakeServiceManager launchctl;
    const mode_t old = ::umask(0);
    QString error = "unset";
    const bool ran = replaceAndWait(plainAgent(), home.path(), 20, launchctl.program(), &error);
    ::umask(old);
    QVERIFY(ran);
    QCOMPARE(error, QString());

    QCOMPARE(modeOf(home.path() + "/Library/LaunchAgents"), 0755);
    QCOMPARE(modeOf(home.path() + "/Library/Logs"), 0755);
    const QString plist = home.path() + "/Library/LaunchAgents/io.kovel.agent.plist";
    QCOMPARE(modeOf(plist), 0600);
    const QList<QStringList> calls = {
        {"bootout", "gui/20/io.kovel.agent", "@none"},
        {"bootstrap", "gui/20", plist, "@none"},
    };
    QCOMPARE(launchctl.calls(), calls);
}

void TestLaunchdAgent::failuresAreReported_data()
{
    QTest::addColumn<bool>("startable");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bootstrap refuses") << true << " bootstrap gui/501 %1: Bootstrap failed: 5: Input/output error (exit status 5)";
    QTest::newRow("cannot start") << false << " bootout gui/501/io.kovel.agent: ";
}

void TestLaunchdAgent::failuresAreReported()
{
    QFETCH(bool, startable);
    QFETCH(QString, expected);
    QTemporaryDir home;
    const QString plist = home.path() + "/Library/LaunchAgents/io.kovel.agent.plist";
    FakeServiceManager launchctl({}, 5, {}, "Bootstrap failed: 5: Input/output error");
    const QString program = startable ? launchctl.program() : home.path() + "/no/such/launchctl";
    QString error;
    QVERIFY(replaceAndWait(plainAgent(), home.path(), 501, program, &error));
    if (startable) {
        // bootout's failure is expected; bootstrap's is the one told.
        QCOMPARE(error, program + expected.arg(plist));
        QCOMPARE(launchctl.calls().size(), 2);
    } else {
        // bootout may fail to start; bootstrap may not.
        QVERIFY2(error.startsWith(program + " bootstrap gui/501 " + plist + ": "), qPrintable(error));
        QVERIFY2(error.contains("No such file"), qPrintable(error));
    }
}

// A file in the folder's place, or a full disk: said, launchctl left alone
// (so a loaded agent keeps running), and a working file kept whole.
void TestLaunchdAgent::unwritableFileIsReported()
{
    QTemporaryDir home;
    QVERIFY(QDir().mkpath(home.path() + "/Library"));
    QFile blocker(home.path() + "/Library/LaunchAgents");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FakeServiceManager launchctl;
    QString error;
    QVERIFY(replaceAndWait(plainAgent(), home.path(), 501, launchctl.program(), &error));
    QVERIFY2(error.startsWith(home.path() + "/Library/LaunchAgents"), qPrintable(error));
    QVERIFY(launchctl.calls().isEmpty());
}

void TestLaunchdAgent::fullDiskKeepsTheWorkingFile()
{
    QTemporaryDir home;
    const QString plist = home.path() + "/Library/LaunchAgents/io.kovel.agent.plist";
    FakeServiceManager launchctl;
    QVERIFY(replaceAndWait(plainAgent(), home.path(), 501, launchctl.program()));
    const QByteArray working = readAll(plist);

    SensorAgentService second = plainAgent();
    second.apiKey = QStringLiteral("key-second");
    QString error;
    {
        FullDisk full(64);
        QVERIFY(replaceAndWait(second, home.path(), 501, launchctl.program(), &error));
    }
    QVERIFY2(error.startsWith(plist), qPrintable(error));
    QCOMPARE(readAll(plist), working);
    QCOMPARE(QDir(home.path() + "/Library/LaunchAgents").entryList(QDir::Files | QDir::Hidden),
             QStringList{"io.kovel.agent.plist"});
    QCOMPARE(launchctl.calls().size(), 2);
}

QTEST_GUILESS_MAIN(TestLaunchdAgent)
#include "tst_launchdagent.moc"
