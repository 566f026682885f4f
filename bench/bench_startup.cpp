// KovelBar start-up: process start to panel shown, and memory once the first
// refresh has ended, each against a trivial Qt Widgets program built the same
// way and started the same way in the same run. The brain is a scripted one in
// this process; each program gets a temporary home whose configuration points
// there, and runs offscreen.
//
//   bench_startup [runs]
//   bench_startup --tray [runs]   on an X display with a tray: the tray icon's
//                                 first paint against the trivial program's first
//                                 frame, and a click's handling to the panel drawn

#include "bench/benchreport.h"
#include "tests/support/fakebrain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>

namespace {

struct Start {
    bool ok = false;
    double shownMs = 0;   // from just before the process was started
    qint64 rssKiB = 0;    // trivial: right after it was shown; KovelBar: after its first refresh
};

// Starts `program` and reads its SHOWN and SETTLED/REFRESHED lines; the event
// loop keeps running meanwhile, so the scripted brain can answer.
Start startOnce(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    Start s;
    QProcess p;
    p.setProcessEnvironment(environment);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    double shownAt = 0;
    bool ended = false;
    QByteArray pending;
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] {
        pending += p.readAllStandardOutput();
        while (pending.contains('\n')) {
            const qsizetype end = pending.indexOf('\n');
            const QList<QByteArray> words = pending.left(end).split(' ');
            pending.remove(0, end + 1);
            if (words.value(0) == "SHOWN")
                shownAt = words.value(1).toDouble();
            else if (words.value(0) == "SETTLED" || words.value(0) == "REFRESHED")
                s.rssKiB = words.value(2).toLongLong();
        }
    });
    QObject::connect(&p, &QProcess::finished, [&] { ended = true; });
    const double before = Bench::monotonicSeconds();
    p.start(program, arguments);
    const QDeadlineTimer cap(30000);
    while (!ended && !cap.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (!ended) {
        p.kill();
        p.waitForFinished(2000);
        return s;
    }
    s.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && shownAt > 0 && s.rssKiB > 0;
    s.shownMs = (shownAt - before) * 1000;
    return s;
}

// The monotonic times a program prints on lines "WORD seconds ...", by word,
// from just before it was started.
QHash<QByteArray, double> timesOf(const QString &program, const QStringList &arguments,
                                  const QProcessEnvironment &environment)
{
    QHash<QByteArray, double> times;
    QProcess p;
    p.setProcessEnvironment(environment);
    const double before = Bench::monotonicSeconds();
    p.start(program, arguments);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(2000);
        return times;
    }
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        for (int i = 0; i + 1 < words.size(); i += 2)
            times.insert(words[i], (words[i + 1].toDouble() - before) * 1000);
    }
    return times;
}

