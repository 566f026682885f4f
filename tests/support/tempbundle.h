#pragma once
// A throw-away installer bundle for tests: <temp>/Kovel.app with whatever
// files a test puts under it.
//
//   TempBundle b;
//   b.addMenubarClient("v2");               // Contents/Resources/KovelBar.app/...
//   b.addFile("/Contents/Resources/bootstrap.sh", "echo hi\n");
//   b.path()                                 // ".../Kovel.app"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

class TempBundle
{
public:
    TempBundle() { QDir().mkpath(path() + QStringLiteral("/Contents/MacOS")); }

    QString path() const { return m_dir.path() + QStringLiteral("/Kovel.app"); }

    // `rel` starts with "/", like the paths the installer asks for.
    QString addFile(const QString &rel, const QByteArray &content, bool executable = false) const
    {
        const QString file = path() + rel;
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        f.write(content);
        f.close();
        if (executable)
            f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
        return file;
    }

    // A small client bundle whose program and marker file carry `version`.
    QString addMenubarClient(const QByteArray &version) const
    {
        const QString client = QStringLiteral("/Contents/Resources/KovelBar.app");
        addFile(client + QStringLiteral("/Contents/Info.plist"), "<plist>" + version + "</plist>\n");
        addFile(client + QStringLiteral("/Contents/MacOS/KovelBar"), "#!/bin/sh\n# " + version + "\n", true);
        addFile(client + QStringLiteral("/Contents/Resources/version.txt"), version);
        return path() + client;
    }

private:
    QTemporaryDir m_dir;
};
