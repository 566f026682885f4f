// The sensor agent program shipped in the bundle: the command lines it
// accepts, the values it refuses, and that it stays up until told to stop.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QString agentProgram()
{
    return qEnvironmentVariable("KOVEL_TEST_BUNDLE") + QStringLiteral("/Contents/Resources/kovel/kovel");
}

} // namespace

class TestAgentProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refusesOtherCommandLines_data();
    void refusesOtherCommandLines();
    void refusesUnusableValues_data();
    void refusesUnusableValues();
    void startsAndStaysUntilTerminated_data();
    void startsAndStaysUntilTerminated();
    void keyFromAFile_data();
    void keyFromAFile();
    void keyFileRefused_data();
    void keyFileRefused();
};

void TestAgentProgram::initTestCase()
{
    QVERIFY2(QFileInfo(agentProgram()).isExecutable(), qPrintable(agentProgram()));
}

void TestAgentProgram::refusesOtherCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("subcommand only") << QStringList{"agent"};
    QTest::newRow("other subcommand") << QStringList{"run", "--server", "http://b", "--device-id", "d", "--api-key", "k"};
    QTest::newRow("value missing") << QStringList{"agent", "--server", "http://b", "--device-id", "d", "--api-key"};
    QTest::newRow("extra argument") << QStringList{"agent", "--server", "http://b", "--device-id", "d", "--api-key", "k", "x"};
    QTest::newRow("other order") << QStringList{"agent", "--device-id", "d", "--server", "http://b", "--api-key", "k"};
    QTest::newRow("misspelt option") << QStringList{"agent", "--server", "http://b", "--device", "d", "--api-key", "k"};
    QTest::newRow("joined values") << QStringList{"agent", "--server=http://b", "--device-id=d", "--api-key=k"};
    QTest::newRow("option given twice") << QStringList{"agent", "--server", "http://b", "--server", "http://evil", "--device-id", "d", "--api-key", "k"};
    QTest::newRow("key and key file") << QStringList{"agent", "--server", "http://b", "--device-id", "d", "--api-key", "k", "--api-key-file", "/k"};
    QTest::newRow("unknown option") << QStringList{"agent", "--server", "http://b", "--device-id", "d", "--api-key", "k", "--verbose"};
}

// Each refused with a line naming the option and why, and status 2.
void TestAgentProgram::refusesUnusableValues_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");
    const auto line = [](const QString &server, const QString &id, const QString &key) {
        return QStringList{"agent", "--server", server, "--device-id", id, "--api-key", key};
    };
    QTest::newRow("empty server") << line("", "d", "k") << QByteArray("--server is empty");
    QTest::newRow("empty device id") << line("http://b", "", "k") << QByteArray("--device-id is empty");
    QTest::newRow("empty key") << line("http://b", "d", "") << QByteArray("--api-key is empty");
    QTest::newRow("newline in device id") << line("http://b", "d\nkovel agent started: server x", "k")
                                          << QByteArray("--device-id holds the control character U+000A");
    QTest::newRow("tab in key") << line("http://b", "d", "k\tk") << QByteArray("--api-key holds the control character U+0009");
    QTest::newRow("escape in server") << line("http://b\x1b[2J", "d", "k") << QByteArray("--server holds the control character U+001B");
    QTest::newRow("C1 control") << line("http://b", QStringLiteral("d\u0085"), "k") << QByteArray("--device-id holds the control character U+0085");
    QTest::newRow("noncharacter") << line("http://b", QStringLiteral("d\uFFFF"), "k") << QByteArray("--device-id holds the noncharacter U+FFFF");
    QTest::newRow("option as device id") << line("http://b", "--api-key", "k") << QByteArray("--device-id is an option");
    QTest::newRow("option as server") << line("--device-id", "d", "k") << QByteArray("--server is an option");
    QTest::newRow("joined option as key") << line("http://b", "d", "--server=x") << QByteArray("--api-key is an option");
}

void TestAgentProgram::refusesUnusableValues()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    QProcess agent;
    agent.start(agentProgram(), arguments);
    QVERIFY(agent.waitForFinished(15000));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 2);
    const QByteArray err = agent.readAllStandardError();
    QVERIFY2(err.startsWith("kovel: the value of " + message), err.constData());
    QVERIFY(agent.readAllStandardOutput().isEmpty());
}

void TestAgentProgram::refusesOtherCommandLines()
{
    QFETCH(QStringList, arguments);
    QProcess agent;
    agent.start(agentProgram(), arguments);
    QVERIFY(agent.waitForFinished(15000));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 2);
    const QByteArray err = agent.readAllStandardError();
    QVERIFY2(err.contains("usage: kovel agent --server URL --device-id ID --api-key KEY"), err.constData());
    QVERIFY(agent.readAllStandardOutput().isEmpty());
}

