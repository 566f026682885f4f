// Fault drills for the streamed runner, watched through the shown installer
// window: characters split across reads at every offset, a child that closes
// its output and lives on, children killed by signals, and a grandchild that
// keeps the pipe open. In each case the window keeps ticking, the run ends in
// its specified state and message, and the log (and the view of it) holds
// exactly what the child wrote.
//
// The test program is also its own child: with "--emit-split" it writes the
// split-test stream to its standard output and exits.

#include "installer/runs/runner.h"
#include "installer/window/contentview.h"
#include "installer/window/logview.h"
#include "tests/support/installerrig.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <unistd.h>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

constexpr int deadlineMs = 60000;

// Characters of every UTF-8 length, so a cut at any byte offset of the
// stream falls inside each kind at each of its inner offsets.
QByteArray splitStream(qsizetype bytes)
{
    const QByteArray line = QStringLiteral("a é 한 🧠 ✓ ß 語 𝄞 — 로그 줄\n").toUtf8();
    QByteArray out;
    out.reserve(bytes + line.size());
    while (out.size() < bytes)
        out += line;
    return out;
}

constexpr qsizetype splitBytes = 8 * 1024 * 1024;
// 8 MB here (the benchmark streams 50 MB); every split offset is already
// met within the first few kilobytes.
// The start goes out in small pieces whose sizes cycle through 1..13 (13 is
// prime to every character length), each followed by a short pause so the
// reader mostly sees each piece on its own; the rest in big uneven pieces.
constexpr qsizetype smallPart = 48 * 1024;

bool writeAll(const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size_t(size));
        if (n < 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

int emitSplit()
{
    const QByteArray s = splitStream(splitBytes);
    qsizetype at = 0;
    for (int k = 0; at < smallPart; k = (k + 1) % 13) {
        const qsizetype n = std::min<qsizetype>(k + 1, smallPart - at);
        if (!writeAll(s.constData() + at, n))
            return 1;
        at += n;
        ::usleep(50);
    }
    for (int k = 0; at < s.size(); ++k) {
        const qsizetype n = std::min<qsizetype>(65536 + (k * 7919) % 4099, s.size() - at);
        if (!writeAll(s.constData() + at, n))
            return 1;
        at += n;
    }
    return 0;
}

QString framed(int status) { return u'\n' + failureMessage(status) + u'\n'; }

// The shown window over one installer, with a 5 ms timer counting ticks.
struct Window {
    Window() : view(rig.state, ContentActions{})
    {
        view.resize(640, 600);
        view.show();
        QObject::connect(&ticker, &QTimer::timeout, [this] { ++ticks; });
        ticker.start(5);
    }
    LogView *log() const { return view.findChild<LogView *>(); }
    QPushButton *start() const { return view.findChild<QPushButton *>(QStringLiteral("start")); }

    void begin()
    {
        rig.state.setLog(QString());
        rig.state.setDone(false);
        rig.state.setRunning(true);
    }
    bool waitForEnd(int ms = deadlineMs)
    {
        if (!rig.state.running())
            return true;
        QSignalSpy spy(&rig.state, &InstallerState::runningChanged);
        return spy.wait(ms) && !rig.state.running();
    }
    // The view has caught up with the whole log.
    bool showsTheLog()
    {
        return QTest::qWaitFor([this] { return !log()->hasPending() && log()->toPlainText() == rig.state.log(); },
                               deadlineMs);
    }
    bool keepsTicking()
    {
        const int at = ticks;
        return QTest::qWaitFor([&] { return ticks > at + 2; }, deadlineMs);
    }

    InstallerRig<> rig;
    ContentView view;
    QTimer ticker;
    int ticks = 0;
};

} // namespace

class TestRunnerFaults : public QObject
{
    Q_OBJECT

private slots:
    void charactersSplitAtEveryOffset();
    void outputClosedButStillRunning();
    void killedBySignal_data();
    void killedBySignal();
    void grandchildHoldsThePipe();
};

void TestRunnerFaults::charactersSplitAtEveryOffset()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.view));
    w.begin();
    auto *p = new QProcess;
    p->setProgram(QCoreApplication::applicationFilePath());
    p->setArguments({QStringLiteral("--emit-split")});
    runStreaming(w.rig.context, w.rig.runs, p, {});
    QVERIFY(w.start()->text() == QStringLiteral("실행 중…"));
    QVERIFY(w.waitForEnd());
    QVERIFY(w.ticks > 0);
    QVERIFY(w.rig.state.done());
    const QString expected = QString::fromUtf8(splitStream(splitBytes));
    QTRY_COMPARE_WITH_TIMEOUT(w.rig.state.log().size(), expected.size(), deadlineMs);
    QVERIFY(w.rig.state.log() == expected);
    QVERIFY(w.showsTheLog());
    QCOMPARE(w.start()->text(), QStringLiteral("시작"));
    QVERIFY(w.start()->isEnabled());
    QVERIFY(w.keepsTicking());
}

