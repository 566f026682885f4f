#pragma once
// Test helper: the statuses a brain may answer with, one table for every
// caller of the exchange. Only the body counts, whatever the status; a 3xx
// leads elsewhere only when it names where.

#include "tests/support/fakebrain.h"

#include <QByteArray>
#include <QList>

namespace ReplyStatuses {

struct Row {
    QByteArray name;
    int status;
    bool located;   // the reply names a Location
};

inline QList<Row> rows()
{
    QList<Row> all;
    for (const int status : {200, 201, 202, 204, 400, 401, 403, 404, 407, 409, 500, 502, 503})
        all.append({QByteArray::number(status), status, false});
    for (const int status : {301, 302, 303, 307, 308}) {
        all.append({QByteArray::number(status) + " to elsewhere", status, true});
        all.append({QByteArray::number(status) + " naming nowhere", status, false});
    }
    return all;
}

// Which body counts.
enum class Counted {
    Here,       // the reply's own
    There,      // the one at the address the reply named
    Nothing,    // none: a 204 has no body
};

inline Counted counted(int status, bool located)
{
    if (located)
        return Counted::There;
    return status == 204 ? Counted::Nothing : Counted::Here;
}

inline const QByteArray elsewhere = "/elsewhere";

// What a followed redirect asks elsewhere with: 307 and 308 repeat the
// request, the others fetch.
inline QByteArray methodThere(int status, const QByteArray &method)
{
    return status == 307 || status == 308 ? method : QByteArray("GET");
}

// Scripts fake: method on path answers status with here (a 204 with nothing),
// naming elsewhere when located; elsewhere answers 200 with there, to a GET
// and a POST alike.
inline void script(FakeBrain &fake, const QByteArray &method, const QByteArray &path, int status, bool located,
                   const QByteArray &here, const QByteArray &there)
{
    FakeBrain::Reply reply = FakeBrain::Reply::json(status == 204 ? QByteArray() : here, status);
    if (located)
        reply.headers = {{"Location", elsewhere}};
    fake.on(method, path, reply);
    fake.on("GET", elsewhere, FakeBrain::Reply::json(there));
    fake.on("POST", elsewhere, FakeBrain::Reply::json(there));
}

} // namespace ReplyStatuses
