#include "platform/systemdagent.h"

#include "platform/commandchain.h"
#include "platform/filewrites.h"

#include <QDir>

namespace {

const QString unitName = QStringLiteral("io.kovel.agent.service");

// systemd expands "%" specifiers everywhere in a unit line.
QString specifierSafe(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('%'), QLatin1String("%%"));
    return out;
}

enum class Word { program, argument };

// One word of an ExecStart= line: in double quotes with C-style escapes, so a
// blank cannot split it, and "%" doubled so no specifier is expanded in it.
// Arguments also get "$" doubled against environment expansion; the program
// path is never expanded that way, so there a doubled "$" would stay doubled.
QString execWord(const QString &value, Word kind)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        switch (u) {
        case '"': out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '%': out += QLatin1String("%%"); break;
        case '$': out += kind == Word::argument ? QLatin1String("$$") : QLatin1String("$"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            if (u < 0x20 || u == 0x7f)
                out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString unitFolder(const QString &homeFolder) { return homeFolder + QStringLiteral("/.config/systemd/user"); }
QString stateFolder(const QString &homeFolder) { return homeFolder + QStringLiteral("/.local/state/kovel"); }

} // namespace

QString systemdAgentUnit(const SensorAgentService &agent, const QString &homeFolder)
{
    const QStringList arguments = {
        QStringLiteral("agent"),
        QStringLiteral("--server"), agent.server,
        QStringLiteral("--device-id"), agent.deviceID,
        QStringLiteral("--api-key"), agent.apiKey,
    };
    QStringList quoted{execWord(agent.program, Word::program)};
    for (const QString &a : arguments)
        quoted << execWord(a, Word::argument);

    const QString logs = specifierSafe(stateFolder(homeFolder));
    return QStringLiteral("[Unit]\n"
                          "Description=Kovel sensor agent\n"
                          "\n"
                          "[Service]\n")
        + QStringLiteral("ExecStart=") + quoted.join(QLatin1Char(' ')) + QLatin1Char('\n')
        // Like launchd's KeepAlive: restarted whenever it ends. The pause keeps
        // a failing agent under systemd's start limit, so it is never given up on.
        + QStringLiteral("Restart=always\n"
                         "RestartSec=10\n")
        + QStringLiteral("StandardOutput=append:") + logs + QStringLiteral("/kovel-agent.log\n")
        + QStringLiteral("StandardError=append:") + logs + QStringLiteral("/kovel-agent.err.log\n")
        + QStringLiteral("\n"
                         "[Install]\n"
                         "WantedBy=default.target\n");
}

void systemdReplaceAgent(const SensorAgentService &agent, const QString &homeFolder,
                         const QString &systemctl, std::function<void()> finished)
{
    QDir().mkpath(unitFolder(homeFolder));
    // systemd opens the log files itself but does not make their folder.
    QDir().mkpath(stateFolder(homeFolder));
    writeFileAtomically(unitFolder(homeFolder) + QLatin1Char('/') + unitName,
                        systemdAgentUnit(agent, homeFolder).toUtf8(), privateFileMode);

    const QString user = QStringLiteral("--user");
    // Without a user systemd each of these fails at once; that is carried on
    // from silently, as for any service manager failure. restart starts the
    // agent when it is stopped and replaces the one an earlier pairing started.
    runOneAfterAnother({
                           {systemctl, {user, QStringLiteral("daemon-reload")}},
                           {systemctl, {user, QStringLiteral("enable"), unitName}},
                           {systemctl, {user, QStringLiteral("restart"), unitName}},
                       },
                       std::move(finished));
}
