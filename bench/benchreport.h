#pragma once
// What every benchmark program shares: one result row in the format bench/run
// collects into its table, the process's memory figures, a 5 ms timer that
// records its worst gap (the longest the main thread could not react), and an
// application object that can name the events a stall was made of.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>
#include <utility>

namespace Bench {

// "ROW<TAB>benchmark<TAB>measure<TAB>value<TAB>target<TAB>met"; a row without
// a target is a figure for context.
inline void row(const QString &bench, const QString &measure, const QString &value, const QString &target, bool met)
{
    const QString line = QStringLiteral("ROW\t%1\t%2\t%3\t%4\t%5\n")
                             .arg(bench, measure, value, target.isEmpty() ? QStringLiteral("-") : target,
                                  target.isEmpty() ? QStringLiteral("-") : met ? QStringLiteral("yes") : QStringLiteral("NO"));
    std::fputs(line.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

inline QString ms(double value) { return QString::number(value, 'f', 1) + QStringLiteral(" ms"); }
inline QString ratio(double value) { return QString::number(value, 'f', value < 0.1 ? 3 : 2) + QStringLiteral("×"); }

// The middle of several runs (the upper one of an even count).
template <class T>
T median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? T() : values.at(values.size() / 2);
}

// Several runs of one figure: its median, and every run with min, median, max.
struct Runs {
    QList<double> values;
    double median() const { return Bench::median(values); }
    QString describe(int precision, const QString &unit) const
    {
        if (values.isEmpty())
            return QStringLiteral("no runs");
        QStringList each;
        for (double v : values)
            each << QString::number(v, 'f', precision);
        const auto [low, high] = std::minmax_element(values.cbegin(), values.cend());
        return QStringLiteral("runs %1%5; min %2, median %3, max %4%5")
            .arg(each.join(QStringLiteral(", ")), QString::number(*low, 'f', precision),
                 QString::number(median(), 'f', precision), QString::number(*high, 'f', precision), unit);
    }
};

inline qint64 statusKiB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
inline qint64 rssKiB() { return statusKiB("VmRSS:"); }
inline qint64 peakKiB() { return statusKiB("VmHWM:"); }

// CPU time the calling thread has used, in nanoseconds.
inline qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// With BENCH_SLOW_MS=n in the environment, stalls and events of n ms or more
// are named on stderr (with the monotonic clock, to find them in `perf script`).
inline qint64 traceNs()
{
    static const qint64 ns = qEnvironmentVariableIntValue("BENCH_SLOW_MS") * 1000000ll;
    return ns;
}

// A 5 ms timer on the main thread. Its worst gap, the 5 ms included, is the
// longest the thread could not react; the thread's CPU time within that gap
// tells work from waiting for a core (the machine is shared).
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_worst = 0;
        m_worstCpu = 0;
        m_ticks = 0;
        m_over = 0;
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuNs();
        m_timer.start(5);
    }
    void stop()
    {
        tick();
        m_timer.stop();
    }
    double worstMs() const { return m_worst / 1e6; }
    double worstCpuMs() const { return m_worstCpu / 1e6; }
    // How many gaps reached 16 ms, of how many.
    int over16() const { return m_over; }
    int ticks() const { return m_ticks; }
    QString describe() const
    {
        return QStringLiteral("%1 (%2 on CPU; %3 of %4 gaps ≥ 16 ms)")
            .arg(ms(worstMs()), ms(worstCpuMs())).arg(m_over).arg(m_ticks);
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        const qint64 gap = now - m_last;
        ++m_ticks;
        if (gap >= 16000000)
            ++m_over;
        if (gap > m_worst) {
            m_worst = gap;
            m_worstCpu = cpu - m_lastCpu;
        }
        if (traceNs() > 0 && gap >= std::max<qint64>(traceNs(), 12000000))
            std::fprintf(stderr, "gap %.1f ms (%.1f ms on CPU), ended at %.3f s\n", gap / 1e6, (cpu - m_lastCpu) / 1e6,
                         monotonicSeconds());
        m_last = now;
        m_lastCpu = cpu;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    qint64 m_worst = 0;
    qint64 m_worstCpu = 0;
    int m_ticks = 0;
    int m_over = 0;
};

// How late this machine wakes a thread that sleeps 2 ms at a time, while the
// probe runs: the part of any stall that no code of ours can avoid.
class WakeProbe
{
public:
    void start()
    {
        m_stop = false;
        m_worstNs = 0;
        m_thread = std::thread([this] {
            while (!m_stop) {
                const double before = monotonicSeconds();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                const qint64 late = qint64((monotonicSeconds() - before) * 1e9) - 2000000;
                m_worstNs = std::max<qint64>(m_worstNs, late);
            }
        });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    ~WakeProbe() { stop(); }
    double worstMs() const { return m_worstNs / 1e6; }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_worstNs{0};
};

// The application object of a benchmark.
class App : public QApplication
{
public:
    App(int &argc, char **argv) : QApplication(argc, argv) {}

    // Calls `shown` once, right after `window` has first been painted and
    // handed to the screen (the expose or update that painted it returned).
    void onFirstFrame(QWidget *window, std::function<void()> shown)
    {
        m_window = window;
        m_shown = std::move(shown);
    }

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_shown && m_window && m_window->isVisible()
            && ((event->type() == QEvent::Expose && receiver == m_window->windowHandle())
                || (event->type() == QEvent::UpdateRequest && receiver == m_window))) {
            const bool result = QApplication::notify(receiver, event);
            if (m_window->windowHandle() && m_window->windowHandle()->isExposed())
                std::exchange(m_shown, nullptr)();
            return result;
        }
        if (traceNs() <= 0 || m_depth > 0)
            return QApplication::notify(receiver, event);
        ++m_depth;
        const int type = event->type();
        QElapsedTimer t;
        t.start();
        const bool result = QApplication::notify(receiver, event);
        const qint64 ns = t.nsecsElapsed();
        --m_depth;
        if (ns >= traceNs())
            std::fprintf(stderr, "event %d to %s \"%s\": %.1f ms, ended at %.3f s\n", type,
                         receiver->metaObject()->className(), qPrintable(receiver->objectName()), ns / 1e6,
                         monotonicSeconds());
        return result;
    }

private:
    int m_depth = 0;
    QPointer<QWidget> m_window;
    std::function<void()> m_shown;
};

} // namespace Bench
