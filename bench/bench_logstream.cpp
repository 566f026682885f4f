// Log streaming, side by side with the terminals a user would otherwise
// watch an install in. Three outputs: 50 MB of 76-column Korean/ASCII lines,
// the same 50 MB as one line, and 200,000 carriage-return progress updates.
// For each, five rounds, each round one run of every program in turn, each run
// a fresh process on the same X display:
//   - the installer window (ContentView with `cat` of the output as the run's
//     child through runStreaming): from the run's start until the log view has
//     painted itself with the whole log in it;
//   - st and urxvt, running `cat` of the same file: from cat's start until its
//     last write was taken by the terminal (the terminal's own last paint comes
//     after that, so this favours the terminal).
// Also the installer's extra memory (peak RSS minus RSS of the shown, idle
// window) against the output's size, and the worst gap of a 5 ms timer on its
// main thread while streaming.
//
//   bench_logstream [lines|line|progress]...        the driver; all three when none is named
//   bench_logstream --view FILE CHARS LINES         one run of the installer window
//   bench_logstream --reader FILE CHARS LINES       one run of the runner alone, no window

#include "bench/benchreport.h"
#include "installer/runs/runner.h"
#include "installer/window/contentview.h"
#include "installer/window/logview.h"
#include "tests/support/installerrig.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

constexpr qint64 megabytes = 50;
constexpr int rounds = 5;
constexpr int progressUpdates = 200000;

// ---- the outputs

struct Output {
    QString name;
    QString path;
    qint64 bytes = 0;
    qint64 chars = 0;       // UTF-16 units, as the log holds them
    qint64 lines = 0;       // as the view shows them
};

// Lines of 76 columns (a Hangul syllable takes two) mixing Korean words and
// ASCII, each a little different.
QByteArray makeLine(quint32 &seed)
{
    static const char *const korean[] = {"설치", "다운로드", "패키지", "확인", "완료", "압축", "풀기", "준비"};
    static const char *const ascii[] = {"pkg", "v1.2.3", "libfoo.so", "OK", "->", "/usr/lib", "sha256", "[##]"};
    QByteArray line;
    int columns = 0;
    line += QByteArray::number(seed % 1000000).rightJustified(6, '0') + ' ';
    columns += 7;
    while (true) {
        seed = seed * 1103515245u + 12345u;
        const bool k = (seed >> 16) & 1;
        const char *word = k ? korean[(seed >> 8) % 8] : ascii[(seed >> 8) % 8];
        const int width = k ? int(QString::fromUtf8(word).size()) * 2 : int(qstrlen(word));
        if (columns + width + 1 > 76)
            break;
        line += word;
        line += ' ';
        columns += width + 1;
    }
    line += QByteArray(76 - columns, '.');
    return line;
}

