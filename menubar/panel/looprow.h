#pragma once

#include "menubar/brain/loop.h"

#include <QWidget>

class QAbstractButton;

namespace Kovel::Bar {

// One open loop in the panel: its title as a plain one-line button taking the
// whole free width (ask what it was about), and a tick (mark it done).
class LoopRow : public QWidget
{
    Q_OBJECT
public:
    // `base` is the panel's palette, from which the dimmed colours are taken.
    LoopRow(const Loop &loop, const QPalette &base, QWidget *parent = nullptr);

    Loop loop() const { return m_loop; }
    QAbstractButton *titleButton() const { return m_title; }
    QAbstractButton *tickButton() const { return m_tick; }

signals:
    void explainRequested(const Loop &loop);
    void closeRequested(const Loop &loop);

private:
    Loop m_loop;
    QAbstractButton *m_title;
    QAbstractButton *m_tick;
};

} // namespace Kovel::Bar
