#include "platform/filewrites.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

QString failed(const QString &path, int error)
{
    return failed(path, QString::fromLocal8Bit(std::strerror(error)));
}

// Closes the descriptor it holds when it goes.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    explicit operator bool() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// One file on its way in: a temporary file in the target's folder (held open,
// so a swap of the folder's path cannot redirect it), renamed over the target's
// name once complete. The name is replaced whatever it is, a link included.
class StagedFile
{
public:
    StagedFile() = default;
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;
    ~StagedFile() { cancel(); }

    QString open(const QString &path, QFileDevice::Permissions mode)
    {
        m_path = path;
        const QFileInfo info(path);
        QString error;
        m_folder = Fd(openOwnFolder(info.absolutePath(), error));
        if (!m_folder)
            return error;
        m_name = QFile::encodeName(info.fileName());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray temporary = '.' + m_name + ".new-"
                + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
            const int fd = ::openat(m_folder.get(), temporary.constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
            if (fd >= 0) {
                m_file = Fd(fd);
                m_temporary = temporary;
                break;
            }
            if (errno != EEXIST)
                return failed(path, errno);
        }
        if (!m_file)
            return failed(path, EEXIST);
        // The mode before the first byte, so a secret is never on disk under a
        // wider one; set exactly, whatever the umask.
        if (::fchmod(m_file.get(), posixMode(mode)) != 0)
            return failed(path, errno);
        return {};
    }

    QString write(const char *data, qint64 size)
    {
        while (size > 0) {
            const ssize_t n = ::write(m_file.get(), data, size_t(qMin<qint64>(size, SSIZE_MAX)));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return failed(m_path, errno);
            }
            data += n;
            size -= n;
        }
        return {};
    }

    // Every byte on disk before the name can change hands.
    QString finish()
    {
        if (::fsync(m_file.get()) != 0)
            return failed(m_path, errno);
        if (::close(m_file.release()) != 0)
            return failed(m_path, errno);
        return {};
    }

    QString commit()
    {
        if (::renameat(m_folder.get(), m_temporary.constData(), m_folder.get(), m_name.constData()) != 0)
            return failed(m_path, errno);
        m_temporary.clear();
        return {};
    }

    void cancel()
    {
        m_file.reset();
        if (m_folder && !m_temporary.isEmpty())
            ::unlinkat(m_folder.get(), m_temporary.constData(), 0);
        m_temporary.clear();
    }

private:
    QString m_path;
    Fd m_folder;
    Fd m_file;
    QByteArray m_name;
    QByteArray m_temporary;
};

} // namespace

int openOwnFolder(const QString &path, QString &error)
{
    const QByteArray native = QFile::encodeName(path);
    Fd folder(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        error = failed(path, errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(folder.get(), &st) != 0) {
        error = failed(path, errno);
        return -1;
    }
    if (st.st_uid != ::geteuid()) {
        // Named as reached, and where that leads when it is elsewhere.
        QString where;
        char resolved[PATH_MAX];
        if (::realpath(native.constData(), resolved) && QFile::decodeName(resolved) != QDir::cleanPath(path))
            where = u'(' + QDir::toNativeSeparators(QFile::decodeName(resolved)) + u')';
        error = failed(path, QStringLiteral("다른 사용자(uid %1)의 폴더%2라서 아무것도 쓰지 않았어요").arg(QString::number(st.st_uid), where));
        return -1;
    }
    return folder.release();
}

QString writeFileAtomically(const QString &path, const QByteArray &content, QFileDevice::Permissions mode)
{
    return writeFilesAtomically({{path, content, mode}});
}

QString writeFilesAtomically(const QList<FileWrite> &files)
{
    std::vector<std::unique_ptr<StagedFile>> staged;
    for (const FileWrite &write : files) {
        staged.push_back(std::make_unique<StagedFile>());
        StagedFile &file = *staged.back();
        QString why = file.open(write.path, write.mode);
        if (why.isEmpty())
            why = file.write(write.content.constData(), write.content.size());
        if (why.isEmpty())
            why = file.finish();
        // The ones staged so far go with `staged`.
        if (!why.isEmpty())
            return why;
    }
    for (const auto &file : staged)
        if (const QString why = file->commit(); !why.isEmpty())
            return why;
    return {};
}

QString copyFileAtomically(const QString &source, const QString &target, QFileDevice::Permissions mode)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return failed(source, in.errorString());
    StagedFile file;
    if (const QString why = file.open(target, mode); !why.isEmpty())
        return why;
    while (!in.atEnd()) {
        const QByteArray piece = in.read(256 * 1024);
        if (piece.isEmpty() && in.error() != QFileDevice::NoError)
            return failed(source, in.errorString());
        if (const QString why = file.write(piece.constData(), piece.size()); !why.isEmpty())
            return why;
    }
    if (const QString why = file.finish(); !why.isEmpty())
        return why;
    return file.commit();
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
    QString error;
    const Fd in(openOwnFolder(parent, error));
    if (!in)
        return error;
    const QByteArray name = QFile::encodeName(info.fileName());
    if (::mkdirat(in.get(), name.constData(), posixMode(mode)) != 0)
        return errno == EEXIST ? QString() : failed(absolute, errno);
    // mkdir applies the umask; the mode asked for is set on what was just made.
    const Fd made(::openat(in.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made || ::fchmod(made.get(), posixMode(mode)) != 0)
        return failed(absolute, errno);
    return {};
}

QString makePrivateFolder(const QString &path)
{
    if (const QString why = makeFolders(path, privateFolderMode); !why.isEmpty())
        return why;
    QString error;
    const Fd folder(openOwnFolder(path, error));
    if (!folder)
        return error;
    struct stat st {};
    if (::fstat(folder.get(), &st) != 0)
        return failed(path, errno);
    // One made earlier, by hand or under a wide umask, is narrowed.
    if ((st.st_mode & 07777) != posixMode(privateFolderMode) && ::fchmod(folder.get(), posixMode(privateFolderMode)) != 0)
        return failed(path, errno);
    return {};
}

} // namespace Kovel::System
