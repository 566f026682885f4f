#include "platform/launchdagent.h"
#include "tests/sensor/fakeservicemanager.h"
#include "tests/support/filechecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <sys/stat.h>

namespace {

SensorAgentService plainAgent()
{
    return {QStringLiteral("/Applications/Kovel.app/Contents/Resources/kovel/kovel"),
            QStringLiteral("http://192.168.0.10:8900"), QStringLiteral("dev-42"), QStringLiteral("key-abc")};
}

// Runs launchdReplaceAgent and waits for it to report back.
bool replaceAndWait(const SensorAgentService &agent, const QString &home, uint uid, const QString &launchctl)
{
    int finished = 0;
    launchdReplaceAgent(agent, home, uid, launchctl, [&] { ++finished; });
    if (finished != 0)
        return false; // it must never finish inside the call
    return QTest::qWaitFor([&] { return finished == 1; }, 10000);
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
    void missingLaunchAgentsFolderIsNotCreated();
    void unstartableLaunchctlStillFinishes();
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
    FakeServiceManager launchctl(plist, 5); // bootout of nothing fails; ignored

    QVERIFY(replaceAndWait(plainAgent(), home.path(), 501, launchctl.program()));

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

void TestLaunchdAgent::missingLaunchAgentsFolderIsNotCreated()
{
    QTemporaryDir home;
    FakeServiceManager launchctl;
    QVERIFY(replaceAndWait(plainAgent(), home.path(), 20, launchctl.program()));

    QVERIFY(!QFileInfo::exists(home.path() + "/Library/LaunchAgents"));
    // The service manager still runs, and is told about the missing file.
    const QList<QStringList> calls = launchctl.calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].mid(0, 2), (QStringList{"bootout", "gui/20/io.kovel.agent"}));
    QCOMPARE(calls[1].mid(0, 2), (QStringList{"bootstrap", "gui/20"}));
}

void TestLaunchdAgent::unstartableLaunchctlStillFinishes()
{
    QTemporaryDir home;
    QVERIFY(QDir().mkpath(home.path() + "/Library/LaunchAgents"));
    QVERIFY(replaceAndWait(plainAgent(), home.path(), 501, home.path() + "/no/such/launchctl"));
    QVERIFY(QFileInfo::exists(home.path() + "/Library/LaunchAgents/io.kovel.agent.plist"));
}

QTEST_GUILESS_MAIN(TestLaunchdAgent)
#include "tst_launchdagent.moc"
