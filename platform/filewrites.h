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
// exist are left as they are.
QString makeFolders(const QString &path, QFileDevice::Permissions mode);

} // namespace Kovel::System
