#include "platform/filewrites.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <memory>
#include <vector>
#include <cstring>
#include <sys/stat.h>

namespace Kovel::System {

namespace {

mode_t posixMode(QFileDevice::Permissions mode)
{
    mode_t m = 0;
    if (mode & QFileDevice::ReadOwner) m |= S_IRUSR;
    if (mode & QFileDevice::WriteOwner) m |= S_IWUSR;
    if (mode & QFileDevice::ExeOwner) m |= S_IXUSR;
    if (mode & QFileDevice::ReadGroup) m |= S_IRGRP;
    if (mode & QFileDevice::WriteGroup) m |= S_IWGRP;
    if (mode & QFileDevice::ExeGroup) m |= S_IXGRP;
    if (mode & QFileDevice::ReadOther) m |= S_IROTH;
    if (mode & QFileDevice::WriteOther) m |= S_IWOTH;
    if (mode & QFileDevice::ExeOther) m |= S_IXOTH;
    return m;
}

QString failed(const QString &path, const QString &why)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + why;
}

} // namespace

QString writeFileAtomically(const QString &path, const QByteArray &content, QFileDevice::Permissions mode)
{
    return writeFilesAtomically({{path, content, mode}});
}

QString writeFilesAtomically(const QList<FileWrite> &files)
{
    std::vector<std::unique_ptr<QSaveFile>> staged;
    const auto cancelAll = [&staged] {
        for (const auto &file : staged)
            file->cancelWriting();
    };
    for (const FileWrite &write : files) {
        staged.push_back(std::make_unique<QSaveFile>(write.path));
        QSaveFile &file = *staged.back();
        if (!file.open(QIODevice::WriteOnly)) {
            const QString why = file.errorString();
            cancelAll();
            return failed(write.path, why);
        }
        // Permissions before the first byte, so a secret is never on disk
        // under a wider mode; every step checked, as commit() renames even
        // after a failed write.
        if (!file.setPermissions(write.mode) || file.write(write.content) != write.content.size() || !file.flush()
            || file.error() != QFileDevice::NoError) {
            const QString why = file.errorString();
            cancelAll();
            return failed(write.path, why);
        }
    }
    for (qsizetype i = 0; i < qsizetype(staged.size()); ++i)
        if (!staged[i]->commit())
            return failed(files[i].path, staged[i]->errorString());
    return {};
}

QString copyFileAtomically(const QString &source, const QString &target, QFileDevice::Permissions mode)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return failed(source, in.errorString());
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return failed(target, file.errorString());
    if (!file.setPermissions(mode)) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failed(target, why);
    }
    while (!in.atEnd()) {
        const QByteArray piece = in.read(256 * 1024);
        if (piece.isEmpty() && in.error() != QFileDevice::NoError) {
            file.cancelWriting();
            return failed(source, in.errorString());
        }
        if (file.write(piece) != piece.size()) {
            const QString why = file.errorString();
            file.cancelWriting();
            return failed(target, why);
        }
    }
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failed(target, why);
    }
    if (!file.commit())
        return failed(target, file.errorString());
    return {};
}

QString makeFolders(const QString &path, QFileDevice::Permissions mode)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QFileInfo info(absolute);
    if (info.isDir())
        return {};
    if (info.exists() || info.isSymLink())
        return failed(absolute, QStringLiteral("File exists"));
    const QString parent = info.absolutePath();
    if (parent != absolute) {
        const QString why = makeFolders(parent, mode);
        if (!why.isEmpty())
            return why;
    }
    // mkdir applies the umask; chmod then sets the mode the caller asked for.
    const QByteArray native = QFile::encodeName(absolute);
    if (::mkdir(native.constData(), posixMode(mode)) != 0 && errno != EEXIST)
        return failed(absolute, QString::fromLocal8Bit(std::strerror(errno)));
    if (::chmod(native.constData(), posixMode(mode)) != 0)
        return failed(absolute, QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

} // namespace Kovel::System
