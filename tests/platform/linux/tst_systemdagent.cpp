#include "platform/linux/systemdagent.h"
#include "tests/support/fakeservicemanager.h"
#include "tests/support/filechecks.h"
#include "tests/support/fulldisk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace Kovel::System;

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

// Runs systemdReplaceAgent and waits for it to report back; `error` gets what
// it said, `startsAtLogin` whether the agent is registered all the same.
bool replaceAndWait(const SensorAgentService &agent, const QString &config, const QString &systemctl,
                    QString *error = nullptr, bool *startsAtLogin = nullptr)
{
    int finished = 0;
    AgentServiceResult said;
    systemdReplaceAgent(agent, config, systemctl, [&](const AgentServiceResult &r) { ++finished; said = r; });
    if (finished != 0)
        return false; // never inside the call
    if (!QTest::qWaitFor([&] { return finished == 1; }, 10000))
        return false;
    if (error)
        *error = said.error;
    if (startsAtLogin)
        *startsAtLogin = said.startsAtLogin;
    return true;
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
    void keyOnlyInItsFile();
    void hostileUnitAcceptedBySystemd();
    void writesThenReloadsEnablesRestarts();
    void secondIdentityReplacesTheFirst();
    void failuresAreReported_data();
    void failuresAreReported();
    void unstartableSystemctlIsReported();
    void unwritableFilesAreReported_data();
    void unwritableFilesAreReported();
    void fullDiskKeepsTheWorkingFiles();
    void keyFolderMadePrivate_data();
    void keyFolderMadePrivate();
    void othersFoldersRefused_data();
    void othersFoldersRefused();
};

void TestSystemdAgent::plainUnitText()
{
    const QByteArray expected =
        "[Unit]\n"
        "Description=Kovel sensor agent\n"
        "\n"
        "[Service]\n"
        "ExecStart=\"/opt/Kovel.app/Contents/Resources/kovel/kovel\" \"agent\" \"--server\" \"http://192.168.0.10:8900\""
        " \"--device-id\" \"dev-42\" \"--api-key-file\" \"/home/mina/.config/kovel/agent.key\"\n"
        "Restart=always\n"
        "RestartSec=10\n"
        "StandardOutput=journal\n"
        "StandardError=journal\n"
        "\n"
        "[Install]\n"
        "WantedBy=default.target\n";
    QCOMPARE(systemdAgentUnit(plainAgent(), systemdAgentKeyFile(QStringLiteral("/home/mina/.config"))).toUtf8(), expected);
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
    agent.deviceID = key;
    const QString unit = systemdAgentUnit(agent, QStringLiteral("/home/mina/.config/kovel/agent.key"));
    const QString exec = execStartOf(unit);
    QVERIFY(exec.contains(QStringLiteral(" \"--device-id\" ") + word + QStringLiteral(" \"--api-key-file\" ")));
    // The value cannot break the unit out of its one line.
    QCOMPARE(unit.count(QLatin1Char('\n')), 12);
}

void TestSystemdAgent::programPathAndHome()
{
    SensorAgentService agent = plainAgent();
    agent.program = QStringLiteral("/home/100%/K$vel \"app\"/kovel");
    const QString unit = systemdAgentUnit(agent, systemdAgentKeyFile(QStringLiteral("/home/100%/$cfg")));
    // The program path is not expanded for "$", so it stays single there.
    QVERIFY(unit.contains(QStringLiteral("ExecStart=\"/home/100%%/K$vel \\\"app\\\"/kovel\" \"agent\" ")));
    QVERIFY(unit.contains(QStringLiteral(" \"--api-key-file\" \"/home/100%%/$$cfg/kovel/agent.key\"\n")));
}

