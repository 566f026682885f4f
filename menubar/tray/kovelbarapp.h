#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QLocalServer;
class QLockFile;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace Kovel::Bar {

class BarView;

// The program: a tray icon whose click drops the panel down as a popup; where
// the platform cannot place a popup under the icon (Wayland), the panel in a
// small normal window the icon shows and hides; where the desktop has no tray,
// the panel in a window of its own. One panel, and so one Brain and one typed
// question, for the life of the process. One copy per user: a second start
// hands over to the running one through a local socket beside the lock.
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
    enum class Mode { Popup, TrayWindow, Window };

    explicit KovelBarApp(QObject *parent = nullptr);
    explicit KovelBarApp(Environment environment, QObject *parent = nullptr);
    ~KovelBarApp() override;

    // Takes the single-instance lock and listens beside it; false when
    // another copy of the program already runs for this user.
    bool claimSingleInstance();
    // The whole start: runs when the lock is free; otherwise asks the running
    // copy to show its panel (or, with `replace`, to quit, waits for its lock
    // and then runs). exitRequested() tells when this copy is to end instead.
    void launch(bool replace);
    // Puts the icon up (or, failing a tray, opens the window).
    void start();

    // The panel, built on first use (start() builds it once the icon is drawn).
    BarView *panel();
    bool hasPanel() const { return m_panel != nullptr; }
    Mode mode() const { return m_mode; }

    // How the program ends (default: leave the event loop).
    void setQuitter(std::function<void()> quitter) { m_quit = std::move(quitter); }

    // The lock's and the local socket's paths, in the user's runtime folder.
    static QString lockPath();
    static QString socketPath();

signals:
    void exitRequested(int status);
    // The panel is built and warmed for its first opening (once, after start()).
    void panelReady();

public slots:
    void togglePanel();
    void showPanel();
    void quit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool trayAvailable() const;
    Mode trayMode() const;
    void setMode(Mode mode);
    void checkTray();
    void awaitIconFrame(const QList<QWidget *> &before);
    void stopAwaitingIconFrame();
    void preparePanel();
    void warmPanel();
    void settleLayout();
    void dismiss();
    void placePanel();
    void updateTrayIcon();
    void nameTrayIcon();
    void listen();
    void onConnection();
    void tell(const QByteArray &command, std::function<void(bool delivered)> done);
    void waitForLock();

    Environment m_env;
    BarView *m_panel = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu = nullptr;
    QTimer *m_trayWait = nullptr;
    QTimer *m_prepare = nullptr;
    QList<QPointer<QWidget>> m_iconWindows;
    int m_trayChecks = 0;
    Mode m_mode = Mode::Popup;
    QElapsedTimer m_sinceHidden;
    QLockFile *m_lock = nullptr;
    QLocalServer *m_server = nullptr;
    std::function<void()> m_quit;
};

} // namespace Kovel::Bar
