#include "platform/linux/linuxplatform.h"

#include "platform/filewrites.h"
#include "platform/installerlog.h"
#include "platform/linux/systemdagent.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace Kovel::System {

namespace {

// A plain string value of a desktop entry (TryExec=): the general escapes.
QString stringValue(const QString &text)
{
    QString value;
    for (QChar c : text) {
        switch (c.unicode()) {
        case '\\': value += QStringLiteral("\\\\"); break;
        case '\n': value += QStringLiteral("\\n"); break;
        case '\t': value += QStringLiteral("\\t"); break;
        case '\r': value += QStringLiteral("\\r"); break;
        default: value += c;
        }
    }
    return value;
}

// One Exec= argument: quoted, with the characters the quoting reserves
// escaped, then the general string escapes on top, and "%" (a field code)
// doubled.
QString execArgument(const QString &arg)
{
    QString quoted;
    for (QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return u'"' + stringValue(quoted).replace(u'%', QStringLiteral("%%")) + u'"';
}

} // namespace

QString LinuxPlatform::configHome() const
{
    return xdgBaseFolder(environment(), homeFolder(), QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("/.config"));
}

QString LinuxPlatform::autostartEntryPath() const
{
    return configHome() + QStringLiteral("/autostart/io.kovel.menubar.desktop");
}

QString LinuxPlatform::bundleExecutable(const QString &bundlePath)
{
    return bundlePath + QStringLiteral("/Contents/MacOS/KovelBar");
}

QString LinuxPlatform::autostartEntry(const QString &installedClient)
{
    const QString program = bundleExecutable(installedClient);
    // The tray often comes up some seconds after login: the delay and the
    // desktops' own "after the panel" keys spare the client a start without one.
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=KovelBar\n"
                          "Icon=io.kovel.KovelBar\n"
                          "TryExec=")
        + stringValue(program)
        + QStringLiteral("\nExec=")
        + execArgument(program)
        + QStringLiteral("\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n"
                         "X-GNOME-Autostart-Delay=5\n"
                         "X-KDE-autostart-after=panel\n"
                         "X-LXQt-Need-Tray=true\n");
}

void LinuxPlatform::openApplication(const QString &bundlePath, const QStringList &arguments)
{
    const QString program = bundleExecutable(bundlePath);
    if (!QProcess::startDetached(program, arguments))
        qCWarning(installerLog) << "could not start" << program << arguments;
}

QString LinuxPlatform::installedMenubarPath() const
{
    return homeFolder() + QStringLiteral("/Applications/KovelBar.app");
}

QString LinuxPlatform::registerLoginItem(const QString &installedClient)
{
    // The autostart folder is the user's to have; desktops create it on demand too.
    const QString entry = autostartEntryPath();
    const QString folder = makeFolders(QFileInfo(entry).absolutePath(), sharedFolderMode);
    if (!folder.isEmpty())
        return folder;
    return writeFileAtomically(entry, autostartEntry(installedClient).toUtf8(), sharedFileMode);
}

QString LinuxPlatform::agentFolder() const
{
    return xdgBaseFolder(environment(), homeFolder(), QStringLiteral("XDG_DATA_HOME"), QStringLiteral("/.local/share"))
        + QStringLiteral("/kovel");
}

void LinuxPlatform::replaceAgentService(const SensorAgentService &agent,
                                        std::function<void(const AgentServiceResult &result)> finished)
{
    systemdReplaceAgent(agent, configHome(), facts().systemctl, std::move(finished));
}

} // namespace Kovel::System
