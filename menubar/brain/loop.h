#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One open loop: an unfinished matter the brain keeps for the user.
struct Loop {
    QString id;      // the server's identifier; the title stands in when it gave none
    QString title;

    friend bool operator==(const Loop &, const Loop &) = default;
};

Q_DECLARE_METATYPE(Loop)
