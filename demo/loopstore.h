#pragma once

#include <QList>
#include <QString>

namespace Kovel::Demo {

// The open loops the demo brain keeps, in memory, in the order it shows them.
class LoopStore
{
public:
    struct Item {
        QString id;
        QString title;
    };

    // Starts with the sample loops.
    LoopStore();

    const QList<Item> &items() const { return m_items; }
    // Removes the loop with this id; false when there is none.
    bool close(const QString &id);

private:
    QList<Item> m_items;
};

} // namespace Kovel::Demo
