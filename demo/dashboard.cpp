#include "demo/dashboard.h"

#include <QCryptographicHash>
#include <QString>

namespace Kovel::Demo {

namespace {
// The page's style and script are fixed texts, allowed by their hashes: the
// page may run nothing else and load nothing at all.
const char style[] = R"CSS(
  body { font-family: "Noto Sans CJK KR", "Apple SD Gothic Neo", sans-serif; margin: 0; background: #f5f5f7; color: #1d1d1f; }
  main { max-width: 40rem; margin: 2rem auto; padding: 0 1rem; }
  h1 { font-size: 1.5rem; margin-bottom: .25rem; }
  .note { color: #6e6e73; margin-top: 0; }
  section { background: #fff; border-radius: 12px; padding: 1rem 1.25rem; margin: 1rem 0; box-shadow: 0 1px 3px rgba(0,0,0,.08); }
  h2 { font-size: 1.1rem; margin: 0 0 .5rem; }
  ol { margin: 0; padding-left: 1.5rem; }
  li { padding: .2rem 0; }
  button { font: inherit; padding: .5rem 1rem; border: 0; border-radius: 8px; background: #0071e3; color: #fff; cursor: pointer; }
  button:disabled { background: #9bbbe0; }
  #code { font: 600 2rem ui-monospace, monospace; letter-spacing: .3rem; margin: .75rem 0 .25rem; }
)CSS";

const char script[] = R"JS(
document.getElementById('pair').addEventListener('click', async (event) => {
  const button = event.target;
  const code = document.getElementById('code');
  const hint = document.getElementById('hint');
  button.disabled = true;
  try {
    const reply = await fetch('/api/devices/pair-code', { method: 'POST' });
    const body = await reply.json();
    code.textContent = body.code;
    hint.textContent = '이 코드는 ' + Math.round(body.expires_in / 60) + '분 뒤에 만료돼요.';
  } catch (e) {
    code.textContent = '';
    hint.textContent = '코드를 받지 못했어요. 브레인이 실행 중인지 확인하세요.';
  } finally {
    button.disabled = false;
  }
});
)JS";

const char pageTemplate[] = R"HTML(<!doctype html>
<html lang="ko">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Kovel 데모 브레인</title>
<style>%STYLE%</style>
</head>
<body>
<main>
<h1>Kovel 데모 브레인</h1>
<p class="note">예시 기록으로 답하는 데모 서버예요. 실제 기록은 저장하지 않아요.</p>
<section>
<h2>열린 미결 %COUNT%건</h2>
%LOOPS%
</section>
<section>
<h2>기기 연결</h2>
<p>센서 Mac을 연결하려면 코드를 받아 설치 프로그램에 입력하세요. 코드는 %MINUTES%분 동안 한 번만 쓸 수 있어요. 연결된 기기: %PAIRED%대</p>
<button id="pair" type="button">연결 코드 받기</button>
<div id="code" aria-live="polite"></div>
<p id="hint" class="note"></p>
</section>
</main>
<script>%SCRIPT%</script>
</body>
</html>
)HTML";

QByteArray sourceHash(const char *text)
{
    return "'sha256-" + QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Sha256).toBase64() + "'";
}
}

QByteArray dashboardFields()
{
    static const QByteArray fields =
        "Content-Type: text/html; charset=utf-8\r\n"
        "X-Frame-Options: DENY\r\n"
        "Referrer-Policy: no-referrer\r\n"
        "Content-Security-Policy: default-src 'none'; script-src " + sourceHash(script)
        + "; style-src " + sourceHash(style)
        + "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n";
    return fields;
}

QByteArray dashboardPage(const LoopStore &loops, qsizetype pairedDevices, qint64 codeLifetimeMs)
{
    QString list;
    if (loops.items().isEmpty()) {
        list = QStringLiteral("<p>남은 미결이 없어요.</p>");
    } else {
        list = QStringLiteral("<ol>\n");
        for (const auto &loop : loops.items())
            list += QStringLiteral("<li>%1</li>\n").arg(loop.title.toHtmlEscaped());
        list += QStringLiteral("</ol>");
    }
    QString page = QString::fromUtf8(pageTemplate);
    page.replace(QLatin1String("%STYLE%"), QString::fromUtf8(style))
        .replace(QLatin1String("%SCRIPT%"), QString::fromUtf8(script));
    // The list goes in last, so nothing in a title is taken for a placeholder.
    page.replace(QLatin1String("%COUNT%"), QString::number(loops.items().size()))
        .replace(QLatin1String("%MINUTES%"), QString::number(qMax<qint64>(1, codeLifetimeMs / 60000)))
        .replace(QLatin1String("%PAIRED%"), QString::number(pairedDevices))
        .replace(QLatin1String("%LOOPS%"), list);
    return page.toUtf8();
}

} // namespace Kovel::Demo
