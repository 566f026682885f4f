#include "installer/actions/bundlecopy.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// The link's own text (relative links inside bundles must stay relative).
QByteArray linkText(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    QByteArray buffer(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(native.constData(), buffer.data(), size_t(buffer.size()));
    if (n < 0)
        return {};
    buffer.truncate(n);
    return buffer;
}

bool copyEntry(const QFileInfo &entry, const QString &to)
{
    if (entry.isDir() && !entry.isSymLink())
        return QDir().mkpath(to) && QFile::setPermissions(to, entry.permissions());
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (entry.isSymLink()) {
        const QByteArray target = linkText(entry.filePath());
        return !target.isEmpty() && ::symlink(target.constData(), QFile::encodeName(to).constData()) == 0;
    }
    return QFile::copy(entry.filePath(), to);
}

} // namespace

bool copyTree(const QString &source, const QString &target)
{
    const QDir root(source);
    QDirIterator it(source, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (!copyEntry(entry, target + u'/' + root.relativeFilePath(entry.filePath())))
            return false;
    }
    return true;
}

bool replaceBundle(const QString &source, const QString &destination)
{
    const QFileInfo dest(destination);
    const QString parent = dest.absolutePath();
    if (!QDir().mkpath(parent))
        return false;

    QTemporaryDir staging(parent + u'/' + u'.' + dest.fileName() + QStringLiteral(".new-XXXXXX"));
    if (!staging.isValid() || !copyTree(source, staging.path()))
        return false; // the staging folder goes with `staging`
    QFile::setPermissions(staging.path(), QFileInfo(source).permissions());

    const QString old = staging.path() + QStringLiteral(".old");
    const bool hadOne = dest.exists() || dest.isSymLink();
    if (hadOne && !QDir().rename(destination, old))
        return false;
    if (!QDir().rename(staging.path(), destination)) {
        if (hadOne)
            QDir().rename(old, destination);
        return false;
    }
    staging.setAutoRemove(false);
    if (hadOne) {
        if (QFileInfo(old).isDir() && !QFileInfo(old).isSymLink())
            QDir(old).removeRecursively();
        else
            QFile::remove(old);
    }
    return true;
}
