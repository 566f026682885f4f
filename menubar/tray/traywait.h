#pragma once

#include <QObject>
#include <functional>

class QTimer;

namespace Kovel::Bar {

// A tray may come up a little after the session starts: asks a few times
// whether there is one before the program does without.
class TrayWait : public QObject
{
    Q_OBJECT
public:
    explicit TrayWait(std::function<bool()> trayAvailable, QObject *parent = nullptr);

    // Nothing to wait for where a tray is there already.
    void start();

signals:
    // No tray came.
    void gaveUp();

private:
    void check();

    std::function<bool()> m_trayAvailable;
    QTimer *m_timer;
    int m_checks = 0;
};

} // namespace Kovel::Bar
