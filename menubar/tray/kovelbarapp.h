#pragma once

#include "menubar/tray/popupcontroller.h"
#include "menubar/tray/singleinstance.h"

#include <QObject>
#include <QString>
#include <functional>

namespace Kovel::Bar {

// The program: a tray icon whose click drops the panel down; where the
// desktop has no tray, the panel in a window of its own. One copy per user: a
// second start hands over to the running one.
class KovelBarApp : public QObject
{
    Q_OBJECT
public:
    // What the program asks of its desktop; tests give their own.
    struct Environment {
        QString platformName;                 // empty: the running platform's
        std::function<bool()> trayAvailable;  // empty: ask Qt
        int lockWaitMs = 10000;               // how long --replace waits for the old copy
    };

    explicit KovelBarApp(QObject *parent = nullptr);
    explicit KovelBarApp(Environment environment, QObject *parent = nullptr);

    // The whole start: runs when the lock is free; otherwise asks the running
    // copy to show its panel (or, with `replace`, to quit, waits for its lock
    // and then runs). exitRequested() tells when this copy is to end instead.
    void launch(bool replace);
    // Puts the icon up (or, failing a tray, opens the window), then readies
    // the panel for its first opening.
    void start();

    SingleInstance &singleInstance() { return m_instance; }
    PopupController &popup() { return m_popup; }

    // How the program ends (default: leave the event loop).
    void setQuitter(std::function<void()> quitter) { m_quit = std::move(quitter); }

signals:
    void exitRequested(int status);
    // The panel is built and warmed for its first opening (once, after start()).
    void panelReady();

public slots:
    void quit();

private:
    bool trayAvailable() const;

    Environment m_env;
    // Declared in this order so that the panel goes before the lock.
    SingleInstance m_instance;
    PopupController m_popup;
    std::function<void()> m_quit;
};

} // namespace Kovel::Bar
