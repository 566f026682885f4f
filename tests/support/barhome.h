#pragma once
// A home for KovelBar under test: its lock, its socket and its configuration
// stay in `home`, away from any real copy, and the configuration points at
// the brain at `brainUrl`.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

inline bool makeBarHome(const QString &home, const QString &brainUrl)
{
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.toUtf8());
    if (!QDir(home).mkpath(QStringLiteral(".kovel")))
        return false;
    QFile config(home + QStringLiteral("/.kovel/config.json"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = QByteArray("{\"brain\":\"") + brainUrl.toUtf8() + "\"}";
    return config.write(text) == text.size() && config.flush();
}
