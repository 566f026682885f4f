#include "platform/linux/systemdagent.h"

#include "platform/commandchain.h"
#include "platform/filewrites.h"

#include <QDir>
#include <QFileInfo>

namespace Kovel::System {

namespace {

const QString unitName = QStringLiteral("io.kovel.agent.service");

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

QString unitFolder(const QString &configFolder) { return configFolder + QStringLiteral("/systemd/user"); }

} // namespace

QString xdgBaseFolder(const QProcessEnvironment &environment, const QString &homeFolder,
                      const QString &variable, const QString &underHome)
{
    const QString value = environment.value(variable);
    // A relative value is to be ignored, as if unset.
    if (value.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(value);
    return homeFolder + underHome;
}

QString systemdAgentKeyFile(const QString &configFolder)
{
    return configFolder + QStringLiteral("/kovel/agent.key");
}

QString systemdAgentUnit(const SensorAgentService &agent, const QString &keyFile)
{
    const QStringList arguments = {
        QStringLiteral("agent"),
        QStringLiteral("--server"), agent.server,
        QStringLiteral("--device-id"), agent.deviceID,
        QStringLiteral("--api-key-file"), keyFile,
    };
    QStringList quoted{execWord(agent.program, Word::program)};
    for (const QString &a : arguments)
        quoted << execWord(a, Word::argument);

    return QStringLiteral("[Unit]\n"
                          "Description=Kovel sensor agent\n"
                          "\n"
                          "[Service]\n")
        + QStringLiteral("ExecStart=") + quoted.join(QLatin1Char(' ')) + QLatin1Char('\n')
        // Like launchd's KeepAlive: restarted whenever it ends. The pause keeps
        // a failing agent under systemd's start limit, so it is never given up on.
        + QStringLiteral("Restart=always\n"
                         "RestartSec=10\n"
                         "StandardOutput=journal\n"
                         "StandardError=journal\n"
                         "\n"
                         "[Install]\n"
                         "WantedBy=default.target\n");
}

void systemdReplaceAgent(const SensorAgentService &agent, const QString &configFolder,
                         const QString &systemctl, std::function<void(const AgentServiceResult &result)> finished)
{
    const QString keyFile = systemdAgentKeyFile(configFolder);
    QString error = makePrivateFolder(QFileInfo(keyFile).absolutePath());
    if (error.isEmpty())
        error = makeFolders(unitFolder(configFolder), sharedFolderMode);
    // Both or neither: a new device id beside an old key would not do. The
    // unit holds no secret, so systemd and the user may read it.
    if (error.isEmpty())
        error = writeFilesAtomically({
            {keyFile, agent.apiKey.toUtf8(), privateFileMode},
            {unitFolder(configFolder) + QLatin1Char('/') + unitName, systemdAgentUnit(agent, keyFile).toUtf8(), sharedFileMode},
        });
    if (!error.isEmpty()) {
        finishLater([finished](const QString &why) { finished({why}); }, error);
        return;
    }

    const QString user = QStringLiteral("--user");
    runOneAfterAnother({
                           {systemctl, {user, QStringLiteral("daemon-reload")}},
                           {systemctl, {user, QStringLiteral("enable"), unitName}},
                       },
                       [=](const QString &error) {
                           if (!error.isEmpty()) {
                               finished({error});
                               return;
                           }
                           // restart starts the agent when it is stopped and replaces the one
                           // an earlier pairing started, which then reads the new key. Enabled
                           // by now, so a failure here still leaves it to start at login.
                           runOneAfterAnother({{systemctl, {user, QStringLiteral("restart"), unitName}}},
                                              [finished](const QString &error) { finished({error, !error.isEmpty()}); });
                       });
}

} // namespace Kovel::System
