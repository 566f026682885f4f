#include "demo/samplenotes.h"

#include <QStringList>

namespace Kovel::Demo {

namespace {
struct Note {
    const char *when;
    const char *source;
    const char *text;
    const char *keywords;   // separated by '|'
};

const Note notes[] = {
    {"어제 10:12", "메일", "김 팀장: 3분기 예산안은 이번 주 금요일까지 회신 부탁드려요. 마케팅 항목은 10% 줄여 주세요.",
     "예산|김 팀장|팀장|3분기|마케팅|어제"},
    {"어제 14:40", "화면", "디자인 시안 A와 B를 비교함. A는 색 대비가 낫고, B는 정보 밀도가 높음.",
     "디자인|시안|리뷰|피드백|어제"},
    {"어제 17:05", "회의", "디자인 리뷰: 다음 주까지 피드백을 정리해 공유하기로 함. 담당은 나.",
     "디자인|리뷰|피드백|회의|어제"},
    {"그저께 09:20", "메일", "치과: 예약하신 목요일 진료가 병원 사정으로 취소되었습니다. 다시 예약해 주세요.",
     "치과|예약|병원"},
    {"어제 11:30", "AI 세션", "이사님 발표 자료: 3장 매출 그래프 단위를 억 원으로 통일하고 결론 슬라이드 추가.",
     "발표|이사님|자료|슬라이드|어제"},
    {"오늘 08:50", "메일", "인사팀: 신규 입사자 두 명, 다음 주 월요일 입사. 온보딩 일정 확정 부탁드립니다.",
     "입사|온보딩|신규|인사|오늘"},
    {"그저께 16:00", "메일", "법무팀: 계약서 수정본 첨부합니다. 4조 2항 문구만 바뀌었어요. 서명 후 회신 바랍니다.",
     "계약|서명|법무"},
    {"지난주 금요일", "회의", "주간 회의: 회의록은 각자 팀 위키에 올리기로 함.",
     "회의록|위키|회의|지난주"},
    {"어제 15:20", "화면", "클라우드 콘솔: 지난달 서버 비용 412만 원, 전월보다 18% 증가.",
     "서버|비용|보고서|클라우드|어제"},
    {"오늘 07:40", "메모", "엄마 생신은 다음 주 토요일. 지난번에 말씀하신 스카프 주문하기.",
     "엄마|생신|선물|스카프|오늘"},
    {"어제 18:10", "메일", "고객 문의 세 건: 요금제 변경, 영수증 재발행, 계정 삭제 문의.",
     "고객|문의|메일|답장|어제"},
    {"지난주 수요일", "AI 세션", "OKR 자기 평가 초안: 목표 2개 달성, 1개는 70% 진행.",
     "OKR|자기 평가|목표"},
    {"그저께 20:15", "메모", "부산 출장 경비: KTX 왕복, 숙박 1박, 식비 영수증 세 장. 정산 마감은 이번 달 말.",
     "출장|경비|정산|영수증|부산"},
};

const int maxQuoted = 3;
}

QString answerFromNotes(const QString &question)
{
    QStringList quoted;
    int found = 0;
    for (const Note &note : notes) {
        const QStringList keywords = QString::fromUtf8(note.keywords).split(QLatin1Char('|'));
        bool hit = false;
        for (const QString &k : keywords)
            hit = hit || question.contains(k, Qt::CaseInsensitive);
        if (!hit)
            continue;
        if (++found <= maxQuoted)
            quoted << QStringLiteral("「%1」\n— %2, %3")
                          .arg(QString::fromUtf8(note.text), QString::fromUtf8(note.when), QString::fromUtf8(note.source));
    }
    if (found == 0)
        return QStringLiteral("기록에서 관련된 내용을 찾지 못했어요. 다른 말로 물어봐 주세요. "
                              "(데모 브레인은 작은 예시 기록만 갖고 있어요.)");
    QString head = QStringLiteral("기록에서 관련된 내용을 %1건 찾았어요.").arg(found);
    if (found > maxQuoted)
        head += QStringLiteral(" 가장 관련 있는 %1건을 옮겨요.").arg(maxQuoted);
    return head + QStringLiteral("\n\n") + quoted.join(QStringLiteral("\n\n"));
}

} // namespace Kovel::Demo
