// The sensor agent program shipped in the bundle: the one command line it
// accepts, and that it stays up until told to stop.

#include <QProcess>
#include <QtTest>

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
    void startsAndStaysUntilTerminated_data();
    void startsAndStaysUntilTerminated();
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
    QTest::newRow("plain") << "dev-1" << "secret-key-1";
    QTest::newRow("empty values") << "" << "";
}

void TestAgentProgram::startsAndStaysUntilTerminated()
{
    QFETCH(QString, deviceID);
    QFETCH(QString, apiKey);
    QProcess agent;
    agent.start(agentProgram(), {"agent", "--server", "http://127.0.0.1:8900", "--device-id", deviceID, "--api-key", apiKey});
    QVERIFY(agent.waitForStarted(15000));
    QTRY_VERIFY_WITH_TIMEOUT(agent.canReadLine(), 15000);
    const QByteArray line = agent.readLine();
    QVERIFY2(line.startsWith("kovel agent started: server http://127.0.0.1:8900, device " + deviceID.toUtf8()),
             line.constData());
    if (!apiKey.isEmpty())
        QVERIFY(!line.contains(apiKey.toUtf8()));
    QCOMPARE(agent.state(), QProcess::Running);

    agent.terminate();
    QVERIFY(agent.waitForFinished(15000));
    QCOMPARE(agent.exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent.exitCode(), 0);
    QVERIFY(agent.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(TestAgentProgram)
#include "tst_agentprogram.moc"
