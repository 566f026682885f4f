#include "installer/finishing/bundlecopy.h"

#include "platform/filewrites.h"
#include "platform/installerlog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <sys/syscall.h>
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif
#endif

namespace Kovel::Installer {

namespace fs = std::filesystem;

namespace {

QString failed(const QString &path, int error)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

QString failed(const QString &path, const std::error_code &ec)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + QString::fromLocal8Bit(ec.message());
}

fs::path native(const QString &path) { return fs::path(QFile::encodeName(path).toStdString()); }

void step(const std::function<void(const char *)> &afterStep, const char *name)
{
    if (afterStep)
        afterStep(name);
}

// ".KovelBar.app.new-": every staging folder of `destination` starts so,
// followed by the pid of the installer that made it.
QString stagingPrefix(const QFileInfo &destination)
{
    return u'.' + destination.fileName() + QStringLiteral(".new-");
}

bool isLiveProcess(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
}

// Staging folders whose installer is gone were left by a killed run; those
// of a live installer (another one running now) are its own.
void removeStaleStaging(const QString &folder, const QString &prefix)
{
    const QDir parent(folder);
    const QStringList entries = parent.entryList({prefix + u'*'}, QDir::AllEntries | QDir::Hidden | QDir::System
                                                                      | QDir::NoDotAndDotDot);
    for (const QString &name : entries) {
        const QString rest = name.mid(prefix.size());
        bool numeric = false;
        const qint64 pid = rest.section(u'-', 0, 0).toLongLong(&numeric);
        if (numeric && (pid == ::getpid() || isLiveProcess(pid)))
            continue;
        std::error_code ec;
        fs::remove_all(native(parent.filePath(name)), ec);
        if (ec)
            qCWarning(System::installerLog) << "could not remove a stale staging folder" << parent.filePath(name)
                                    << ec.message().c_str();
        else
            qCInfo(System::installerLog) << "removed a staging folder left by an earlier run" << parent.filePath(name);
    }
}

// Exchanges two names in one step, each relative to a folder descriptor.
bool exchangeAt(int fromFolder, const char *from, int toFolder, const char *to)
{
#if defined(Q_OS_LINUX)
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return ::renameat2(fromFolder, from, toFolder, to, RENAME_EXCHANGE) == 0;
#elif defined(SYS_renameat2)
    return ::syscall(SYS_renameat2, fromFolder, from, toFolder, to, RENAME_EXCHANGE) == 0;
#else
    errno = ENOSYS;
    return false;
#endif
#elif defined(Q_OS_MACOS)
    return ::renameatx_np(fromFolder, from, toFolder, to, RENAME_SWAP) == 0;
#else
    errno = ENOSYS;
    return false;
#endif
}

struct FolderFd {
    int fd;
    ~FolderFd() { ::close(fd); }
};

// The copy's modes, set rather than taken from the umask or a sloppy build tree.
QString setModes(const fs::path &root)
{
    std::error_code ec;
    const auto folder = fs::perms(0755);
    fs::permissions(root, folder, ec);
    if (ec)
        return failed(QFile::decodeName(root.c_str()), ec);
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::file_status st = it->symlink_status(ec);
        if (ec)
            break;
        if (fs::is_symlink(st))
            continue;
        fs::perms mode = folder;
        if (!fs::is_directory(st)) {
            const bool executable = (st.permissions() & (fs::perms::owner_exec | fs::perms::group_exec
                                                         | fs::perms::others_exec)) != fs::perms::none;
            mode = executable ? fs::perms(0755) : fs::perms(0644);
        }
        fs::permissions(it->path(), mode, ec);
        if (ec)
            return failed(QFile::decodeName(it->path().c_str()), ec);
    }
    return ec ? failed(QFile::decodeName(root.c_str()), ec) : QString();
}

} // namespace

bool exchangePaths(const QString &a, const QString &b)
{
    return exchangeAt(AT_FDCWD, QFile::encodeName(a).constData(), AT_FDCWD, QFile::encodeName(b).constData());
}

QString replaceBundle(const QString &source, const QString &destination,
                      const std::function<void(const char *step)> &afterStep)
{
    const QFileInfo dest(destination);
    const QString parent = dest.absolutePath();
    if (const QString why = System::makeFolders(parent, System::sharedFolderMode); !why.isEmpty())
        return why;
    // Nothing is staged, swapped or cleaned up in a folder of another user,
    // who could have put anything at the name; every name below is taken
    // relative to the folder checked here.
    QString refused;
    const FolderFd folder{System::openOwnFolder(parent, refused)};
    if (folder.fd < 0)
        return refused;
    std::error_code ec;
    const QString where = QFile::decodeName(fs::canonical(native(parent), ec).c_str());
    if (ec)
        return failed(parent, ec);
    const QString prefix = stagingPrefix(dest);
    removeStaleStaging(where, prefix);
    step(afterStep, "cleaned");

    QByteArray stagingName;
    for (int attempt = 0; attempt < 100 && stagingName.isEmpty(); ++attempt) {
        const QByteArray name = QFile::encodeName(prefix + QString::number(::getpid()) + u'-'
                                                  + QString::number(QRandomGenerator::global()->generate(), 36));
        if (::mkdirat(folder.fd, name.constData(), 0700) == 0)
            stagingName = name;
        else if (errno != EEXIST)
            return failed(destination, errno);
    }
    if (stagingName.isEmpty())
        return failed(destination, EEXIST);
    const QString staging = where + u'/' + QFile::decodeName(stagingName);
    // Whatever ends up at the staging path (a broken copy, or the old bundle
    // after the swap) goes when this does.
    struct Removal {
        fs::path path;
        ~Removal()
        {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } removal{native(staging)};

    // A bundle that is itself a link (a build tree's) is copied as what it names.
    const fs::path from = fs::canonical(native(source), ec);
    if (ec)
        return failed(source, ec);
    fs::copy(from, native(staging), fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec)
        return failed(source, ec);
    if (const QString why = setModes(native(staging)); !why.isEmpty())
        return why;
    step(afterStep, "copied");

    const QByteArray destName = QFile::encodeName(dest.fileName());
    struct stat st {};
    const bool hadOne = ::fstatat(folder.fd, destName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (hadOne && exchangeAt(folder.fd, stagingName.constData(), folder.fd, destName.constData())) {
        step(afterStep, "swapped");
        // The old bundle is now at the staging path.
        fs::remove_all(native(staging), ec);
        step(afterStep, "removed");
        return {};
    }
    if (hadOne && errno != ENOSYS && errno != EINVAL && errno != ENOTSUP)
        return failed(destination, errno);

    // Without an exchange: the old bundle aside, the new one in, the old one out.
    const QByteArray oldName = stagingName + ".old";
    if (hadOne) {
        if (::renameat(folder.fd, destName.constData(), folder.fd, oldName.constData()) != 0)
            return failed(destination, errno);
        step(afterStep, "moved-aside");
    }
    if (::renameat(folder.fd, stagingName.constData(), folder.fd, destName.constData()) != 0) {
        const int error = errno;
        if (hadOne)
            ::renameat(folder.fd, oldName.constData(), folder.fd, destName.constData());
        return failed(destination, error);
    }
    step(afterStep, "moved-in");
    if (hadOne) {
        fs::remove_all(native(where + u'/' + QFile::decodeName(oldName)), ec);
        step(afterStep, "removed");
    }
    return {};
}

} // namespace Kovel::Installer
