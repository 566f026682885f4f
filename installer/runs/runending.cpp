#include "installer/runs/runending.h"

namespace Kovel::Installer {

QString failureMessage(int status)
{
    switch (status) {
    case 2:
    case 3:
    case 4:
        return QStringLiteral("⚠️ AI 엔진(Ollama) 준비에 실패했어요. 인터넷 연결을 확인하고 [시작]을 다시 눌러주세요.");
    case 5:
        return QStringLiteral("⚠️ 이 맥은 인텔 칩이라 올인원(브레인) 실행이 안 돼요. 다른 맥/서버를 브레인으로 쓰고 이 맥은 '센서'로 연결하세요.");
    case 6:
        return QStringLiteral("⚠️ 브레인 서버를 시작하지 못했어요. [시작]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
    case 7:
        return QStringLiteral("⚠️ 8900 포트가 이미 사용 중이에요. 이미 실행 중이면 [대시보드 열기]를, 아니면 그 프로그램을 끄고 다시 시작하세요.");
    case 8:
        return QStringLiteral("⚠️ 디스크 공간이 부족해요(약 6GB 필요). 공간을 확보하고 [시작]을 다시 눌러주세요.");
    case 9:
        return QStringLiteral("⚠️ AI 모델 다운로드가 중간에 끊겼어요. 인터넷을 확인하고 [시작]을 다시 누르면 이어받아요.");
    case 10:
        return QStringLiteral("⚠️ AI 구독 로그인이 필요해요. 터미널에서 claude(또는 codex)를 실행해 로그인한 뒤 [시작]을 다시 눌러주세요.");
    default:
        return QStringLiteral("⚠️ 설치가 완료되지 못했어요 (코드 ") + QString::number(status)
            + QStringLiteral("). [시작]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
    }
}

RunEnding setupEnding(int status)
{
    if (status == 0)
        return {true, {}, false};
    // The port may be taken by a brain that already runs: its dashboard is
    // then what the message sends the user to.
    return {false, failureMessage(status), status == 7};
}

} // namespace Kovel::Installer
