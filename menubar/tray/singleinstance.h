#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

namespace Kovel::Bar {

// One copy of the program per user. A lock in the user's runtime folder says
// which copy runs; beside it a local socket on which a later start asks that
// copy for something: one line asked ("show" or "quit"), one line answered
// ("ok").
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Request { Show, Quit };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and listens beside it; false when another copy holds it.
    bool claim();
    // Asks the copy that holds the lock; `done` learns whether it answered.
    void ask(Request request, std::function<void(bool delivered)> done);
    // Tries the lock again and again until it is free or `waitMs` have passed;
    // `done` learns whether it was taken.
    void claimWhenFree(int waitMs, std::function<void(bool claimed)> done);

    // The lock's and the socket's paths, in the user's runtime folder.
    static QString lockPath();
    static QString socketPath();

signals:
    // A later start asked for the panel.
    void showRequested();
    // A later start (--replace) asked this copy to make way; emitted once the
    // answer is on its way.
    void quitRequested();

private:
    void listen();
    void onConnection();

    // The socket goes before the lock: no one is answered by a copy that no
    // longer holds it.
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace Kovel::Bar
