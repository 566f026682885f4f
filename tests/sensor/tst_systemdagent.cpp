#include "platform/systemdagent.h"
#include "tests/sensor/fakeservicemanager.h"
#include "tests/support/filechecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

SensorAgentService plainAgent()
{
    return {QStringLiteral("/opt/Kovel.app/Contents/Resources/kovel/kovel"),
            QStringLiteral("http://192.168.0.10:8900"), QStringLiteral("dev-42"), QStringLiteral("key-abc")};
}

QString execStartOf(const QString &unit)
{
    for (const QString &line : unit.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("ExecStart=")))
            return line.mid(10);
    return {};
}

bool replaceAndWait(const SensorAgentService &agent, const QString &home, const QString &systemctl)
{
    int finished = 0;
    systemdReplaceAgent(agent, home, systemctl, [&] { ++finished; });
    if (finished != 0)
        return false; // never inside the call
    return QTest::qWaitFor([&] { return finished == 1; }, 10000);
}

} // namespace

class TestSystemdAgent : public QObject
{
    Q_OBJECT
private slots:
    void plainUnitText();
    void argumentsQuoted_data();
    void argumentsQuoted();
    void programPathAndHome();
    void hostileUnitAcceptedBySystemd();
    void writesPrivatelyThenReloadsEnablesRestarts();
    void secondIdentityReplacesTheFirst();
    void noSystemdStillFinishes();
};

void TestSystemdAgent::plainUnitText()
{
    const QByteArray expected =
        "[Unit]\n"
        "Description=Kovel sensor agent\n"
        "\n"
        "[Service]\n"
        "ExecStart=\"/opt/Kovel.app/Contents/Resources/kovel/kovel\" \"agent\" \"--server\" \"http://192.168.0.10:8900\""
        " \"--device-id\" \"dev-42\" \"--api-key\" \"key-abc\"\n"
        "Restart=always\n"
        "RestartSec=10\n"
        "StandardOutput=append:/home/mina/.local/state/kovel/kovel-agent.log\n"
        "StandardError=append:/home/mina/.local/state/kovel/kovel-agent.err.log\n"
        "\n"
        "[Install]\n"
        "WantedBy=default.target\n";
    QCOMPARE(systemdAgentUnit(plainAgent(), QStringLiteral("/home/mina")).toUtf8(), expected);
}

void TestSystemdAgent::argumentsQuoted_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("word");

    QTest::newRow("blank") << "two words" << "\"two words\"";
    QTest::newRow("percent") << "50%n" << "\"50%%n\"";
    QTest::newRow("dollar") << "$HOME${USER}" << "\"$$HOME$${USER}\"";
    QTest::newRow("quote") << "a\"b" << "\"a\\\"b\"";
    QTest::newRow("single quote") << "a'b" << "\"a'b\"";
    QTest::newRow("backslash") << "a\\b" << "\"a\\\\b\"";
    QTest::newRow("newline") << "a\nb" << "\"a\\nb\"";
    QTest::newRow("control") << QStringLiteral("a\x01z") << "\"a\\x01z\"";
    QTest::newRow("semicolon") << ";" << "\";\"";
    QTest::newRow("empty") << "" << "\"\"";
    QTest::newRow("hangul") << QStringLiteral("키") << QStringLiteral("\"키\"");
}

void TestSystemdAgent::argumentsQuoted()
{
    QFETCH(QString, key);
    QFETCH(QString, word);
    SensorAgentService agent = plainAgent();
    agent.apiKey = key;
    const QString exec = execStartOf(systemdAgentUnit(agent, QStringLiteral("/home/mina")));
    QVERIFY(exec.endsWith(QStringLiteral(" \"--api-key\" ") + word));
    // The value cannot break the unit out of its one line.
    QCOMPARE(systemdAgentUnit(agent, QStringLiteral("/home/mina")).count(QLatin1Char('\n')), 12);
}

void TestSystemdAgent::programPathAndHome()
{
    SensorAgentService agent = plainAgent();
    agent.program = QStringLiteral("/home/100%/K$vel \"app\"/kovel");
    const QString unit = systemdAgentUnit(agent, QStringLiteral("/home/100%"));
    // The program path is not expanded for "$", so it stays single there.
    QVERIFY(unit.contains(QStringLiteral("ExecStart=\"/home/100%%/K$vel \\\"app\\\"/kovel\" \"agent\" ")));
    QVERIFY(unit.contains(QStringLiteral("StandardOutput=append:/home/100%%/.local/state/kovel/kovel-agent.log\n")));
    QVERIFY(unit.contains(QStringLiteral("StandardError=append:/home/100%%/.local/state/kovel/kovel-agent.err.log\n")));
}

