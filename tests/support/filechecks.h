#pragma once
// What the tests read back from files the installer wrote.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>
#include <sys/stat.h>
#include <unistd.h>

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

// Every file under `root`, relative, with its content.
inline QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        files.insert(QDir(root).relativeFilePath(it.filePath()), readAll(it.filePath()));
    }
    return files;
}

// Another local user, for drills about what such a user may plant: folders
// and links owned by a uid that is not this process's. Giving files away
// (chown) needs root; the drills skip without it.
constexpr uid_t otherUser = 54321;

inline bool mayGiveFilesAway() { return ::geteuid() == 0; }

// A shared folder like /tmp (world-writable, sticky) that belongs to the other user.
inline bool makeOthersSharedFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    return QDir().mkpath(path) && ::chown(native.constData(), otherUser, otherUser) == 0
        && ::chmod(native.constData(), 01777) == 0;
}

// A symbolic link the other user put at `link`, naming `target`.
inline bool plantOthersLink(const QString &target, const QString &link)
{
    const QByteArray native = QFile::encodeName(link);
    return ::symlink(QFile::encodeName(target).constData(), native.constData()) == 0
        && ::lchown(native.constData(), otherUser, otherUser) == 0;
}

// Hands `path` and everything under it to the other user.
inline bool giveToOtherUser(const QString &path)
{
    bool ok = ::lchown(QFile::encodeName(path).constData(), otherUser, otherUser) == 0;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::lchown(QFile::encodeName(it.next()).constData(), otherUser, otherUser) == 0 && ok;
    return ok;
}
