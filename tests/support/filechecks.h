#pragma once
// What the tests read back from files the installer wrote.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <sys/stat.h>

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Permission bits of a file, or -1 when it is missing.
inline int modeOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}