// systemd's own checker, where installed: the unit parses without complaint
// and the quoted program path names the real file.
void TestSystemdAgent::hostileUnitAcceptedBySystemd()
{
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        QSKIP("systemd-analyze is not installed");

    QTemporaryDir dir;
    const QString home = dir.path() + QStringLiteral("/home 100%");
    // (systemd refuses quotes and backslashes in a program path whatever the quoting)
    const QString folder = home + QStringLiteral("/K$vel app;");
    QVERIFY(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/kovel");
    QFile exe(program);
    QVERIFY(exe.open(QIODevice::WriteOnly));
    exe.write("#!/bin/sh\n");
    exe.close();
    QVERIFY(exe.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    const SensorAgentService agent{program, QStringLiteral("http://brain/?a=%z&b=$HOME ${X} ;"),
                                   QStringLiteral("dev \"1\" \\"), QStringLiteral("k\ney\t%%;$$")};
    const QString unitPath = dir.path() + QStringLiteral("/io.kovel.agent.service");
    QFile unit(unitPath);
    QVERIFY(unit.open(QIODevice::WriteOnly));
    unit.write(systemdAgentUnit(agent, home).toUtf8());
    unit.close();

    QProcess verify;
    verify.start(analyze, {QStringLiteral("verify"), QStringLiteral("--man=no"), unitPath});
    QVERIFY(verify.waitForFinished(30000));
    const QByteArray complaints = verify.readAllStandardError() + verify.readAllStandardOutput();
    QVERIFY2(complaints.isEmpty(), complaints.constData());
    QCOMPARE(verify.exitCode(), 0);
}

void TestSystemdAgent::writesPrivatelyThenReloadsEnablesRestarts()
{
    QTemporaryDir home;
    const QString unit = home.path() + "/.config/systemd/user/io.kovel.agent.service";
    FakeServiceManager systemctl(unit);

    QVERIFY(replaceAndWait(plainAgent(), home.path(), systemctl.program()));

    QCOMPARE(readAll(unit), systemdAgentUnit(plainAgent(), home.path()).toUtf8());
    QCOMPARE(modeOf(unit), 0600);
    QVERIFY(QFileInfo(home.path() + "/.local/state/kovel").isDir());
    const QList<QStringList> expected = {
        {"--user", "daemon-reload", "@600"},
        {"--user", "enable", "io.kovel.agent.service", "@600"},
        {"--user", "restart", "io.kovel.agent.service", "@600"},
    };
    QCOMPARE(systemctl.calls(), expected);
}

void TestSystemdAgent::secondIdentityReplacesTheFirst()
{
    QTemporaryDir home;
    const QString unit = home.path() + "/.config/systemd/user/io.kovel.agent.service";
    FakeServiceManager systemctl;
    QVERIFY(replaceAndWait(plainAgent(), home.path(), systemctl.program()));
    QVERIFY(QFile::setPermissions(unit, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

    SensorAgentService second = plainAgent();
    second.deviceID = QStringLiteral("dev-second");
    second.apiKey = QStringLiteral("key-second");
    QVERIFY(replaceAndWait(second, home.path(), systemctl.program()));

    const QByteArray text = readAll(unit);
    QVERIFY(text.contains("\"dev-second\""));
    QVERIFY(!text.contains("dev-42"));
    QVERIFY(!text.contains("key-abc"));
    QCOMPARE(modeOf(unit), 0600);
    QCOMPARE(QDir(home.path() + "/.config/systemd/user").entryList(QDir::Files | QDir::Hidden),
             QStringList{"io.kovel.agent.service"});
    QCOMPARE(systemctl.calls().size(), 6);
    QCOMPARE(systemctl.calls().last().mid(0, 3), (QStringList{"--user", "restart", "io.kovel.agent.service"}));
}

void TestSystemdAgent::noSystemdStillFinishes()
{
    QTemporaryDir home;
    // One that cannot be started, and one that fails the way systemctl does without a user bus.
    QVERIFY(replaceAndWait(plainAgent(), home.path(), home.path() + "/no/such/systemctl"));
    FakeServiceManager failing({}, 1);
    QVERIFY(replaceAndWait(plainAgent(), home.path(), failing.program()));
    QCOMPARE(failing.calls().size(), 3);
}

QTEST_GUILESS_MAIN(TestSystemdAgent)
#include "tst_systemdagent.moc"