int trayStart(int runs)
{
    const QString name = QStringLiteral("KovelBar start-up, X display with a tray");
    const QString here = QCoreApplication::applicationDirPath();
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // A brain that is not there: the panel's refresh fails at once.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    const QString trivial = here + QStringLiteral("/bench_trivialwindow");
    const QString kovelBar = here + QStringLiteral("/bench_kovelbar");
    timesOf(trivial, {}, environment);
    timesOf(kovelBar, {QStringLiteral("--tray")}, environment);

    QList<double> trivialMs, iconMs, clickMs;
    for (int i = 0; i < runs; ++i) {
        const auto t = timesOf(trivial, {}, environment);
        const auto k = timesOf(kovelBar, {QStringLiteral("--tray")}, environment);
        if (!t.contains("SHOWN") || !k.contains("ICON") || !k.contains("PANEL")) {
            Bench::row(name, QStringLiteral("setup"), QStringLiteral("a program did not report (is a tray running?)"),
                       QStringLiteral("reports"), false);
            return 1;
        }
        trivialMs << t.value("SHOWN");
        iconMs << k.value("ICON");
        clickMs << k.value("PANEL") - k.value("CLICK");
    }
    const double ratio = Bench::median(iconMs) / Bench::median(trivialMs);
    Bench::row(name, QStringLiteral("process start to tray icon drawn, vs a trivial program's first frame"),
               QStringLiteral("%1 (median %2 vs %3); KovelBar: %4; trivial: %5")
                   .arg(Bench::ratio(ratio), Bench::ms(Bench::median(iconMs)), Bench::ms(Bench::median(trivialMs)),
                        Bench::Runs{iconMs}.describe(1, QStringLiteral(" ms")),
                        Bench::Runs{trivialMs}.describe(1, QStringLiteral(" ms"))),
               QStringLiteral("≤ 1.15×"), ratio <= 1.15);
    Bench::row(name, QStringLiteral("click to panel drawn (first opening)"),
               QStringLiteral("%1; %2").arg(Bench::ms(Bench::median(clickMs)), Bench::Runs{clickMs}.describe(1, QStringLiteral(" ms"))),
               QStringLiteral("≤ 15 ms"),
               Bench::median(clickMs) <= 15);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--tray") == 0)
        return trayStart(argc > 2 ? std::max(1, atoi(argv[2])) : 5);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const QString name = QStringLiteral("KovelBar start-up");
    const QString here = QCoreApplication::applicationDirPath();

    FakeBrain brain;
    QByteArray loops = "{\"loops\":[";
    for (int i = 0; i < 12; ++i)
        loops += (i ? "," : "") + QByteArray("{\"id\":\"l") + QByteArray::number(i) + "\",\"title\":\"미결 " + QByteArray::number(i) + "\"}";
    loops += "]}";
    brain.on("GET", "/api/structured/open-loops", FakeBrain::Reply::json(loops));

    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral(".kovel"));
    QFile config(home.filePath(QStringLiteral(".kovel/config.json")));
    config.open(QIODevice::WriteOnly);
    config.write("{\"brain\":\"" + brain.url().toUtf8() + "\"}");
    config.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    const QString trivial = here + QStringLiteral("/bench_trivialwindow");
    const QString kovelBar = here + QStringLiteral("/bench_kovelbar");

    // One start of each first, so that neither pays for a cold disk cache.
    startOnce(trivial, {}, environment);
    startOnce(trivial, {QStringLiteral("--korean")}, environment);
    startOnce(kovelBar, {QStringLiteral("--at-once")}, environment);

    QList<double> trivialMs, koreanMs, atOnceMs;
    QList<qint64> trivialKiB, koreanKiB, kovelBarKiB;
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        const Start t = startOnce(trivial, {}, environment);
        const Start k = startOnce(kovelBar, {QStringLiteral("--at-once")}, environment);
        const Start c = startOnce(trivial, {QStringLiteral("--korean")}, environment);
        ok = ok && t.ok && k.ok && c.ok;
        trivialMs << t.shownMs;
        trivialKiB << t.rssKiB;
        atOnceMs << k.shownMs;
        kovelBarKiB << k.rssKiB;
        koreanMs << c.shownMs;
        koreanKiB << c.rssKiB;
    }
    const Start noTray = startOnce(kovelBar, {}, environment);
    ok = ok && noTray.ok;
    if (!ok) {
        Bench::row(name, QStringLiteral("setup"), QStringLiteral("a program did not report"), QStringLiteral("reports"), false);
        return 1;
    }

    const double base = Bench::median(trivialMs);
    const double atOnce = Bench::median(atOnceMs);
    Bench::row(name, QStringLiteral("process start to panel shown, opened at once (as a tray click opens it), vs trivial"),
               QStringLiteral("%1 (%2 vs %3; median of %4)").arg(Bench::ratio(atOnce / base), Bench::ms(atOnce), Bench::ms(base))
                   .arg(runs),
               QStringLiteral("≤ 1.5×"), atOnce / base <= 1.5);
    Bench::row(name, QStringLiteral("process start to panel shown, no tray (window once it stops waiting for one), vs trivial"),
               QStringLiteral("%1 (%2 vs %3)").arg(Bench::ratio(noTray.shownMs / base), Bench::ms(noTray.shownMs), Bench::ms(base)),
               QStringLiteral("≤ 1.5×"), noTray.shownMs / base <= 1.5);
    const double kib = Bench::median(kovelBarKiB);
    const double baseKiB = Bench::median(trivialKiB);
    Bench::row(name, QStringLiteral("RSS after the first refresh vs trivial shown"),
               QStringLiteral("%1 (%2 MB vs %3 MB)").arg(Bench::ratio(kib / baseKiB)).arg(kib / 1024, 0, 'f', 1)
                   .arg(baseKiB / 1024, 0, 'f', 1),
               QStringLiteral("≤ 1.3×"), kib / baseKiB <= 1.3);
    const double korean = Bench::median(koreanMs);
    const double koreanRss = Bench::median(koreanKiB);
    Bench::row(name, QStringLiteral("trivial program with Korean and emoji text in regular and bold, vs trivial"),
               QStringLiteral("%1 and %2 (%3, %4 MB)").arg(Bench::ratio(korean / base), Bench::ratio(koreanRss / baseKiB),
                                                          Bench::ms(korean)).arg(koreanRss / 1024, 0, 'f', 1),
               QString(), false);
    return 0;
}
