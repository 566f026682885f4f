#include "menubar/tray/singleinstance.h"

#include "menubar/brain/barlog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

namespace Kovel::Bar {

namespace {

// One line asked, one line answered.
const QByteArray showCommand = "show\n";
const QByteArray quitCommand = "quit\n";
const QByteArray doneReply = "ok\n";
// Longer than any command: whoever sends more without ending the line is not a start of ours.
constexpr qint64 longestLine = 64;
constexpr int askTimeoutMs = 3000;
constexpr int lockPollMs = 50;

QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

}

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath()
{
    return runtimeFolder() + QStringLiteral("/kovelbar.lock");
}

QString SingleInstance::socketPath()
{
    return runtimeFolder() + QStringLiteral("/kovelbar.socket");
}

bool SingleInstance::claim()
{
    if (!m_lock)
        m_lock = std::make_unique<QLockFile>(lockPath());
    // A lock left by a crashed copy is taken over (its process is gone).
    if (!m_lock->tryLock(0))
        return false;
    listen();
    return true;
}

void SingleInstance::listen()
{
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Ours now that we hold the lock: a socket left by a crashed copy goes.
    QLocalServer::removeServer(socketPath());
    if (!m_server->listen(socketPath()))
        qCWarning(barLog) << "cannot listen for a second start at" << socketPath() << m_server->errorString();
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::onConnection);
}

void SingleInstance::onConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > longestLine)
                    socket->abort();
                return;
            }
            const QByteArray command = socket->readLine(longestLine);
            socket->write(doneReply);
            socket->flush();
            socket->disconnectFromServer();
            if (command == showCommand) {
                qCInfo(barLog) << "a second start asked for the panel";
                emit showRequested();
            } else if (command == quitCommand) {
                qCInfo(barLog) << "a new start asked this copy to make way";
                // On a turn of its own: what quitting tears down may include this socket.
                QTimer::singleShot(0, this, [this] { emit quitRequested(); });
            }
        });
    }
}

void SingleInstance::ask(Request request, std::function<void(bool)> done)
{
    const QByteArray command = request == Request::Show ? showCommand : quitCommand;
    auto *socket = new QLocalSocket(this);
    auto finished = std::make_shared<bool>(false);
    auto finish = [socket, done, finished](bool delivered) {
        if (*finished)
            return;
        *finished = true;
        socket->abort();
        socket->deleteLater();
        done(delivered);
    };
    connect(socket, &QLocalSocket::connected, socket, [socket, command] { socket->write(command); });
    connect(socket, &QLocalSocket::readyRead, socket, [socket, finish] {
        if (socket->canReadLine())
            finish(socket->readLine() == doneReply);
    });
    connect(socket, &QLocalSocket::errorOccurred, socket, [finish] { finish(false); });
    QTimer::singleShot(askTimeoutMs, socket, [finish] { finish(false); });
    socket->connectToServer(socketPath());
}

void SingleInstance::claimWhenFree(int waitMs, std::function<void(bool)> done)
{
    auto *poll = new QTimer(this);
    poll->setInterval(lockPollMs);
    QElapsedTimer waited;
    waited.start();
    connect(poll, &QTimer::timeout, this, [this, poll, waited, waitMs, done] {
        if (claim()) {
            poll->deleteLater();
            done(true);
            return;
        }
        if (waited.elapsed() < waitMs)
            return;
        poll->deleteLater();
        done(false);
    });
    poll->start();
}

} // namespace Kovel::Bar
