// The sample setup script in the bundle: run as the installer runs it, in a
// home of its own, on a port of its own.
#include "menubar/brain/brain.h"
#include "tests/demo/demobundle.h"
#include "tests/support/fakebrain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QMap>
#include <csignal>
#include <memory>
#include <sys/types.h>

using namespace Kovel::Bar;

namespace {
struct Run {
    bool finished = false;
    int exitCode = -1;
    QString output;
    bool validUtf8 = false;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
}

class TestBootstrap : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsTheBundledBrainDetached();
    void usesABrainThatAlreadyAnswers();
    void portHeldByNonBrain_data();
    void portHeldByNonBrain();
    void missingBrainProgramIsAStartFailure();
    void refusesUnknownInputs_data();
    void refusesUnknownInputs();
    void withoutAutostartOnlyChecks();

private:
    // Runs the script through a pipe that ends only when every writer closed it,
    // as the installer's reader sees it.
    Run runScript(const QString &script, const QMap<QString, QString> &env = {});
    QString pidFile() const { return m_home->path() + QStringLiteral("/.local/state/kovel/demo-brain.pid"); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    std::unique_ptr<QTemporaryDir> m_home;
    quint16 m_port = 0;
};

void TestBootstrap::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    m_port = freePort();
    QVERIFY(m_port != 0);
}

void TestBootstrap::cleanup()
{
    // Stop whatever brain the script started.
    QFile file(pidFile());
    if (file.open(QIODevice::ReadOnly)) {
        const pid_t pid = pid_t(file.readAll().trimmed().toLong());
        if (pid > 1)
            ::kill(pid, SIGTERM);
    }
    m_home.reset();
}

Run TestBootstrap::runScript(const QString &script, const QMap<QString, QString> &env)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home->path());
    environment.insert(QStringLiteral("KOVEL_BRAIN_PORT"), QString::number(m_port));
    environment.insert(QStringLiteral("KOVEL_ROLE"), QStringLiteral("all-in-one"));
    environment.insert(QStringLiteral("KOVEL_ENGINE"), QStringLiteral("ollama"));
    environment.insert(QStringLiteral("KOVEL_AUTOSTART"), QStringLiteral("1"));
    for (auto it = env.begin(); it != env.end(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/bin/bash"),
                  {QStringLiteral("-c"), QStringLiteral("set -o pipefail; /bin/bash \"$1\" 2>&1 | cat"),
                   QStringLiteral("bash"), script});
    QSignalSpy finished(&process, &QProcess::finished);
    Run run;
    run.finished = finished.wait(30000);
    run.exitCode = process.exitCode();
    const QByteArray bytes = process.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    run.output = decoder.decode(bytes);
    run.validUtf8 = !decoder.hasError();
    if (!run.finished)
        process.kill();
    return run;
}

void TestBootstrap::startsTheBundledBrainDetached()
{
    const Run run = runScript(DemoBundle::setupScript(), {{QStringLiteral("KOVEL_ENGINE"), QStringLiteral("subscription")}});
    // Finishing at all shows the brain holds none of the script's output.
    QVERIFY2(run.finished, qPrintable(run.output));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.validUtf8);
    QVERIFY2(run.output.contains(QStringLiteral("데모 브레인이 응답해요")), qPrintable(run.output));
    QVERIFY(run.output.contains(QStringLiteral("구독")));
    QVERIFY(QFile::exists(pidFile()));
    QVERIFY(QFile::exists(m_home->path() + QStringLiteral("/.local/state/kovel/demo-brain.log")));

    // What the installer relies on: a brain answering there once the script says 0.
    Brain brain(url());
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    brain.refreshLoops();
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(brain.loops().size(), 5);
    QVERIFY(brain.loopTotal() > 5);
}

void TestBootstrap::usesABrainThatAlreadyAnswers()
{
    DemoBundle::RunningBrain server;
    QVERIFY(server.port() != 0);
    m_port = server.port();
    const Run run = runScript(DemoBundle::setupScript(), {{QStringLiteral("KOVEL_ROLE"), QStringLiteral("server")}});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.output.contains(QStringLiteral("이미 브레인이")), qPrintable(run.output));
    QVERIFY(run.output.contains(QStringLiteral("서버 전용")));
    QVERIFY(!QFile::exists(pidFile()));   // nothing of its own started
}

void TestBootstrap::portHeldByNonBrain_data()
{
    QTest::addColumn<QString>("holder");
    QTest::newRow("listener that never answers") << QStringLiteral("silent");
    QTest::newRow("HTTP server, not found") << QStringLiteral("http404");
    QTest::newRow("HTTP server, other JSON") << QStringLiteral("otherjson");
}

void TestBootstrap::portHeldByNonBrain()
{
    QFETCH(QString, holder);
    QTcpServer silent;
    FakeBrain http;
    if (holder == QLatin1String("silent")) {
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        m_port = silent.serverPort();
    } else {
        if (holder == QLatin1String("otherjson"))
            http.on("GET", "/api/structured/open-loops", FakeBrain::Reply::json(R"({"status":"ok"})"));
        m_port = http.port();
    }
    const Run run = runScript(DemoBundle::setupScript());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 7);
    QVERIFY(run.validUtf8);
    QVERIFY2(run.output.contains(QStringLiteral("브레인이 아닌")), qPrintable(run.output));
    QVERIFY(!QFile::exists(pidFile()));
}

void TestBootstrap::missingBrainProgramIsAStartFailure()
{
    // The script alone, without the bundle's brain beside it.
    QTemporaryDir bare;
    const QString script = bare.path() + QStringLiteral("/bootstrap.sh");
    QVERIFY(QFile::copy(DemoBundle::setupScript(), script));
    const Run run = runScript(script);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 6);
    QVERIFY(run.output.contains(QStringLiteral("찾을 수 없어요")));
}

void TestBootstrap::refusesUnknownInputs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("sensor role is not the script's") << QStringLiteral("KOVEL_ROLE") << QStringLiteral("sensor");
    QTest::newRow("unknown engine") << QStringLiteral("KOVEL_ENGINE") << QStringLiteral("gpt");
    QTest::newRow("port not a number") << QStringLiteral("KOVEL_BRAIN_PORT") << QStringLiteral("89; rm -rf ~");
}

void TestBootstrap::refusesUnknownInputs()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    const Run run = runScript(DemoBundle::setupScript(), {{name, value}});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFile::exists(pidFile()));
    QVERIFY(QDir(m_home->path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

void TestBootstrap::withoutAutostartOnlyChecks()
{
    const Run run = runScript(DemoBundle::setupScript(), {{QStringLiteral("KOVEL_AUTOSTART"), QStringLiteral("0")}});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!QFile::exists(pidFile()));
    QTcpServer stillFree;
    QVERIFY(stillFree.listen(QHostAddress::LocalHost, m_port));
}

QTEST_GUILESS_MAIN(TestBootstrap)
#include "tst_bootstrap.moc"