void TestAgentProgram::startsAndStaysUntilTerminated_data()
{
    QTest::addColumn<QString>("deviceID");
    QTest::addColumn<QString>("apiKey");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("plain") << "dev-1" << "secret-key-1" << QByteArray("dev-1");
    // API keys may begin with "-" (base64url); the value after an option is a value.
    QTest::newRow("key with a leading dash") << "dev-2" << "-secret-key-3" << QByteArray("dev-2");
    QTest::newRow("hangul and emoji") << QStringLiteral("맥북-🧠") << "secret-key-2" << QStringLiteral("맥북-🧠").toUtf8();
    // One line in the log, whatever the value: nothing that breaks or turns it.
    QTest::newRow("line separator") << QStringLiteral("a\u2028b") << "secret-key-2" << QByteArray("a\\u2028b");
    QTest::newRow("bidi override") << QStringLiteral("a\u202Eb") << "secret-key-2" << QByteArray("a\\u202eb");
    QTest::newRow("backslash") << QStringLiteral("a\\u2028") << "secret-key-2" << QByteArray("a\\\\u2028");
}

void TestAgentProgram::startsAndStaysUntilTerminated()
{
    QFETCH(QString, deviceID);
    QFETCH(QString, apiKey);
    QFETCH(QByteArray, shown);
    QProcess agent;
    agent.start(agentProgram(), {"agent", "--server", "http://127.0.0.1:8900", "--device-id", deviceID, "--api-key", apiKey});
    QVERIFY(agent.waitForStarted(15000));
    QTRY_VERIFY_WITH_TIMEOUT(agent.canReadLine(), 15000);
    const QByteArray line = agent.readLine();
    QCOMPARE(line, "kovel agent started: server http://127.0.0.1:8900, device " + shown + "\n");
    if (!apiKey.isEmpty())
        QVERIFY(!line.contains(apiKey.toUtf8()));
    QCOMPARE(agent.state(), QProcess::Running);

    agent.terminate();
    QVERIFY(agent.waitForFinished(15000));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 0);
    QVERIFY(agent.readAllStandardError().isEmpty());
}

// The key from a file the user alone can read, so it is on no command line.
void TestAgentProgram::keyFromAFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("starts");
    QTest::newRow("as the installer writes it") << QByteArray("key-from-file") << true;
    QTest::newRow("written by hand") << QByteArray("key-from-file\n") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("two lines") << QByteArray("key\nmore\n") << false;
    QTest::newRow("missing") << QByteArray("(none)") << false;
}

void TestAgentProgram::keyFromAFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, starts);
    QTemporaryDir dir;
    const QString keyFile = dir.filePath("agent.key");
    if (content != "(none)") {
        QFile f(keyFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QProcess agent;
    agent.start(agentProgram(), {"agent", "--server", "http://127.0.0.1:8900", "--device-id", "dev-f", "--api-key-file", keyFile});
    if (!starts) {
        QVERIFY(agent.waitForFinished(15000));
        QCOMPARE(agent.exitCode(), content == "(none)" ? 1 : 2);
        const QByteArray err = agent.readAllStandardError();
        QVERIFY2(err.startsWith("kovel: "), err.constData());
        QVERIFY(agent.readAllStandardOutput().isEmpty());
        return;
    }
    QVERIFY(agent.waitForStarted(15000));
    QTRY_VERIFY_WITH_TIMEOUT(agent.canReadLine(), 15000);
    QCOMPARE(agent.readLine(), QByteArray("kovel agent started: server http://127.0.0.1:8900, device dev-f\n"));
    // What every local user may read of it.
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(agent.processId()));
    if (cmdline.open(QIODevice::ReadOnly))
        QVERIFY(!cmdline.readAll().contains("key-from-file"));
    agent.terminate();
    QVERIFY(agent.waitForFinished(15000));
    QCOMPARE(agent.exitCode(), 0);
}

// Only a regular file of valid UTF-8 is a key file: anything else is refused
// at once (status 2, a line on stderr), never waited on or half read.
void TestAgentProgram::keyFileRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("message");
    // Opening one for reading waits for a writer that never comes.
    QTest::newRow("fifo") << "fifo" << QByteArray("kovel: the key file is not a regular file");
    QTest::newRow("folder") << "folder" << QByteArray("kovel: the key file is not a regular file");
    // A link could lead anywhere (another user's file, a device).
    QTest::newRow("link to a key") << "link" << QByteArray("kovel: the key file is a symbolic link");
    QTest::newRow("invalid UTF-8") << "latin1" << QByteArray("kovel: the key file is not valid UTF-8");
    QTest::newRow("truncated UTF-8") << "truncated" << QByteArray("kovel: the key file is not valid UTF-8");
}

void TestAgentProgram::keyFileRefused()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    const QString keyFile = dir.filePath("agent.key");
    const auto write = [](const QString &path, const QByteArray &content) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    };
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(keyFile).constData(), 0600), 0);
    else if (kind == "folder")
        QVERIFY(QDir().mkdir(keyFile));
    else if (kind == "link")
        QVERIFY(write(dir.filePath("real.key"), "key-from-file") && QFile::link(dir.filePath("real.key"), keyFile));
    else if (kind == "latin1")
        QVERIFY(write(keyFile, "k\xe9y"));
    else if (kind == "truncated")
        QVERIFY(write(keyFile, "key-\xed\x95"));

    QProcess agent;
    agent.start(agentProgram(), {"agent", "--server", "http://127.0.0.1:8900", "--device-id", "dev-f", "--api-key-file", keyFile});
    QVERIFY(agent.waitForFinished(15000));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 2);
    const QByteArray err = agent.readAllStandardError();
    QVERIFY2(err.startsWith(message), err.constData());
    QVERIFY(agent.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(TestAgentProgram)
#include "tst_agentprogram.moc"
