#pragma once
// Test helper: records every published-field notification of one Brain, in
// the order it was emitted, as "field=value", and counts changed().

#include "menubar/brain/brain.h"

#include <QObject>
#include <QStringList>

class BrainRecorder : public QObject
{
public:
    explicit BrainRecorder(Kovel::Bar::Brain *brain) : QObject(brain)
    {
        connect(brain, &Kovel::Bar::Brain::briefingChanged, this, [this](const QString &v) { log("briefing=" + v); });
        connect(brain, &Kovel::Bar::Brain::loopsChanged, this, [this](const QList<Kovel::Bar::Loop> &v) {
            QStringList parts;
            for (const Kovel::Bar::Loop &l : v)
                parts << l.id + ':' + l.title;
            log("loops=[" + parts.join(',') + ']');
        });
        connect(brain, &Kovel::Bar::Brain::loopTotalChanged, this, [this](qint64 v) { log("loopTotal=" + QString::number(v)); });
        connect(brain, &Kovel::Bar::Brain::answerChanged, this, [this](const QString &v) { log("answer=" + v); });
        connect(brain, &Kovel::Bar::Brain::askedAboutChanged, this, [this](const QString &v) { log("askedAbout=" + v); });
        connect(brain, &Kovel::Bar::Brain::askingChanged, this, [this](bool v) { log(QStringLiteral("asking=") + (v ? "true" : "false")); });
        connect(brain, &Kovel::Bar::Brain::briefingBusyChanged, this, [this](bool v) { log(QStringLiteral("briefingBusy=") + (v ? "true" : "false")); });
        // changed() comes right after each field's own signal, one for one.
        connect(brain, &Kovel::Bar::Brain::changed, this, [this] {
            if (changedCount + 1 != events.size())
                outOfStep = true;
            ++changedCount;
        });
    }

    // Field names only, in emission order.
    QStringList fields() const
    {
        QStringList names;
        for (const QString &e : events)
            names << e.section('=', 0, 0);
        return names;
    }

    // Every field signal was followed by exactly one changed().
    bool changedInStep() const { return !outOfStep && changedCount == events.size(); }

    void clear() { events.clear(); changedCount = 0; outOfStep = false; }

    QStringList events;
    int changedCount = 0;

private:
    void log(const QString &event) { events << event; }
    bool outOfStep = false;
};

// JSON written with single quotes for readability in test tables:
// q("{'a':1}") is {"a":1}. (moc misreads raw string literals.)
inline QByteArray q(const char *text)
{
    QByteArray bytes(text);
    bytes.replace('\'', '"');
    return bytes;
}
