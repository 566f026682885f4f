#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QString>
#include <QStringView>
#include <vector>

namespace Kovel::Text {

// What the view's font measures: the advance of every character and cluster
// met so far, and the height, baseline and tab stops every row shares.
//
// Invariants: every advance kept is of the current font (setFont drops them
// all); in the table of single UTF-16 units, below 0 means "not measured
// yet". Measuring changes only these caches, so a const view can measure.
class FontMeasures
{
public:
    explicit FontMeasures(const QFont &font);

    void setFont(const QFont &font);

    // The advance of the cluster [i, end) of `s` placed at `x` (a tab
    // reaches the next tab stop).
    qreal advance(QStringView s, qsizetype i, qsizetype end, qreal x) const;
    // Advances of the single UTF-16 units of the first plane, < 0 where not
    // measured yet: the folding loop reads them directly.
    const float *unitAdvances() const { return m_units.data(); }
    // The advance of a character beyond the first plane standing alone.
    qreal wideAdvance(char32_t c) const
    {
        const auto it = m_wide.constFind(c);
        return it != m_wide.cend() ? *it : measureWide(c);
    }

    qreal tabStop() const { return m_tab; }
    int rowHeight() const { return m_rowHeight; }
    // Where the shared baseline lies below a row's top.
    qreal ascent() const { return m_ascent; }

private:
    qreal measureWide(char32_t c) const;

    QFontMetricsF m_metrics;
    mutable std::vector<float> m_units;          // per UTF-16 unit; < 0 unknown
    mutable QHash<QString, qreal> m_clusters;    // clusters of more than one unit
    mutable QHash<char32_t, qreal> m_wide;       // characters beyond the first plane
    qreal m_tab = 0;
    int m_rowHeight = 1;
    qreal m_ascent = 0;
};

} // namespace Kovel::Text
