#include "menubar/brain/brainconfig.h"

#include "common/brainaddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace Kovel::Bar {

QString BrainConfig::serverURL()
{
    const QString fallback = QString::fromLatin1(defaultBrainAddress);
    // The home folder as the environment gives it, so a test can move it.
    const QString path = QDir::homePath() + QStringLiteral("/.kovel/config.json");
    // Only a regular file: opening a FIFO or a device here would hang the start.
    if (!QFileInfo(path).isFile())
        return fallback;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fallback;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return fallback;
    const QJsonValue brain = document.object().value(QStringLiteral("brain"));
    if (!brain.isString())
        return fallback;
    QString value = brain.toString();
    if (value.isEmpty())
        return fallback;
    // Exactly one slash, once: "http://h//" keeps one.
    if (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

} // namespace Kovel::Bar
