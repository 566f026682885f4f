#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class BarView;
class QLockFile;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The program: a tray icon whose click drops the panel down as a popup; where
// the desktop has no tray, the panel in a small window of its own. One panel,
// and so one Brain and one typed question, for the life of the process.
class KovelBarApp : public QObject
{
    Q_OBJECT
public:
    explicit KovelBarApp(QObject *parent = nullptr);
    ~KovelBarApp() override;

    // False when another copy of the program already runs for this user.
    bool claimSingleInstance();
    // Puts the icon up (or, failing a tray, opens the window).
    void start();

    BarView *panel() const { return m_panel; }

public slots:
    void togglePanel();
    void showPanel();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void checkTray();
    void useWindow();
    void placePopup();
    void updateTrayIcon();

    BarView *m_panel = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu = nullptr;
    QTimer *m_trayWait = nullptr;
    int m_trayChecks = 0;
    bool m_windowed = false;
    QElapsedTimer m_sinceHidden;
    QLockFile *m_lock = nullptr;
};
