#pragma once

#include <QLabel>

class QTextLayout;

namespace Kovel::Bar {

// A plain-text label that wraps at word boundaries and, where a word is
// longer than the line (a run of Hangul or Latin letters without a space),
// anywhere inside it: its minimum width never follows its text, so a long
// subject cannot push the panel wider.
class WrappedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit WrappedLabel(const QString &text = QString(), QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Lays the text out in lines of `width` pixels; returns the height.
    int layOut(QTextLayout &layout, int width) const;
    int margins() const;
};

} // namespace Kovel::Bar
