#pragma once
// The two strict type tests every reply is read with: nothing is converted.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

namespace Kovel::Json {

// The text of a JSON string (an empty string counts); nothing for any other type.
inline std::optional<QString> text(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// A JSON array all of whose elements are objects (an empty one qualifies).
inline std::optional<QJsonArray> listOfObjects(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &element : array)
        if (!element.isObject())
            return std::nullopt;
    return array;
}

// The body as a JSON object, or nothing when it is not JSON or not an object.
inline std::optional<QJsonObject> object(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace Kovel::Json
