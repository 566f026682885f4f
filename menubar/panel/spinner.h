#pragma once

#include <QWidget>

class QTimer;

namespace Kovel::Bar {

// A small indeterminate spinner: a ring of dots fading round, turning only
// while it is on screen.
class Spinner : public QWidget
{
    Q_OBJECT
public:
    explicit Spinner(QWidget *parent = nullptr);
    QSize sizeHint() const override;
    // Turning (and so repainting) only while on screen.
    bool isTurning() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *m_timer;
    int m_step = 0;
};

} // namespace Kovel::Bar