// The key is on no command line: not in the unit, only in its own file.
void TestSystemdAgent::keyOnlyInItsFile()
{
    QTemporaryDir home;
    const QString config = home.path() + "/.config";
    FakeServiceManager systemctl;
    SensorAgentService agent = plainAgent();
    agent.apiKey = QStringLiteral("secret-key-77");
    QVERIFY(replaceAndWait(agent, config, systemctl.program()));

    const QByteArray unit = readAll(config + "/systemd/user/io.kovel.agent.service");
    QVERIFY(!unit.isEmpty());
    QVERIFY(!unit.contains("secret-key-77"));
    QVERIFY(!unit.contains("--api-key\""));
    const QString keyFile = config + "/kovel/agent.key";
    QVERIFY(unit.contains("\"--api-key-file\" \"" + keyFile.toUtf8() + "\""));
    QCOMPARE(readAll(keyFile), QByteArray("secret-key-77"));
    QCOMPARE(modeOf(keyFile), 0600);
    QCOMPARE(modeOf(config + "/kovel"), 0700);
    for (const QStringList &call : systemctl.calls())
        QVERIFY(!call.join(' ').contains("secret-key-77"));
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
    unit.write(systemdAgentUnit(agent, systemdAgentKeyFile(home + QStringLiteral("/.config $x"))).toUtf8());
    unit.close();

    QProcess verify;
    // The user manager it stands in for needs a runtime folder, which a test run may lack.
    QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    verify.setProcessEnvironment(env);
    verify.start(analyze, {QStringLiteral("--user"), QStringLiteral("verify"), QStringLiteral("--man=no"), unitPath});
    QVERIFY(verify.waitForFinished(30000));
    const QByteArray complaints = verify.readAllStandardError() + verify.readAllStandardOutput();
    QVERIFY2(complaints.isEmpty(), complaints.constData());
    QCOMPARE(verify.exitCode(), 0);
}

void TestSystemdAgent::writesThenReloadsEnablesRestarts()
{
    QTemporaryDir home;
    const QString config = home.path() + "/.config";
    const QString unit = config + "/systemd/user/io.kovel.agent.service";
    FakeServiceManager systemctl(unit);

    QString error = "unset";
    QVERIFY(replaceAndWait(plainAgent(), config, systemctl.program(), &error));
    QCOMPARE(error, QString());

    QCOMPARE(readAll(unit), systemdAgentUnit(plainAgent(), config + "/kovel/agent.key").toUtf8());
    QCOMPARE(modeOf(unit), 0644);
    QCOMPARE(modeOf(config + "/systemd/user"), 0755);
    // Output goes to the journal: no log folder of ours.
    QVERIFY(!QFileInfo::exists(home.path() + "/.local/state/kovel"));
    const QList<QStringList> expected = {
        {"--user", "daemon-reload", "@644"},
        {"--user", "enable", "io.kovel.agent.service", "@644"},
        {"--user", "restart", "io.kovel.agent.service", "@644"},
    };
    QCOMPARE(systemctl.calls(), expected);
}

