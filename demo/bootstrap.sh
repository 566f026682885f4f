#!/bin/bash
# Sample setup script shipped in the installer's bundle: makes sure a brain
# answers on 127.0.0.1, starting the bundled demo brain when none is there.
#
# Inputs (set by the installer):
#   KOVEL_ROLE       "all-in-one" or "server"
#   KOVEL_ENGINE     "ollama" or "subscription" (the demo brain answers from
#                    sample notes whichever is chosen)
#   KOVEL_AUTOSTART  "1": start the brain now. Anything else: check only, and
#                    say how to start it.
#   KOVEL_BRAIN_PORT port to check and serve on, default 8900. Only for tests,
#                    so they never meet a real brain; the installer opens
#                    the dashboard on 8900.
#
# Exit status: 0 a brain answers; 6 the brain did not start; 7 the port is
# held by something that is not a brain; 1 bad input.
#
# Writes only under the user's home: the brain's log and pid file in
# ~/.local/state/kovel. Uses bash builtins for HTTP (curl may be missing).
# Kept to what macOS's bash 3.2 understands.

set -u

role="${KOVEL_ROLE:-all-in-one}"
engine="${KOVEL_ENGINE:-ollama}"
autostart="${KOVEL_AUTOSTART:-}"
port="${KOVEL_BRAIN_PORT:-8900}"

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
brain="$here/brain/kovel-demo-brain"
state_dir="${HOME:?}/.local/state/kovel"
log_file="$state_dir/demo-brain.log"
pid_file="$state_dir/demo-brain.pid"
address="http://127.0.0.1:$port"

say() { printf '%s\n' "$*"; }

case "$role" in
    all-in-one) say "역할: 올인원 (브레인 + 센서)" ;;
    server) say "역할: 브레인 서버 전용" ;;
    *) say "알 수 없는 역할이에요: $role"; exit 1 ;;
esac
case "$engine" in
    ollama) say "AI 엔진: 로컬 엔진 (Ollama) — 데모 브레인은 예시 기록으로 답해요" ;;
    subscription) say "AI 엔진: 내 AI 구독 — 데모 브레인은 예시 기록으로 답해요" ;;
    *) say "알 수 없는 AI 엔진이에요: $engine"; exit 1 ;;
esac
case "$port" in
    ''|*[!0-9]*) say "포트 값이 올바르지 않아요: $port"; exit 1 ;;
esac

# 0: a brain answers; 1: nothing listens; 2: something else listens.
probe() {
    exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
    printf 'GET /api/structured/open-loops HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$port" >&3
    local line status="" length=0 body=""
    # Byte counts, not characters, whatever the user's locale.
    local LC_ALL=C
    if ! IFS= read -r -t 2 status <&3; then
        exec 3<&-
        return 2   # accepts connections but does not speak HTTP
    fi
    while IFS= read -r -t 2 line <&3; do
        line="${line%$'\r'}"
        [ -z "$line" ] && break
        case "$line" in
            [Cc]ontent-[Ll]ength:*) length="${line#*:}"; length="${length// /}" ;;
        esac
    done
    case "$length" in ''|*[!0-9]*) length=0 ;; esac
    [ "$length" -gt 4096 ] && length=4096
    [ "$length" -gt 0 ] && IFS= read -r -t 2 -n "$length" body <&3
    exec 3<&-
    case "$status" in HTTP/1.?\ 200*) ;; *) return 2 ;; esac
    case "$body" in *'"loops"'*|*'"open_loops"'*) return 0 ;; esac
    return 2
}

say "포트 $port 확인 중…"
probe 2>/dev/null
case $? in
    0)
        say "이미 브레인이 $address 에서 응답하고 있어요. 그대로 사용할게요."
        say "설정이 끝났어요."
        exit 0 ;;
    2)
        say "⚠️ 포트 $port 를 브레인이 아닌 다른 프로그램이 쓰고 있어요."
        exit 7 ;;
esac

if [ ! -x "$brain" ]; then
    say "⚠️ 데모 브레인을 찾을 수 없어요: $brain"
    exit 6
fi

if [ "$autostart" != "1" ]; then
    say "자동 시작이 꺼져 있어 브레인을 시작하지 않았어요. 직접 시작하려면:"
    say "  \"$brain\" --port $port"
    exit 0
fi

mkdir -p "$state_dir" || { say "⚠️ 기록 폴더를 만들 수 없어요: $state_dir"; exit 6; }
say "데모 브레인을 시작해요… (기록: $log_file)"
# Detached from this script: its own session, no terminal, none of our pipes
# (the installer reads our output until every writer has closed it).
if command -v setsid >/dev/null 2>&1; then
    setsid nohup "$brain" --port "$port" </dev/null >>"$log_file" 2>&1 &
else
    nohup "$brain" --port "$port" </dev/null >>"$log_file" 2>&1 &
fi
pid=$!
printf '%s\n' "$pid" >"$pid_file"

# Bounded wait: about five seconds.
tries=0
while [ $tries -lt 25 ]; do
    if probe 2>/dev/null; then
        say "데모 브레인이 응답해요: $address/"
        say "설정이 끝났어요."
        exit 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        break
    fi
    tries=$((tries + 1))
    sleep 0.2
done

say "⚠️ 데모 브레인이 제시간에 응답하지 않았어요. 기록을 확인하세요: $log_file"
kill "$pid" 2>/dev/null
rm -f "$pid_file"
exit 6
