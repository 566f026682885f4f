#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

namespace Kovel::Bar {

// One open loop: an unfinished matter the brain keeps for the user.
struct Loop {
    QString id;      // the server's identifier; the title stands in when it gave none
    QString title;

    friend bool operator==(const Loop &, const Loop &) = default;
};

} // namespace Kovel::Bar

Q_DECLARE_METATYPE(Kovel::Bar::Loop)
