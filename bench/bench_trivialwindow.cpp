// The yardstick for KovelBar's start-up: a trivial Qt Widgets program, built
// like the benchmarks, that shows one small window with one line of text.
// With --korean the window shows Korean and emoji in regular and bold type,
// which is what any Korean interface pays for its fonts.
// Prints, on stdout:
//   SHOWN <monotonic seconds>             once its window is first on screen
//   SETTLED <monotonic seconds> <RSS KiB> on the next turn after that, then quits

#include "bench/benchreport.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

int main(int argc, char *argv[])
{
    Bench::App app(argc, argv);
    const bool korean = argc > 1 && qstrcmp(argv[1], "--korean") == 0;
    QWidget window;
    window.setWindowTitle(QStringLiteral("KOVEL"));
    auto *column = new QVBoxLayout(&window);
    column->addWidget(new QLabel(korean ? QStringLiteral("📦 KOVEL — 어제 뭐 했지?") : QStringLiteral("Hello, world")));
    if (korean) {
        auto *bold = new QLabel(QStringLiteral("⏳ 미결 12건"));
        QFont font = bold->font();
        font.setBold(true);
        bold->setFont(font);
        column->addWidget(bold);
    }
    window.resize(380, 120);
    app.onFirstFrame(&window, [] {
        std::printf("SHOWN %.6f\n", Bench::monotonicSeconds());
        std::fflush(stdout);
        QTimer::singleShot(0, [] {
            std::printf("SETTLED %.6f %lld\n", Bench::monotonicSeconds(), Bench::rssKiB());
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    });
    window.show();
    return app.exec();
}
