#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <memory>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace Kovel::Bar {

// The menu bar item: KovelBar's icon in the tray, named for the program, with
// a small menu beside the click that opens the panel.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    // Puts the icon up, even before a tray exists: it docks by itself once one
    // starts. Returns the windows that came up with it (the X11 tray's icon
    // window); none where the tray draws the icon itself.
    QList<QWidget *> show();
    // For trays that take an icon by name: the installed one, if there is one.
    void useThemedIcon();
    // Where the tray says the icon is; empty where it does not say.
    QRect geometry() const;

signals:
    // The icon's own click.
    void clicked();
    // The menu's two entries.
    void openRequested();
    void quitRequested();

private:
    QSystemTrayIcon *m_icon;
    std::unique_ptr<QMenu> m_menu;
};

} // namespace Kovel::Bar
