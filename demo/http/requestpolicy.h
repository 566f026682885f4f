#pragma once

#include "demo/http/httpmessages.h"

#include <optional>

namespace Kovel::Demo {

// Why a request to this server, listening on port, is refused before its
// body is read, if it is. A web page in the user's browser can send requests
// here: one reached through another name (DNS rebinding) is refused by its
// Host; one that would change something is refused by its Origin, and by a
// body type that a page may send without asking first.
std::optional<HttpReply> requestRefusal(const HttpRequest &request, qint64 bodyLength, quint16 port);

} // namespace Kovel::Demo
