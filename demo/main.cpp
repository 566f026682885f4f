// kovel-demo-brain: a small stand-in for the brain server, so both programs
// can be seen working on a machine without one. Sample data, in memory only.
#include "demo/demoserver.h"
#include "demo/quitonsignal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {
bool readNumber(const QCommandLineParser &parser, const QString &name, qint64 max, qint64 &out)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < 0 || value > max) {
        std::fprintf(stderr, "kovel-demo-brain: --%s: 0 to %lld\n", qPrintable(name), static_cast<long long>(max));
        return false;
    }
    out = value;
    return true;
}
}

int main(int argc, char *argv[])
{
    // The plain poll() event loop: the GLib one wakes itself through an extra
    // descriptor each time a socket notifier is switched, twice per request.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kovel-demo-brain"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Demo brain server on 127.0.0.1 and ::1 with sample data. "
                                                    "Prints the port it listens on as its first line."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port to listen on; 0 picks a free one (default 8900)."),
                      QStringLiteral("N"), QStringLiteral("8900")});
    parser.addOption({QStringLiteral("chat-delay-ms"), QStringLiteral("How long a chat answer takes (default 1500)."),
                      QStringLiteral("MS")});
    parser.addOption({QStringLiteral("pair-code-ttl-ms"), QStringLiteral("How long a pairing code stays valid (default 300000)."),
                      QStringLiteral("MS")});
    parser.addOption({QStringLiteral("idle-timeout-ms"),
                      QStringLiteral("How long a connection may stay idle, or take to send a request (default 10000)."),
                      QStringLiteral("MS")});
    parser.addOption({QStringLiteral("max-connections"), QStringLiteral("Open connections at most (default 256)."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("pair-guess-wait-ms"),
                      QStringLiteral("How long the next pairing code waits after a first wrong one; doubles with each wrong one, "
                                     "up to a second or this (default 250)."),
                      QStringLiteral("MS")});
    parser.process(app);

    Kovel::Demo::DemoServer::Options options;
    qint64 port = 8900;
    qint64 chatDelay = options.chatDelayMs;
    qint64 idleTimeout = options.limits.idleTimeoutMs;
    qint64 maxConnections = options.limits.maxConnections;
    qint64 guessWait = options.guessWaitMs;
    if (!readNumber(parser, QStringLiteral("port"), 65535, port)
        || !readNumber(parser, QStringLiteral("chat-delay-ms"), 600000, chatDelay)
        || !readNumber(parser, QStringLiteral("pair-code-ttl-ms"), 24LL * 3600 * 1000, options.pairCodeLifetimeMs)
        || !readNumber(parser, QStringLiteral("idle-timeout-ms"), 3600 * 1000, idleTimeout)
        || !readNumber(parser, QStringLiteral("max-connections"), 4096, maxConnections)
        || !readNumber(parser, QStringLiteral("pair-guess-wait-ms"), 60000, guessWait))
        return 2;
    options.chatDelayMs = int(chatDelay);
    options.limits.idleTimeoutMs = int(qMax<qint64>(1, idleTimeout));
    options.limits.maxConnections = int(qMax<qint64>(1, maxConnections));
    options.guessWaitMs = guessWait;

    Kovel::Demo::DemoServer server(options);
    const quint16 listening = server.listenLocal(quint16(port));
    if (listening == 0) {
        std::fprintf(stderr, "kovel-demo-brain: cannot listen on 127.0.0.1:%lld\n", static_cast<long long>(port));
        return 1;
    }
    // Whoever started us with --port 0 reads the port from this first line.
    std::printf("%u\n", unsigned(listening));
    std::fflush(stdout);
    if (server.listensOnIPv6())
        std::fprintf(stderr, "kovel-demo-brain: http://127.0.0.1:%u/ and http://[::1]:%u/\n", unsigned(listening),
                     unsigned(listening));
    else
        std::fprintf(stderr, "kovel-demo-brain: http://127.0.0.1:%u/ (not on ::1)\n", unsigned(listening));
    Kovel::Demo::quitOnSignals(app);
    return app.exec();
}
