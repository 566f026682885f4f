#include "installer/sensor/pairing.h"

#include "agent/agentvalues.h"
#include "installer/core/blanks.h"
#include "installer/core/context.h"
#include "installer/core/installerstate.h"
#include "installer/core/installlog.h"
#include "installer/sensor/sensoragent.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <optional>

namespace Kovel::Installer {

namespace {

const QString pairPath = QStringLiteral("/api/devices/pair");

const QString badAddressText = QStringLiteral("⚠️ 브레인 주소가 올바르지 않아요. 예: http://192.168.0.10:8900\n");
const QString notPairedText = QStringLiteral("페어링 실패 — 코드가 만료/오타거나 서버에 못 닿았습니다.\n");
const QString unusableIdentityText = QStringLiteral(
    "⚠️ 브레인이 보낸 기기 ID나 API 키를 센서에 쓸 수 없어요 (비어 있거나 쓸 수 없는 문자가 있어요). 아무것도 설치하지 않았어요.\n");

struct Identity {
    QString deviceID;
    QString apiKey;
};

// Whether the server's reply arrived whole. Qt reports many statuses as
// errors (400 as an invalid operation, 407 as a proxy error, 404, 500...),
// yet with the server's whole body: those count by their body. A connection
// that broke, timed out or was given up on did not deliver one.
bool replyArrived(const QNetworkReply *reply)
{
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    const QNetworkReply::NetworkError error = reply->error();
    switch (error) {
    case QNetworkReply::NoError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return true;
    default:
        return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
            || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    }
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

void startSensor(Context &context)
{
    startSensor(context, PairingLimits{});
}

void startSensor(Context &context, const PairingLimits &limits)
{
    const QString address = normalisedBrainAddress(context.state.serverURL());
    // The field shows what is tried, also when it turns out bad.
    context.state.setServerURL(address);

    if (!isUsableBrainAddress(address)) {
        appendLog(context, badAddressText);
        context.state.setRunning(false);
        return;
    }

    appendLog(context, QStringLiteral("브레인에 연결하는 중… (") + address + QStringLiteral(")\n"));

    QNetworkRequest request(QUrl(address + pairPath, QUrl::StrictMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(limits.idleMs);
    const QJsonObject body{
        {QStringLiteral("code"), context.state.pairCode()},
        {QStringLiteral("name"), context.platform.hostName()},
        {QStringLiteral("device_type"), QStringLiteral("mac")},
    };

    QNetworkReply *reply = context.network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    // Qt reads no further ahead than this, so memory stays bounded whatever is sent.
    reply->setReadBufferSize(64 * 1024);
    auto received = std::make_shared<QByteArray>();
    auto abandoned = std::make_shared<bool>(false);
    const qint64 maxBytes = limits.maxReplyBytes;
    auto take = [reply, received, abandoned, maxBytes] {
        if (*abandoned)
            return;
        while (reply->bytesAvailable() > 0) {
            received->append(reply->read(qMin<qint64>(reply->bytesAvailable(), maxBytes + 1 - received->size())));
            if (received->size() > maxBytes) {
                qCWarning(System::installerLog) << "pairing reply larger than" << maxBytes << "bytes; abandoned";
                *abandoned = true;
                reply->abort();
                return;
            }
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    // A server that sends a byte now and then never trips the idle limit.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, abandoned] {
        qCWarning(System::installerLog) << "pairing reply not complete in time; abandoned";
        *abandoned = true;
        reply->abort();
    });
    deadline->start(limits.overallMs);

    // The address travels with the reply; nothing else of the state is read later.
    Context run = context;
    QObject::connect(reply, &QNetworkReply::finished, &context.state, [run, reply, address, received, abandoned, take]() mutable {
        reply->deleteLater();
        take();
        const bool arrived = !*abandoned && replyArrived(reply);
        if (!arrived && !*abandoned)
            qCWarning(System::installerLog) << "pairing: no reply from the brain:" << reply->errorString();
        const std::optional<Identity> identity = arrived ? identityFrom(*received) : std::nullopt;
        if (!identity) {
            appendLog(run, notPairedText);
            // Queued behind the log line, as every write from a finished exchange is.
            InstallerState *state = &run.state;
            QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
            return;
        }
        // What the agent would refuse to start with is refused here, before
        // anything is written: the service would fail at every restart.
        const QString idProblem = Agent::agentValueProblem(identity->deviceID);
        const QString keyProblem = Agent::agentValueProblem(identity->apiKey);
        if (!idProblem.isEmpty() || !keyProblem.isEmpty()) {
            qCWarning(System::installerLog).noquote() << "pairing refused: device_id" << (idProblem.isEmpty() ? QStringLiteral("fine") : idProblem)
                                              << "/ api_key" << (keyProblem.isEmpty() ? QStringLiteral("fine") : keyProblem);
            appendLog(run, unusableIdentityText);
            InstallerState *state = &run.state;
            QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
            return;
        }
        appendLog(run, QStringLiteral("페어링 성공: ") + identity->deviceID + QStringLiteral("\n자동시작 등록 중…\n"));
        installSensorAgent(run, address, identity->deviceID, identity->apiKey);
    });
}

} // namespace Kovel::Installer
