#pragma once
// Files that other programs read (login items, service definitions, secrets):
// written whole or not at all, with their modes set explicitly, whatever the
// umask. Each returns an empty text on success, otherwise what failed, in the
// system's own words, for the install log.

#include <QByteArray>
#include <QFileDevice>
#include <QList>
#include <QString>

namespace Kovel::System {

// Everyone may read; only the owner writes.
constexpr QFileDevice::Permissions sharedFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner
    | QFileDevice::ReadGroup | QFileDevice::ReadOther;
// Holds a secret: the owner alone.
constexpr QFileDevice::Permissions privateFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions sharedFolderMode = sharedFileMode | QFileDevice::ExeOwner
    | QFileDevice::ExeGroup | QFileDevice::ExeOther;
constexpr QFileDevice::Permissions privateFolderMode = privateFileMode | QFileDevice::ExeOwner;
// A program others may run; only the owner replaces it.
constexpr QFileDevice::Permissions programFileMode = sharedFolderMode;

// Nothing is ever written in a folder that belongs to another user (links on
// the way to it resolved): such a user could have put a link at the very name
// written, or take what is written. Such a write is refused with a text naming
// the folder. A link at the name itself is replaced, never followed.

// Replaces `path` atomically: the new content goes to a temporary file beside
// it, which takes the old file's place only when every byte is on disk. On any
// failure (a full disk included) the old file stays as it was and no temporary
// file is left behind. The folder must exist.
QString writeFileAtomically(const QString &path, const QByteArray &content, QFileDevice::Permissions mode);

struct FileWrite {
    QString path;
    QByteArray content;
    QFileDevice::Permissions mode;
};

// Several files that only make sense together, each written as by
// writeFileAtomically; none takes its place until every one is on disk, so a
// failure while writing (a full disk) leaves all of them as they were.
QString writeFilesAtomically(const QList<FileWrite> &files);

// Copies `source` over `target` the same way: the copy is made beside the
// target and takes its place only when complete, so a program running from the
// old file keeps running and a failed copy leaves the old one as it was.
// Read and written in pieces, whatever the size.
QString copyFileAtomically(const QString &source, const QString &target, QFileDevice::Permissions mode);

// Creates `path` and any missing parents with `mode`; folders that already
// exist are left as they are. A folder is made only in one of the user's own.
QString makeFolders(const QString &path, QFileDevice::Permissions mode);

// As makeFolders with privateFolderMode, and an existing `path` (or the folder
// a link there leads to) gets that mode too: it is to hold a secret. Refused
// when that folder is another user's.
QString makePrivateFolder(const QString &path);

// Opens the folder `path` (links on the way resolved) to write in it: the
// descriptor, or -1 with `error` set when it cannot be opened or is not the
// user's own.
int openOwnFolder(const QString &path, QString &error);

} // namespace Kovel::System
