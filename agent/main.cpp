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
#include <QStringDecoder>
#include <QStringList>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

int cannotRead(const QString &path, int error)
{
    std::fprintf(stderr, "kovel: cannot read the key file %s: %s\n", qUtf8Printable(escapedForLog(path)),
                 std::strerror(error));
    return 1;
}

// The key file's bytes into `bytes`; 0, or the status to end with. Only a
// regular file will do, opened without following a link (which could lead to
// anyone's file) and without waiting (a FIFO would hold the agent in open()
// for ever, out of the service manager's sight).
int readKeyFile(const QString &path, QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            return refuse(QStringLiteral("the key file is a symbolic link"));
        return cannotRead(path, errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return cannotRead(path, error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(QStringLiteral("the key file is not a regular file"));
    }
    bytes.resize(keyFileLimit + 1);
    qint64 size = 0;
    while (size < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + size, size_t(bytes.size() - size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return cannotRead(path, error);
        }
        if (n == 0)
            break;
        size += n;
    }
    ::close(fd);
    if (size > keyFileLimit)
        return refuse(QStringLiteral("the key file is too large to hold a key"));
    bytes.truncate(size);
    return 0;
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
        QByteArray bytes;
        if (const int status = readKeyFile(path, bytes); status != 0)
            return status;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        keyValue = utf8(bytes);
        // Bad bytes would otherwise become U+FFFD: a different key, quietly.
        if (utf8.hasError())
            return refuse(QStringLiteral("the key file is not valid UTF-8"));
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
