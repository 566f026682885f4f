#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QTimer;
class QWidget;

namespace Kovel::Bar {

class PopupController;

// Readies the panel for its first opening, after the tray icon is up: builds
// it once the icon's own window has painted, so building it never holds up
// the icon's first frame, then lays it out and draws it once where no one
// sees it, so the first opening finds its layout done and its faces (Hangul,
// emoji) loaded. Nothing is shown and nothing is asked of the brain.
class PanelWarmup : public QObject
{
    Q_OBJECT
public:
    explicit PanelWarmup(PopupController *popup, QObject *parent = nullptr);

    // Starts once the icon is up, given the windows that came up with it.
    void start(const QList<QWidget *> &iconWindows);

signals:
    // The panel is built and warmed (once).
    void ready();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stopWatchingIcon();
    void build();
    void warm();

    PopupController *m_popup;
    QTimer *m_build;
    QList<QPointer<QWidget>> m_iconWindows;
};

} // namespace Kovel::Bar
