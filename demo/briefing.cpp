#include "demo/briefing.h"

#include <QStringList>

namespace Kovel::Demo {

namespace {
struct Appointment {
    const char *time;
    const char *what;
};
const Appointment schedule[] = {
    {"09:30", "주간 팀 스탠드업"},
    {"11:00", "디자인 리뷰 (3층 회의실)"},
    {"14:00", "김 팀장과 예산 논의"},
    {"16:30", "신규 입사자 면담"},
};
const int loopsInBriefing = 3;
}

QString composeBriefing(const LoopStore &loops)
{
    QStringList lines;
    lines << QStringLiteral("좋은 아침이에요. 오늘의 브리핑입니다.") << QString();
    lines << QStringLiteral("📅 오늘 일정");
    for (const Appointment &a : schedule)
        lines << QStringLiteral("• %1 %2").arg(QLatin1String(a.time), QString::fromUtf8(a.what));
    lines << QString();

    const auto &items = loops.items();
    if (items.isEmpty()) {
        lines << QStringLiteral("✅ 남은 미결이 없어요. 홀가분한 하루예요!");
    } else {
        lines << QStringLiteral("📌 미결 %1건 — 먼저 챙길 것").arg(items.size());
        for (qsizetype i = 0; i < items.size() && i < loopsInBriefing; ++i)
            lines << QStringLiteral("• %1").arg(items[i].title);
    }
    lines << QString();
    lines << QStringLiteral("🕘 어제 맥락");
    lines << QStringLiteral("어제는 예산안 초안을 만들고 디자인 시안 두 개를 비교했어요. "
                            "예산안은 김 팀장님 회신을 기다리는 중이에요.");
    return lines.join(QLatin1Char('\n'));
}

} // namespace Kovel::Demo
