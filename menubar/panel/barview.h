#pragma once

#include "menubar/brain/loop.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace Kovel::Bar {

class Brain;
class LoopRow;
class PanelBox;
class ReplyText;

// The menu bar panel: one 380 px column that asks the brain, lists the first
// open loops, fetches the briefing and opens the dashboard. Everything it
// shows is drawn from its Brain's fields; the typed question is its only state.
class BarView : public QWidget
{
    Q_OBJECT
public:
    using UrlOpener = std::function<void(const QUrl &)>;
    using Quitter = std::function<void()>;

    // Creates its own Brain (from the configuration), owned by the panel.
    explicit BarView(QWidget *parent = nullptr);
    // Uses the given Brain; the panel does not take ownership of it.
    explicit BarView(Brain *brain, QWidget *parent = nullptr);

    Brain *brain() const { return m_brain; }
    QString q() const { return m_q; }

    // How the dashboard is opened (default: the user's browser) and how the
    // program ends (default: leave the event loop). For hosts and tests.
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    void setQuitter(Quitter quitter) { m_quit = std::move(quitter); }
    // What Escape does (default: close the panel); the host knows how its
    // panel is put away.
    void setDismisser(std::function<void()> dismiss) { m_dismiss = std::move(dismiss); }

    // The quit button's label, shared with the tray menu's quit entry.
    static QString quitLabel();

    QSize sizeHint() const override;

public slots:
    void submit();
    void openDashboard();
    void quit();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void build();
    void fitToContent();
    void connectBrain();
    void applyTones();
    void updateAskButton();
    void updateStatus();
    void updateLoopCount();
    void updateRows();
    void updateBriefing();
    void updateTabOrder();

    Brain *m_brain;
    QString m_q;
    UrlOpener m_openUrl;
    Quitter m_quit;
    std::function<void()> m_dismiss;

    QScrollArea *m_scroll = nullptr;
    QWidget *m_content = nullptr;
    QVBoxLayout *m_column = nullptr;
    QPushButton *m_dashboardButton = nullptr;
    QLineEdit *m_question = nullptr;
    QPushButton *m_askButton = nullptr;
    QLabel *m_questionHint = nullptr;
    PanelBox *m_progressBox = nullptr;
    QLabel *m_progressText = nullptr;
    PanelBox *m_answerBox = nullptr;
    QLabel *m_answerSubject = nullptr;
    ReplyText *m_answerText = nullptr;
    QLabel *m_loopsHeader = nullptr;
    QPushButton *m_briefingButton = nullptr;
    QLabel *m_loopsHint = nullptr;
    QList<Loop> m_shownLoops;
    QList<LoopRow *> m_rows;
    QLabel *m_remainder = nullptr;
    PanelBox *m_briefingBox = nullptr;
    ReplyText *m_briefingText = nullptr;
    QLabel *m_footerNote = nullptr;
    QPushButton *m_quitButton = nullptr;
};

} // namespace Kovel::Bar