bool writeOutput(Output &o, const QString &kind)
{
    QFile f(o.path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray all;
    all.reserve(megabytes * 1000 * 1000 + 4096);
    quint32 seed = 7;
    if (kind == QLatin1String("progress")) {
        all += "받는 중\n";
        for (int i = 1; i <= progressUpdates; ++i) {
            const int done = int(qint64(i) * 30 / progressUpdates);
            all += "\r[" + QByteArray(done, '#') + QByteArray(30 - done, ' ') + "] "
                + QByteArray::number(i * 100.0 / progressUpdates, 'f', 1) + "%";
        }
        all += "\n완료\n";
        o.lines = 4;
    } else {
        while (all.size() < megabytes * 1000 * 1000) {
            all += makeLine(seed);
            all += kind == QLatin1String("line") ? ' ' : '\n';
        }
        o.lines = kind == QLatin1String("line") ? 1 : all.count('\n') + 1;
    }
    o.bytes = all.size();
    o.chars = QString::fromUtf8(all).size();
    return f.write(all) == all.size();
}

// ---- one run of the installer window

int viewRun(const QString &input, qint64 chars, qint64 lines)
{
    InstallerRig<> rig;
    ContentView view(rig.state, ContentActions{});
    view.resize(700, 640);
    view.show();
    auto *logView = view.findChild<LogView *>();
    QElapsedTimer wall;
    wall.start();
    while (!view.windowHandle() || !view.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    // When the log view last painted, in run time.
    struct PaintClock : QObject {
        QElapsedTimer *wall;
        double last = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                last = wall->nsecsElapsed() / 1e9;
            return false;
        }
    } paints;
    paints.wall = &wall;
    logView->viewport()->installEventFilter(&paints);
    const qint64 idleKiB = Bench::rssKiB();

    // Gaps from the click on, and once output flows (starting the child
    // blocks the main thread until it has exec'd, which no view can help).
    Bench::StallMeter stalls, flowing;
    QObject::connect(&rig.state, &InstallerState::logAppended, [&flowing, started = false]() mutable {
        if (!std::exchange(started, true))
            flowing.start();
    });
    rig.state.setLog(QString());
    rig.state.setDone(false);
    rig.state.setRunning(true);
    wall.restart();
    stalls.start();
    auto *child = new QProcess;
    child->setProgram(QStringLiteral("cat"));
    child->setArguments({input});
    runStreaming(rig.context, rig.runs, child, {});

    // Shown: painted after the view last caught up with the whole log.
    double caughtUp = -1;
    QObject::connect(logView, &LogView::caughtUp, [&] { caughtUp = wall.nsecsElapsed() / 1e9; });
    const QDeadlineTimer cap(120000);
    while (!cap.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        if (!rig.state.running() && rig.state.log().size() >= chars && !logView->hasPending() && caughtUp >= 0
            && paints.last >= caughtUp)
            break;
    }
    stalls.stop();
    flowing.stop();
    const double shown = paints.last;
    const qint64 peakKiB = Bench::peakKiB();
    if (cap.hasExpired()) {
        std::printf("RUN failed\n");
        return 1;
    }
    const bool exact = rig.state.log().size() == chars && logView->lineCount() == lines;
    std::printf("RUN %.4f %lld %.2f %d %.2f\n", shown, peakKiB - idleKiB, flowing.worstMs(), exact ? 1 : 0,
                stalls.worstMs());
    std::fflush(stdout);
    return 0;
}

// The same run with no window: what reading, decoding and appending the
// output to the log cost before any view is involved.
int readerRun(const QString &input, qint64 chars)
{
    InstallerRig<> rig;
    Bench::StallMeter stalls, flowing;
    QObject::connect(&rig.state, &InstallerState::logAppended, [&flowing, started = false]() mutable {
        if (!std::exchange(started, true))
            flowing.start();
    });
    rig.state.setLog(QString());
    rig.state.setRunning(true);
    QElapsedTimer wall;
    wall.start();
    stalls.start();
    auto *child = new QProcess;
    child->setProgram(QStringLiteral("cat"));
    child->setArguments({input});
    runStreaming(rig.context, rig.runs, child, {});
    const QDeadlineTimer cap(120000);
    while (!cap.hasExpired() && (rig.state.running() || rig.state.log().size() < chars))
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    stalls.stop();
    flowing.stop();
    std::printf("RUN %.4f 0 %.2f 1 %.2f\n", wall.nsecsElapsed() / 1e9, flowing.worstMs(), stalls.worstMs());
    return cap.hasExpired() ? 1 : 0;
}

// ---- the driver

struct Result {
    bool ok = false;
    double seconds = 0;
    qint64 addedKiB = 0;
    double worstMs = 0;          // once output flows
    double worstFromClickMs = 0; // the child's start included
    bool exact = false;
};

Result runView(const Output &o, const QString &mode = QStringLiteral("--view"))
{
    Result r;
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(),
            {mode, o.path, QString::number(o.chars), QString::number(o.lines)});
    if (!p.waitForFinished(180000))
        return r;
    const QList<QByteArray> words = p.readAllStandardOutput().trimmed().split(' ');
    if (words.value(0) != "RUN" || words.size() < 6)
        return r;
    r.ok = true;
    r.seconds = words[1].toDouble();
    r.addedKiB = words[2].toLongLong();
    r.worstMs = words[3].toDouble();
    r.exact = words[4] == "1";
    r.worstFromClickMs = words[5].toDouble();
    return r;
}

// `terminal` runs cat of the output; the time from cat's start to its end.
Result runTerminal(const QString &terminal, const Output &o, const QString &scratch)
{
    Result r;
    const QString times = scratch + QStringLiteral("/times");
    QFile::remove(times);
    const QString script = QStringLiteral("a=$(date +%s%N); cat \"$1\"; b=$(date +%s%N); "
                                          "echo \"$a $b $(grep VmHWM /proc/$PPID/status | tr -s ' ' | cut -d' ' -f2)\" > \"$2\"");
    QStringList arguments;
    if (terminal == QLatin1String("st"))
        arguments << QStringLiteral("-g") << QStringLiteral("100x40");
    else
        arguments << QStringLiteral("-geometry") << QStringLiteral("100x40");
    arguments << QStringLiteral("-e") << QStringLiteral("/bin/sh") << QStringLiteral("-c") << script
              << QStringLiteral("sh") << o.path << times;
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(terminal, arguments);
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    QFile f(times);
    if (!f.open(QIODevice::ReadOnly))
        return r;
    const QList<QByteArray> words = f.readAll().trimmed().split(' ');
    if (words.size() < 2)
        return r;
    r.ok = true;
    r.seconds = (words[1].toLongLong() - words[0].toLongLong()) / 1e9;
    r.addedKiB = words.value(2).toLongLong();
    return r;
}

