#include "textview/fontmeasures.h"

#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace Kovel::Text {

FontMeasures::FontMeasures(const QFont &font) : m_metrics(font)
{
    setFont(font);
}

void FontMeasures::setFont(const QFont &font)
{
    m_metrics = QFontMetricsF(font);
    m_units.assign(0x10000, -1.f);
    m_clusters.clear();
    m_wide.clear();
    m_tab = 8 * m_metrics.horizontalAdvance(QLatin1Char(' '));
    // Rows are as tall as the tallest script the text is likely to hold, so
    // Hangul and emoji from fallback fonts never reach into the next row.
    QTextLayout sample(QStringLiteral("Ag가😀✓"), font);
    sample.beginLayout();
    QTextLine line = sample.createLine();
    sample.endLayout();
    m_ascent = std::max(m_metrics.ascent(), line.ascent());
    const qreal descent = std::max(m_metrics.descent(), line.descent());
    m_rowHeight = std::max(1, int(std::ceil(m_ascent + descent + std::max<qreal>(0, m_metrics.leading()))));
}

qreal FontMeasures::advance(QStringView s, qsizetype i, qsizetype end, qreal x) const
{
    const char16_t c = s[i].unicode();
    if (end == i + 1) {
        if (c == u'\t')
            return m_tab - std::fmod(x, m_tab);
        float &a = m_units[c];
        if (a < 0)
            a = float(m_metrics.horizontalAdvance(QChar(c)));
        return a;
    }
    const QString cluster = s.sliced(i, end - i).toString();
    auto it = m_clusters.constFind(cluster);
    if (it != m_clusters.cend())
        return *it;
    const qreal a = m_metrics.horizontalAdvance(cluster);
    m_clusters.insert(cluster, a);
    return a;
}

qreal FontMeasures::measureWide(char32_t c) const
{
    return *m_wide.insert(c, m_metrics.horizontalAdvance(QString::fromUcs4(&c, 1)));
}

} // namespace Kovel::Text
