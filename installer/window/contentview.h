#pragma once

#include <QWidget>
#include <functional>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Kovel::Installer {

class InstallerState;
class LogView;

// What the window's three buttons do, and what closing it waits for.
struct ContentActions {
    std::function<void()> start;
    std::function<void()> openDashboard;
    std::function<void()> connectAIs;
    // Ends a run's child before the window may close; false when none runs,
    // otherwise `closeAgain` is called once it has ended.
    std::function<bool(std::function<void()> closeAgain)> endRuns;
};

// The installer window's content: the role and engine choices, the typed
// fields, the three buttons and the install log, all drawn from the one
// installer state and redrawn whenever a field of it changes.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    ContentView(InstallerState &state, ContentActions actions, QWidget *parent = nullptr);

    static constexpr QSize minimumContentSize{560, 520};

signals:
    // The window has closed for good (also when it was hidden while a run's
    // child was ended first, which the application's own last-window rule
    // does not see).
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void build();
    void bind();
    void redraw();
    void keepEverythingInView();

    InstallerState &m_state;
    ContentActions m_actions;

    QWidget *m_roleChoice = nullptr;
    QButtonGroup *m_roles = nullptr;
    QWidget *m_sensorBlock = nullptr;
    QLineEdit *m_serverURL = nullptr;
    QLineEdit *m_pairCode = nullptr;
    QWidget *m_engineBlock = nullptr;
    QButtonGroup *m_engines = nullptr;
    QLabel *m_subscriptionNote = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_dashboard = nullptr;
    QWidget *m_aiTools = nullptr;
    QLineEdit *m_aiPairCode = nullptr;
    QPushButton *m_connect = nullptr;
    QWidget *m_progress = nullptr;
    LogView *m_log = nullptr;
};

} // namespace Kovel::Installer