int drive(QStringList kinds)
{
    if (kinds.isEmpty())
        kinds = {QStringLiteral("lines"), QStringLiteral("line"), QStringLiteral("progress")};
    QTemporaryDir dir;
    QStringList terminals;
    for (const QString &t : {QStringLiteral("st"), QStringLiteral("urxvt")})
        if (!QStandardPaths::findExecutable(t).isEmpty())
            terminals << t;

    for (const QString &kind : kinds) {
        Output o;
        o.name = kind == QLatin1String("lines") ? QStringLiteral("log, %1 MB in 76-column Korean/ASCII lines").arg(megabytes)
            : kind == QLatin1String("line")     ? QStringLiteral("log, %1 MB in one line").arg(megabytes)
                                                : QStringLiteral("log, %1 progress updates (\\r)").arg(progressUpdates);
        o.path = dir.filePath(kind + QStringLiteral(".txt"));
        if (!writeOutput(o, kind)) {
            Bench::row(o.name, QStringLiteral("setup"), QStringLiteral("failed"), QString(), false);
            continue;
        }
        const double memoryTarget = kind == QLatin1String("progress") ? 1.5 : 2.0;

        Bench::Runs view, memory, worst, worstFromClick, reader, readerWorst;
        QHash<QString, Bench::Runs> terms, termMemory;
        bool ok = true, exact = true;
        for (int round = 0; round < rounds; ++round) {
            const Result v = runView(o);
            if (!v.ok)
                std::fprintf(stderr, "%s: the installer window's run failed\n", qPrintable(o.name));
            ok = ok && v.ok;
            exact = exact && v.exact;
            view.values << v.seconds;
            memory.values << double(v.addedKiB) * 1024 / o.bytes;
            worst.values << v.worstMs;
            worstFromClick.values << v.worstFromClickMs;
            const Result alone = runView(o, QStringLiteral("--reader"));
            if (!alone.ok)
                std::fprintf(stderr, "%s: the runner's run failed\n", qPrintable(o.name));
            ok = ok && alone.ok;
            reader.values << alone.seconds;
            readerWorst.values << alone.worstMs;
            for (const QString &t : terminals) {
                const Result r = runTerminal(t, o, dir.path());
                if (!r.ok)
                    std::fprintf(stderr, "%s: %s's run failed\n", qPrintable(o.name), qPrintable(t));
                ok = ok && r.ok;
                terms[t].values << r.seconds;
                termMemory[t].values << r.addedKiB / 1024.0;
            }
        }
        if (!ok) {
            Bench::row(o.name, QStringLiteral("runs"), QStringLiteral("a run failed"), QStringLiteral("all run"), false);
            continue;
        }
        for (const QString &t : terminals) {
            const double ratio = view.median() / terms[t].median();
            const bool st = t == QLatin1String("st");
            Bench::row(o.name, QStringLiteral("until the last byte is shown, vs %1").arg(t),
                       QStringLiteral("%1 (median %2 s vs %3 s); installer: %4; %5: %6")
                           .arg(Bench::ratio(ratio)).arg(view.median(), 0, 'f', 3).arg(terms[t].median(), 0, 'f', 3)
                           .arg(view.describe(3, QStringLiteral(" s")), t, terms[t].describe(3, QStringLiteral(" s"))),
                       st ? QStringLiteral("≤ 0.5×") : QString(), ratio <= 0.5);
        }
        Bench::row(o.name, QStringLiteral("extra memory (peak RSS − idle) vs output"),
                   QStringLiteral("%1 (%2 MB output); %3").arg(Bench::ratio(memory.median()))
                       .arg(o.bytes / 1e6, 0, 'f', 1).arg(memory.describe(2, QStringLiteral("×"))),
                   QStringLiteral("≤ %1×").arg(memoryTarget, 0, 'f', 1), memory.median() <= memoryTarget);
        for (const QString &t : terminals)
            Bench::row(o.name, QStringLiteral("%1 peak RSS in all, for comparison").arg(t),
                       termMemory[t].describe(1, QStringLiteral(" MB")), QString(), false);
        Bench::row(o.name, QStringLiteral("worst main-thread stall while streaming, from the first output on (median of runs' worst)"),
                   QStringLiteral("%1; %2").arg(Bench::ms(worst.median()), worst.describe(1, QStringLiteral(" ms"))),
                   QStringLiteral("< 16 ms"), worst.median() < 16);
        Bench::row(o.name, QStringLiteral("worst main-thread stall from the start of the run, the child's start included"),
                   QStringLiteral("%1; %2").arg(Bench::ms(worstFromClick.median()), worstFromClick.describe(1, QStringLiteral(" ms"))),
                   QString(), false);
        Bench::row(o.name, QStringLiteral("the runner alone, no window: until the log is complete; worst stall"),
                   QStringLiteral("%1 s, %2; %3; stalls %4").arg(reader.median(), 0, 'f', 3).arg(Bench::ms(readerWorst.median()))
                       .arg(reader.describe(3, QStringLiteral(" s")), readerWorst.describe(1, QStringLiteral(" ms"))),
                   QString(), false);
        Bench::row(o.name, QStringLiteral("log complete, view shows every line"), exact ? QStringLiteral("yes") : QStringLiteral("NO"),
                   QStringLiteral("yes"), exact);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 5 && qstrcmp(argv[1], "--view") == 0) {
        Bench::App app(argc, argv);
        return viewRun(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong(), QByteArray(argv[4]).toLongLong());
    }
    if (argc >= 5 && qstrcmp(argv[1], "--reader") == 0) {
        Bench::App app(argc, argv);
        return readerRun(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong());
    }
    QCoreApplication app(argc, argv);
    QStringList kinds;
    for (int i = 1; i < argc; ++i)
        kinds << QString::fromLatin1(argv[i]);
    return drive(kinds);
}
