#pragma once

#include <QWidget>

namespace Kovel::Bar {

// The status and briefing boxes' frame: 8 px inner margin, black at 15 %
// opacity, 6 px rounded corners. Children go into layout().
class PanelBox : public QWidget
{
    Q_OBJECT
public:
    explicit PanelBox(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace Kovel::Bar