void TestSystemdAgent::secondIdentityReplacesTheFirst()
{
    QTemporaryDir home;
    const QString config = home.path() + "/.config";
    const QString unit = config + "/systemd/user/io.kovel.agent.service";
    FakeServiceManager systemctl;
    QVERIFY(replaceAndWait(plainAgent(), config, systemctl.program()));
    QVERIFY(QFile::setPermissions(config + "/kovel/agent.key", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

    SensorAgentService second = plainAgent();
    second.deviceID = QStringLiteral("dev-second");
    second.apiKey = QStringLiteral("key-second");
    QVERIFY(replaceAndWait(second, config, systemctl.program()));

    const QByteArray text = readAll(unit);
    QVERIFY(text.contains("\"dev-second\""));
    QVERIFY(!text.contains("dev-42"));
    QCOMPARE(readAll(config + "/kovel/agent.key"), QByteArray("key-second"));
    QCOMPARE(modeOf(config + "/kovel/agent.key"), 0600);
    QCOMPARE(QDir(config + "/systemd/user").entryList(QDir::Files | QDir::Hidden), QStringList{"io.kovel.agent.service"});
    QCOMPARE(QDir(config + "/kovel").entryList(QDir::Files | QDir::Hidden), QStringList{"agent.key"});
    QCOMPARE(systemctl.calls().size(), 6);
    QCOMPARE(systemctl.calls().last().mid(0, 3), (QStringList{"--user", "restart", "io.kovel.agent.service"}));
}

// Each failure told in the command's own words; the chain stops there.
void TestSystemdAgent::failuresAreReported_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QString>("expected");
    // Only a failing restart leaves the agent enabled, to start at the next login.
    QTest::addColumn<bool>("startsAtLogin");
    QTest::newRow("no user bus") << 1 << "daemon-reload" << "Failed to connect to bus: No medium found" << 1
                                 << " --user daemon-reload: Failed to connect to bus: No medium found (exit status 1)" << false;
    QTest::newRow("enable refused") << 1 << "enable" << "Unit file io.kovel.agent.service does not exist." << 2
                                    << " --user enable io.kovel.agent.service: Unit file io.kovel.agent.service does not exist. (exit status 1)"
                                    << false;
    QTest::newRow("restart fails silently") << 5 << "restart" << "" << 3
                                            << " --user restart io.kovel.agent.service: exit status 5" << true;
}

void TestSystemdAgent::failuresAreReported()
{
    QFETCH(int, status);
    QFETCH(QString, failing);
    QFETCH(QString, message);
    QFETCH(int, calls);
    QFETCH(QString, expected);
    QFETCH(bool, startsAtLogin);
    QTemporaryDir home;
    FakeServiceManager systemctl({}, status, failing, message);
    QString error;
    bool registered = !startsAtLogin;
    QVERIFY(replaceAndWait(plainAgent(), home.path() + "/.config", systemctl.program(), &error, &registered));
    QCOMPARE(error, systemctl.program() + expected);
    QCOMPARE(registered, startsAtLogin);
    QCOMPARE(systemctl.calls().size(), calls);
}

void TestSystemdAgent::unstartableSystemctlIsReported()
{
    QTemporaryDir home;
    QString error;
    const QString missing = home.path() + "/no/such/systemctl";
    QVERIFY(replaceAndWait(plainAgent(), home.path() + "/.config", missing, &error));
    QVERIFY2(error.startsWith(missing + " --user daemon-reload: "), qPrintable(error));
    QVERIFY2(error.contains("No such file"), qPrintable(error));
}

// A folder or file that cannot be written: said, and systemctl left alone, so
// a running agent keeps its working unit.
void TestSystemdAgent::unwritableFilesAreReported_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::newRow("unit folder") << "/systemd";
    QTest::newRow("key folder") << "/kovel";
}

