#pragma once
// A stand-in for launchctl or systemctl: a small shell script that appends
// each call's arguments (tab-separated, one call a line) to a file, together
// with the mode of a watched file at that moment ("none" when it is absent),
// and exits with a chosen status: every call, or only the calls whose first
// argument after any "--user" is `failingCommand`, which then also say
// `message` on standard error.

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class FakeServiceManager
{
public:
    explicit FakeServiceManager(const QString &watchedFile = {}, int exitStatus = 0,
                                const QString &failingCommand = {}, const QString &message = {})
    {
        const QString script = QStringLiteral(
            "#!/bin/sh\n"
            "{\n"
            "  first=1\n"
            "  for a in \"$@\"; do\n"
            "    if [ $first = 1 ]; then first=0; else printf '\\t'; fi\n"
            "    printf '%s' \"$a\"\n"
            "  done\n"
            "  w='%1'\n"
            "  if [ -n \"$w\" ] && [ -e \"$w\" ]; then\n"
            "    printf '\\t@%s\\n' \"$(stat -c %a \"$w\" 2>/dev/null || stat -f %Lp \"$w\")\"\n"
            "  else\n"
            "    printf '\\t@none\\n'\n"
            "  fi\n"
            "} >> '%2'\n"
            "[ \"$1\" = --user ] && shift\n"
            "f='%4'\n"
            "if [ -z \"$f\" ] || [ \"$1\" = \"$f\" ]; then\n"
            "  [ -n '%5' ] && printf '%s\\n' '%5' >&2\n"
            "  exit %3\n"
            "fi\n"
            "exit 0\n")
            .arg(watchedFile, callsPath())
            .arg(exitStatus)
            .arg(failingCommand, message);
        QFile f(program());
        if (f.open(QIODevice::WriteOnly)) {
            f.write(script.toUtf8());
            f.close();
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    QString program() const { return m_dir.path() + QStringLiteral("/servicemanager"); }
    QString callsPath() const { return m_dir.path() + QStringLiteral("/calls"); }

    // One entry per call: its arguments, then "@<mode>" of the watched file.
    QList<QStringList> calls() const
    {
        QFile f(callsPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QList<QStringList> out;
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : lines)
            out.append(line.split(QLatin1Char('\t')));
        return out;
    }

private:
    QTemporaryDir m_dir;
};
