#include "demo/loopstore.h"

namespace Kovel::Demo {

LoopStore::LoopStore()
{
    // A dozen, so the panel shows five rows and a remainder line.
    static const char *const titles[] = {
        "김 팀장에게 3분기 예산안 회신하기",
        "디자인 리뷰 피드백 정리해서 공유하기",
        "치과 예약 다시 잡기",
        "이사님 발표 자료 최종본 검토",
        "신규 입사자 온보딩 일정 확정",
        "계약서 수정본에 서명해서 보내기",
        "지난주 회의록 팀 위키에 올리기",
        "서버 비용 보고서 초안 쓰기",
        "엄마 생신 선물 주문하기",
        "고객 문의 메일 세 건 답장",
        "분기 OKR 자기 평가 작성",
        "출장 경비 정산 제출",
    };
    int n = 0;
    for (const char *title : titles)
        m_items.append({QStringLiteral("loop-%1").arg(++n, 2, 10, QLatin1Char('0')), QString::fromUtf8(title)});
}

bool LoopStore::close(const QString &id)
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].id == id) {
            m_items.removeAt(i);
            return true;
        }
    }
    return false;
}

} // namespace Kovel::Demo