void TestSystemdAgent::unwritableFilesAreReported()
{
    QFETCH(QString, blocked);
    QTemporaryDir home;
    const QString config = home.path() + "/.config";
    QVERIFY(QDir().mkpath(config));
    QFile file(config + blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    FakeServiceManager systemctl;
    QString error;
    QVERIFY(replaceAndWait(plainAgent(), config, systemctl.program(), &error));
    QVERIFY2(error.startsWith(config + blocked), qPrintable(error));
    QVERIFY(systemctl.calls().isEmpty());
}

// A full disk at each file: the working files stay whole, and it is said.
void TestSystemdAgent::fullDiskKeepsTheWorkingFiles()
{
    QTemporaryDir home;
    const QString config = home.path() + "/.config";
    const QString unit = config + "/systemd/user/io.kovel.agent.service";
    const QString keyFile = config + "/kovel/agent.key";
    FakeServiceManager systemctl;
    QVERIFY(replaceAndWait(plainAgent(), config, systemctl.program()));
    const QByteArray workingUnit = readAll(unit);

    for (const qsizetype keySize : {qsizetype(4096), qsizetype(8)}) {
        SensorAgentService second = plainAgent();
        second.deviceID = QStringLiteral("dev-") + QString(300, u'x');  // a unit far over the limit
        second.apiKey = QString(keySize, u'k');
        QString error;
        {
            FullDisk full(64);
            QVERIFY(replaceAndWait(second, config, systemctl.program(), &error));
        }
        QVERIFY2(error.startsWith(keySize > 64 ? keyFile : unit), qPrintable(error));
        // Neither replaced: the old identity stays whole.
        QCOMPARE(readAll(unit), workingUnit);
        QCOMPARE(readAll(keyFile), QByteArray("key-abc"));
        QCOMPARE(QDir(config + "/kovel").entryList(QDir::Files | QDir::Hidden), QStringList{"agent.key"});
        QCOMPARE(systemctl.calls().size(), 3);
    }
}

// The key's folder is the user's alone, also when it was there before with a
// wider mode (or is a link to a folder of the user's).
void TestSystemdAgent::keyFolderMadePrivate_data()
{
    QTest::addColumn<bool>("throughALink");
    QTest::newRow("the folder") << false;
    QTest::newRow("a link to the user's own folder") << true;
}

void TestSystemdAgent::keyFolderMadePrivate()
{
    QFETCH(bool, throughALink);
    QTemporaryDir home;
    const QString config = home.path() + "/.config";
    const QString real = throughALink ? home.path() + "/dotfiles/kovel" : config + "/kovel";
    QVERIFY(QDir().mkpath(real));
    QVERIFY(QDir().mkpath(config));
    if (throughALink)
        QVERIFY(QFile::link(real, config + "/kovel"));
    QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    QCOMPARE(modeOf(real), 0755);

    FakeServiceManager systemctl;
    QString error = "unset";
    QVERIFY(replaceAndWait(plainAgent(), config, systemctl.program(), &error));
    QCOMPARE(error, QString());
    QCOMPARE(modeOf(real), 0700);
    QCOMPARE(modeOf(config + "/kovel/agent.key"), 0600);
}

// ~/.config/kovel or ~/.config/systemd/user leading into a shared folder of
// another user, who has put a link at the file's name: nothing is written
// there, what the link names is kept, systemctl is not run, and the refusal
// names the folder.
void TestSystemdAgent::othersFoldersRefused_data()
{
    QTest::addColumn<QString>("leads");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("victim");
    QTest::newRow("key folder") << "/kovel" << "agent.key" << ".bashrc";
    QTest::newRow("unit folder") << "/systemd/user" << "io.kovel.agent.service" << ".profile";
}

void TestSystemdAgent::othersFoldersRefused()
{
    QFETCH(QString, leads);
    QFETCH(QString, name);
    QFETCH(QString, victim);
    if (!mayGiveFilesAway())
        QSKIP("giving a folder to another user (chown) needs root");
    QTemporaryDir home;
    const QString config = home.path() + "/.config";
    const QString victimPath = home.path() + u'/' + victim;
    QFile v(victimPath);
    QVERIFY(v.open(QIODevice::WriteOnly));
    v.write("export EDITOR=vi\n");
    v.close();
    const QString shared = home.path() + "/tmp/shared";
    QVERIFY(makeOthersSharedFolder(shared));
    QVERIFY(plantOthersLink(victimPath, shared + u'/' + name));
    QVERIFY(QDir().mkpath(QFileInfo(config + leads).absolutePath()));
    QVERIFY(QFile::link(shared, config + leads));

    FakeServiceManager systemctl;
    QString error;
    bool startsAtLogin = true;
    QVERIFY(replaceAndWait(plainAgent(), config, systemctl.program(), &error, &startsAtLogin));
    QVERIFY2(error.startsWith(config + leads + ": "), qPrintable(error));
    QVERIFY2(error.contains(QString::number(otherUser)), qPrintable(error));
    QVERIFY(!startsAtLogin);
    QCOMPARE(readAll(victimPath), QByteArray("export EDITOR=vi\n"));
    QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{name});
    QVERIFY(systemctl.calls().isEmpty());
}

QTEST_GUILESS_MAIN(TestSystemdAgent)
#include "tst_systemdagent.moc"