// Output closed early: the run goes on until the child exits, the window
// stays live meanwhile, and the end is reported after the early output.
void TestRunnerFaults::outputClosedButStillRunning()
{
    QTemporaryDir dir;
    const QString go = dir.filePath(QStringLiteral("go"));
    const QString closed = dir.filePath(QStringLiteral("closed"));
    Window w;
    w.begin();
    int successSteps = 0;
    runStreaming(w.rig.context, w.rig.runs,
                 shellChild(QStringLiteral("echo '먼저 ✓'; exec >&- 2>&-; : > '%2'; while [ ! -e '%1' ]; do sleep 0.02; done; exit 9")
                           .arg(go, closed)),
                 [&successSteps] { ++successSteps; });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(closed), deadlineMs);
    QTRY_COMPARE_WITH_TIMEOUT(w.rig.state.log(), QStringLiteral("먼저 ✓\n"), deadlineMs);
    QVERIFY(w.keepsTicking());
    QVERIFY(w.rig.state.running());
    QVERIFY(!w.start()->isEnabled());
    QVERIFY(QFile(go).open(QIODevice::WriteOnly));
    QVERIFY(w.waitForEnd());
    QVERIFY(!w.rig.state.done());
    QTRY_COMPARE(w.rig.state.log(), QStringLiteral("먼저 ✓\n") + framed(9));
    QVERIFY(w.showsTheLog());
    QCOMPARE(successSteps, 0);
    QVERIFY(w.rig.platform.openedUrls.isEmpty());
}

void TestRunnerFaults::killedBySignal_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("signal");   // sent by the test; 0: the child signals itself
    QTest::addColumn<int>("status");
    QTest::newRow("kills itself, KILL") << "echo '안녕 bye'; kill -KILL $$" << 0 << 128 + SIGKILL;
    QTest::newRow("kills itself, SEGV") << "echo '안녕 bye'; kill -SEGV $$" << 0 << 128 + SIGSEGV;
    QTest::newRow("killed from outside, TERM") << "echo '안녕 bye'; exec sleep 60" << int(SIGTERM) << 128 + SIGTERM;
    QTest::newRow("killed from outside, KILL") << "echo '안녕 bye'; exec sleep 60" << int(SIGKILL) << 128 + SIGKILL;
}

void TestRunnerFaults::killedBySignal()
{
    QFETCH(QString, script);
    QFETCH(int, signal);
    QFETCH(int, status);
    Window w;
    w.begin();
    auto *p = shellChild(script);
    qint64 pid = 0;
    QObject::connect(p, &QProcess::started, [p, &pid] { pid = p->processId(); });
    int successSteps = 0;
    runStreaming(w.rig.context, w.rig.runs, p, [&successSteps] { ++successSteps; });
    if (signal) {
        QTRY_COMPARE_WITH_TIMEOUT(w.rig.state.log(), QStringLiteral("안녕 bye\n"), deadlineMs);
        QVERIFY(pid > 0);
        QVERIFY(w.keepsTicking());
        ::kill(pid_t(pid), signal);
    }
    QVERIFY(w.waitForEnd());
    QVERIFY(!w.rig.state.done());
    QTRY_COMPARE(w.rig.state.log(), QStringLiteral("안녕 bye\n") + framed(status));
    QVERIFY(w.showsTheLog());
    QCOMPARE(successSteps, 0);
    QVERIFY(w.rig.platform.openedUrls.isEmpty());
    QVERIFY(w.keepsTicking());
}

// The child's background grandchild inherits the pipe and outlives it: the
// run still ends when the child does.
void TestRunnerFaults::grandchildHoldsThePipe()
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    Window w;
    w.begin();
    runStreaming(w.rig.context, w.rig.runs,
                 shellChild(QStringLiteral("sleep 60 & echo $! > '%1'; echo '부모 끝'").arg(pidFile)), {});
    const bool ended = w.waitForEnd();
    QFile f(pidFile);
    if (f.open(QIODevice::ReadOnly))
        ::kill(f.readAll().trimmed().toInt(), SIGKILL);
    QVERIFY(ended);
    QVERIFY(w.rig.state.done());
    QTRY_COMPARE(w.rig.state.log(), QStringLiteral("부모 끝\n"));
    QVERIFY(w.showsTheLog());
    QVERIFY(w.keepsTicking());
}

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--emit-split") == 0)
        return emitSplit();
    QApplication app(argc, argv);
    TestRunnerFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runnerfaults.moc"
