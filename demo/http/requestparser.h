#pragma once

#include "demo/http/httpmessages.h"

#include <QByteArrayView>
#include <optional>

namespace Kovel::Demo {

// What the head of a request says: the request itself and how its body is framed.
struct RequestHead {
    HttpRequest request;        // method, path and header fields; no body or peer yet
    // The body's length; one too long to write down reads as the largest qint64.
    qint64 bodyLength = 0;
    bool http10 = false;
    bool keepAlive = true;      // what the client asked for, by its version and Connection
    bool expectContinue = false;   // the client waits for "100 Continue" before its body
    // Set when the head is malformed or framed in a way that could be read
    // two ways; the fields above are then not to be used.
    std::optional<HttpReply> refusal;
};

// Reads a request line and its header fields, each line ending in "\r\n",
// the blank line after them left out.
RequestHead parseRequestHead(QByteArrayView head);

} // namespace Kovel::Demo
