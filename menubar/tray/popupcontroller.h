#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>

namespace Kovel::Bar {

class BarView;

// The one panel of the process and how it comes on screen: a popup dropped
// under the tray icon; where the platform cannot place a popup (Wayland), a
// small normal window the icon shows and hides; where the desktop has no
// tray, a window of its own. Owns the panel, built on first use, and with it
// its Brain and its typed question for the life of the process.
class PopupController : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Popup, TrayWindow, Window };

    // `platformName` tells whether a popup can be placed at all.
    explicit PopupController(const QString &platformName, QObject *parent = nullptr);
    ~PopupController() override;

    BarView *panel();
    bool hasPanel() const { return m_panel != nullptr; }
    Mode mode() const { return m_mode; }

    // Where the tray says its icon is (an empty rectangle where it does not).
    void setIconGeometry(std::function<QRect()> geometry) { m_iconGeometry = std::move(geometry); }
    // From here on the panel goes with the tray icon.
    void followIcon();
    // No tray: the panel becomes a window of its own.
    void standAlone();
    // Gives the panel the layout and the size it opens at, whether or not it
    // is opened now.
    void fitForOpening();

public slots:
    // What a click on the icon does.
    void togglePanel();
    void showPanel();

signals:
    // The panel's quit button.
    void quitRequested();
    // The panel, in a window of its own, was closed.
    void windowClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Where a popup hangs from: the icon, and the pointer standing in for it
    // where the tray does not say where the icon is.
    struct Anchor {
        QRect icon;
        QPoint cursor;
    };

    Mode iconMode() const;
    void setMode(Mode mode);
    Anchor currentAnchor() const;
    void placePanel();
    void dismiss();

    QString m_platformName;
    std::function<QRect()> m_iconGeometry;
    BarView *m_panel = nullptr;
    Mode m_mode = Mode::Popup;
    // Chosen as the panel opens, and again as it changes size; every
    // placement goes by it.
    Anchor m_anchor;
    QElapsedTimer m_sinceHidden;
};

} // namespace Kovel::Bar
