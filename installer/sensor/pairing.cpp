#include "installer/sensor/pairing.h"

#include "installer/actions/blanks.h"
#include "installer/actions/installer.h"
#include "installer/actions/installlog.h"
#include "installer/sensor/sensoragent.h"
#include "installer/window/installerstate.h"
#include "platform/platform.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <optional>

namespace {

const QString pairPath = QStringLiteral("/api/devices/pair");
constexpr int pairTimeoutMs = 60 * 1000;

const QString badAddressText = QStringLiteral("⚠️ 브레인 주소가 올바르지 않아요. 예: http://192.168.0.10:8900\n");
const QString notPairedText = QStringLiteral("페어링 실패 — 코드가 만료/오타거나 서버에 못 닿았습니다.\n");

struct Identity {
    QString deviceID;
    QString apiKey;
};

// Errors Qt derives from an HTTP status still come with the server's body,
// which is what counts; anything else means no usable reply arrived.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    if (error == QNetworkReply::NoError)
        return false;
    const bool fromStatus = (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return !fromStatus;
}

// Only a JSON object holding both as JSON strings will do; nothing is converted.
std::optional<Identity> identityFrom(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject reply = doc.object();
    const QJsonValue id = reply.value(QLatin1String("device_id"));
    const QJsonValue key = reply.value(QLatin1String("api_key"));
    if (!id.isString() || !key.isString())
        return std::nullopt;
    return Identity{id.toString(), key.toString()};
}

} // namespace

QString normalisedBrainAddress(const QString &typed)
{
    QString address = trimBlanks(typed);

    if (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    if (!address.isEmpty() && !address.startsWith(QLatin1String("http://")) && !address.startsWith(QLatin1String("https://")))
        address.prepend(QLatin1String("http://"));
    return address;
}

bool isUsableBrainAddress(const QString &address)
{
    if (address.isEmpty())
        return false;
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    return QUrl(address + pairPath, QUrl::StrictMode).isValid();
}

void startSensor(Installer &in)
{
    const QString address = normalisedBrainAddress(in.state.serverURL());
    // The field shows what is tried, also when it turns out bad.
    in.state.setServerURL(address);

    if (!isUsableBrainAddress(address)) {
        appendLog(in, badAddressText);
        in.state.setRunning(false);
        return;
    }

    appendLog(in, QStringLiteral("브레인에 연결하는 중… (") + address + QStringLiteral(")\n"));

    QNetworkRequest request(QUrl(address + pairPath, QUrl::StrictMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(pairTimeoutMs);
    const QJsonObject body{
        {QStringLiteral("code"), in.state.pairCode()},
        {QStringLiteral("name"), in.platform.hostName()},
        {QStringLiteral("device_type"), QStringLiteral("mac")},
    };

    QNetworkReply *reply = in.network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    // The address travels with the reply; nothing else of the state is read later.
    Installer run = in;
    QObject::connect(reply, &QNetworkReply::finished, &in.state, [run, reply, address]() mutable {
        reply->deleteLater();
        const std::optional<Identity> identity = isTransportFailure(reply->error())
            ? std::nullopt
            : identityFrom(reply->readAll());
        if (!identity) {
            appendLog(run, notPairedText);
            // Queued behind the log line, as every write from a finished exchange is.
            InstallerState *state = &run.state;
            QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
            return;
        }
        appendLog(run, QStringLiteral("페어링 성공: ") + identity->deviceID + QStringLiteral("\n자동시작 등록 중…\n"));
        installSensorAgent(run, address, identity->deviceID, identity->apiKey);
    });
}
