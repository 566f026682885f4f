// The sensor agent as the service manager starts it:
//   kovel agent --server URL --device-id ID --api-key KEY
//   kovel agent --server URL --device-id ID --api-key-file PATH
// (the second keeps the key off every command line). It holds its identity and
// stays up until it is told to stop; collecting is not its job yet.

#include "agent/agentvalues.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const auto n = ::write(stopPipe[1], &byte, 1);
}

bool installStopHandlers()
{
    if (::pipe(stopPipe) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

const char usage[] = "usage: kovel agent --server URL --device-id ID --api-key KEY\n"
                     "       kovel agent --server URL --device-id ID --api-key-file PATH\n";

// A key file is a few dozen bytes; anything far larger is not one.
constexpr qint64 keyFileLimit = 64 * 1024;

int refuse(const QString &why)
{
    std::fprintf(stderr, "kovel: %s\n", qUtf8Printable(why));
    std::fputs(usage, stderr);
    return 2;
}

// One log line per event, whatever a value holds: backslashes doubled and
// anything that is not plainly printable (controls, format characters such as
// bidirectional overrides, line and paragraph separators) written as \uXXXX.
QString escapedForLog(const QString &value)
{
    QString out;
    for (const char32_t c : value.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (c == U'\\')
            out += QLatin1String("\\\\");
        else if (!QChar::isPrint(c) || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            out += (c > 0xffff ? QStringLiteral("\\U") + QString::number(uint(c), 16).rightJustified(8, QLatin1Char('0'))
                               : QStringLiteral("\\u") + Kovel::Agent::codePoint(c).toLower());
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kovel"));
    const QStringList args = app.arguments();

    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("agent"), QStringLiteral("run the sensor agent"));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("brain address"), QStringLiteral("URL"));
    const QCommandLineOption deviceId(QStringLiteral("device-id"), QStringLiteral("this device's identifier"), QStringLiteral("ID"));
    const QCommandLineOption apiKey(QStringLiteral("api-key"), QStringLiteral("API key"), QStringLiteral("KEY"));
    const QCommandLineOption apiKeyFile(QStringLiteral("api-key-file"), QStringLiteral("file holding the API key"), QStringLiteral("PATH"));
    parser.addOptions({server, deviceId, apiKey, apiKeyFile});

    if (!parser.parse(args))
        return refuse(parser.errorText());
    // Values first: "--device-id --api-key KEY" is a device id that looks like an option.
    for (const QCommandLineOption *option : {&server, &deviceId, &apiKey, &apiKeyFile}) {
        if (!parser.isSet(*option))
            continue;
        const QString name = option->names().first();
        for (const QString &value : parser.values(*option))
            if (const QString problem = Kovel::Agent::agentValueProblem(value); !problem.isEmpty())
                return refuse(QStringLiteral("the value of --") + name + QLatin1Char(' ') + problem);
    }
    if (parser.positionalArguments() != QStringList{QStringLiteral("agent")})
        return refuse(QStringLiteral("unexpected command line"));
    // Each option once, in the installer's order: a second --server would
    // otherwise quietly win over the first.
    const QStringList named = parser.optionNames();
    const QStringList withKey = {QStringLiteral("server"), QStringLiteral("device-id"), QStringLiteral("api-key")};
    const QStringList withKeyFile = {QStringLiteral("server"), QStringLiteral("device-id"), QStringLiteral("api-key-file")};
    if (named != withKey && named != withKeyFile)
        return refuse(QStringLiteral("unexpected command line"));
    // Each value as the argument after its option ("--server=URL" is not how
    // the service manager is set up to call it).
    if (args.size() != 8 || args[2] != QLatin1String("--server") || args[4] != QLatin1String("--device-id")
        || (args[6] != QLatin1String("--api-key") && args[6] != QLatin1String("--api-key-file")))
        return refuse(QStringLiteral("give each option its value as the next argument"));

    const QString serverValue = parser.value(server);
    const QString deviceValue = parser.value(deviceId);
    QString keyValue;
    if (parser.isSet(apiKeyFile)) {
        const QString path = parser.value(apiKeyFile);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "kovel: cannot read the key file %s: %s\n", qUtf8Printable(escapedForLog(path)),
                         qUtf8Printable(file.errorString()));
            return 1;
        }
        const QByteArray bytes = file.read(keyFileLimit + 1);
        if (bytes.size() > keyFileLimit)
            return refuse(QStringLiteral("the key file is too large to hold a key"));
        keyValue = QString::fromUtf8(bytes);
        // A key written by hand usually ends with a newline; it is no part of the key.
        if (keyValue.endsWith(QLatin1Char('\n')))
            keyValue.chop(1);
        if (const QString problem = Kovel::Agent::agentValueProblem(keyValue); !problem.isEmpty())
            return refuse(QStringLiteral("the key in the key file ") + problem);
    } else {
        keyValue = parser.value(apiKey);
    }

    // Neither the key nor any password in the address goes to the log.
    const QString shownServer = QUrl(serverValue).toString(QUrl::RemoveUserInfo);

    if (!installStopHandlers()) {
        std::fputs("kovel: cannot set up signal handling\n", stderr);
        return 1;
    }
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [] {
        std::fputs("kovel agent stopped\n", stdout);
        std::fflush(stdout);
        QCoreApplication::quit();
    });

    std::printf("kovel agent started: server %s, device %s\n", qUtf8Printable(escapedForLog(shownServer)),
                qUtf8Printable(escapedForLog(deviceValue)));
    std::fflush(stdout);
    return app.exec();
}
