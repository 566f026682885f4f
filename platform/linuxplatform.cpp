#include "platform/linuxplatform.h"

#include "platform/systemdagent.h"

#include <QDir>
#include <QProcess>
#include <QSaveFile>

namespace {

// One Exec= argument: quoted, with the characters the quoting reserves
// escaped, then the general string escapes of a desktop entry value on top.
QString execArgument(const QString &arg)
{
    QString quoted;
    for (QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    QString value;
    for (QChar c : quoted) {
        switch (c.unicode()) {
        case '\\': value += QStringLiteral("\\\\"); break;
        case '\n': value += QStringLiteral("\\n"); break;
        case '\t': value += QStringLiteral("\\t"); break;
        case '\r': value += QStringLiteral("\\r"); break;
        case '%': value += QStringLiteral("%%"); break;
        default: value += c;
        }
    }
    return u'"' + value + u'"';
}

} // namespace

QString LinuxPlatform::bundleExecutable(const QString &bundlePath)
{
    return bundlePath + QStringLiteral("/Contents/MacOS/KovelBar");
}

QString LinuxPlatform::autostartEntry(const QString &installedClient)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=KovelBar\n"
                          "Exec=")
        + execArgument(bundleExecutable(installedClient))
        + QStringLiteral("\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n");
}

void LinuxPlatform::openApplication(const QString &bundlePath)
{
    QProcess::startDetached(bundleExecutable(bundlePath), {});
}

QString LinuxPlatform::installedMenubarPath() const
{
    return homeFolder() + QStringLiteral("/Applications/KovelBar.app");
}

void LinuxPlatform::registerLoginItem(const QString &installedClient)
{
    // The autostart folder is the user's to have; desktops create it on demand too.
    const QString folder = homeFolder() + QStringLiteral("/.config/autostart");
    if (!QDir().mkpath(folder))
        return;
    QSaveFile file(folder + QStringLiteral("/io.kovel.menubar.desktop"));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(autostartEntry(installedClient).toUtf8());
    file.commit();
}

QString LinuxPlatform::agentFolder() const
{
    return xdgBaseFolder(environment(), homeFolder(), QStringLiteral("XDG_DATA_HOME"), QStringLiteral("/.local/share"))
        + QStringLiteral("/kovel");
}

void LinuxPlatform::replaceAgentService(const SensorAgentService &agent,
                                        std::function<void(const QString &error)> finished)
{
    const QString config = xdgBaseFolder(environment(), homeFolder(), QStringLiteral("XDG_CONFIG_HOME"),
                                         QStringLiteral("/.config"));
    systemdReplaceAgent(agent, config, facts().systemctl, std::move(finished));
}
