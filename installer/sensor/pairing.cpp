#include "installer/sensor/pairing.h"

#include "agent/agentvalues.h"
#include "common/boundedexchange.h"
#include "common/jsonvalues.h"
#include "installer/core/blanks.h"
#include "installer/core/context.h"
#include "installer/core/installerstate.h"
#include "installer/core/installlog.h"
#include "installer/sensor/sensoragent.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QUrl>
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

// Only a JSON object holding both as JSON strings will do; nothing is converted.
std::optional<Identity> identityFrom(const QByteArray &body)
{
    const std::optional<QJsonObject> reply = Json::object(body);
    if (!reply)
        return std::nullopt;
    const std::optional<QString> id = Json::text(*reply, QStringLiteral("device_id"));
    const std::optional<QString> key = Json::text(*reply, QStringLiteral("api_key"));
    if (!id || !key)
        return std::nullopt;
    return Identity{*id, *key};
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

    const QJsonObject body{
        {QStringLiteral("code"), context.state.pairCode()},
        {QStringLiteral("name"), context.platform.hostName()},
        {QStringLiteral("device_type"), QStringLiteral("mac")},
    };
    // The address travels with the reply; nothing else of the state is read
    // later. The request goes with the state: a run whose state is gone ends
    // unheard.
    Context run = context;
    Http::send(context.network, &context.state, QUrl(address + pairPath, QUrl::StrictMode), "POST",
               QJsonDocument(body).toJson(QJsonDocument::Compact),
               Http::Limits{limits.idleMs, limits.overallMs, limits.maxReplyBytes},
               [run, address, maxBytes = limits.maxReplyBytes](Http::Result result) mutable {
        switch (result.failure) {
        case Http::Result::Failure::None:
            break;
        case Http::Result::Failure::TooLarge:
            qCWarning(System::installerLog) << "pairing reply larger than" << maxBytes << "bytes; abandoned";
            break;
        case Http::Result::Failure::TooLong:
            qCWarning(System::installerLog) << "pairing reply not complete in time; abandoned";
            break;
        case Http::Result::Failure::NoReply:
            qCWarning(System::installerLog) << "pairing: no reply from the brain:" << result.error;
            break;
        }
        const std::optional<Identity> identity = result.transportFailure() ? std::nullopt : identityFrom(result.body);
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
