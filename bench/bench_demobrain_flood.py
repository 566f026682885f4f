#!/usr/bin/env python3
"""How long a good client waits for the demo brain while another local
program floods it with questions: 300 connections, each with 40 chat
requests pipelined, connecting again whenever it is let go. The good client
asks 40 times for the open loops and 4 times a question, one after the
other, each on a new connection, as a fresh client would; the same client
on the quiet brain is the reference, in the same run. Every run's figure is
printed with min/median/max.

Usage: bench_demobrain_flood.py PATH_TO_KOVEL_DEMO_BRAIN [RUNS]
Prints ROW lines as the other benchmarks do; details go to stderr.
The flood runs in a child process of this script (--flood PORT).
"""
import asyncio
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import time

CONNECTIONS = 300
PIPELINED = 40
LOOPS_ASKS = 40
CHAT_ASKS = 4
TARGET_MS = 1000
THINK_MS = 1500   # the brain's default chat delay: a question's answer takes this long by design


def chat_request(port):
    body = json.dumps({"message": "치과"}, ensure_ascii=False).encode()
    return (f"POST /api/chat HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Type: application/json\r\n"
            f"Content-Length: {len(body)}\r\n\r\n").encode() + body


async def hog(port, requests, stop):
    """Keeps one connection open whatever the server does."""
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", port)
            writer.write(requests)
            await writer.drain()
            while await reader.read(65536):
                pass
            writer.close()
        except OSError:
            await asyncio.sleep(0.01)


async def flood(port):
    stop = asyncio.Event()
    requests = chat_request(port) * PIPELINED
    tasks = [asyncio.create_task(hog(port, requests, stop)) for _ in range(CONNECTIONS)]
    print("flooding", flush=True)
    # Until the parent closes our input.
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)
    stop.set()
    for t in tasks:
        t.cancel()


def exchange(port, request, timeout):
    """The status and the time in ms until the whole reply is in; status 0 for none."""
    start = time.perf_counter()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.settimeout(timeout)
            s.sendall(request)
            data = b""
            while b"\r\n\r\n" not in data:
                got = s.recv(65536)
                if not got:
                    return 0, (time.perf_counter() - start) * 1000
                data += got
            head, _, body = data.partition(b"\r\n\r\n")
            length = int(re.search(rb"(?im)^content-length:\s*(\d+)", head).group(1))
            while len(body) < length:
                got = s.recv(65536)
                if not got:
                    return 0, (time.perf_counter() - start) * 1000
                body += got
            return int(head.split(b" ", 2)[1]), (time.perf_counter() - start) * 1000
    except OSError:
        return 0, (time.perf_counter() - start) * 1000


def good_client(port):
    loops = f"GET /api/structured/open-loops HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode()
    waits, answered, chats = [], 0, []
    for _ in range(LOOPS_ASKS):
        status, ms = exchange(port, loops, 25)
        waits.append(ms)
        answered += status == 200
    for _ in range(CHAT_ASKS):
        chats.append(exchange(port, chat_request(port), 25))
    return waits, answered, chats


def start_brain(program):
    process = subprocess.Popen([program, "--port", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    line = process.stdout.readline()
    if not line.strip().isdigit():
        process.kill()
        sys.exit(f"{program} did not start")
    return process, int(line)


def summary(values, unit="ms"):
    runs = ", ".join(f"{v:.0f}" for v in values)
    return (f"{min(values):.0f} / {statistics.median(values):.0f} / {max(values):.0f} {unit} "
            f"(min/median/max; runs {runs})")


def main():
    if sys.argv[1] == "--flood":
        asyncio.run(flood(int(sys.argv[2])))
        return
    program = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    worst = {"quiet": [], "flood": []}
    chat_worst = {"quiet": [], "flood": []}
    answered = {"quiet": [], "flood": []}
    refused = []
    for run in range(runs):
        for mode in (("quiet", "flood") if run % 2 == 0 else ("flood", "quiet")):
            brain, port = start_brain(program)
            flooder = None
            try:
                if mode == "flood":
                    flooder = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--flood", str(port)],
                                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                    flooder.stdout.readline()
                    # Settled: the brain has let those beyond its bound go at least once.
                    deadline = time.monotonic() + 30
                    while exchange(port, chat_request(port), 5)[0] == 200 and time.monotonic() < deadline:
                        pass
                waits, ok, chats = good_client(port)
            finally:
                if flooder:
                    flooder.stdin.close()
                    flooder.wait()
                brain.terminate()
                brain.wait()
            worst[mode].append(max(waits))
            answered[mode].append(ok + sum(1 for status, _ in chats if status in (200, 503)))
            # A question's own think time is the brain's design, not a wait.
            chat_worst[mode].append(max(ms - (THINK_MS if status == 200 else 0) for status, ms in chats))
            if mode == "flood":
                refused.append(sum(1 for status, _ in chats if status == 503))
            print(f"run {run + 1}, {mode}: loops worst {max(waits):.0f} ms, median {statistics.median(waits):.0f} ms; "
                  f"questions {[(s, round(ms)) for s, ms in chats]}", file=sys.stderr)
    label = f"demo brain, {CONNECTIONS} connections × {PIPELINED} questions"
    total = LOOPS_ASKS + CHAT_ASKS
    print(f"ROW\t{label}\tgood client answered, of {total}, under the flood\t"
          f"{min(answered['flood'])} (runs {', '.join(map(str, answered['flood']))})\t{total}\t"
          f"{'yes' if min(answered['flood']) == total else 'NO'}")
    print(f"ROW\t{label}\tgood client's longest wait for the loops, under the flood\t{summary(worst['flood'])}\t"
          f"≤ {TARGET_MS} ms\t{'yes' if max(worst['flood']) <= TARGET_MS else 'NO'}")
    print(f"ROW\t{label}\tthe same, quiet brain (reference)\t{summary(worst['quiet'])}\t-\t-")
    print(f"ROW\t{label}\tgood client's longest wait for a question beyond its think time, under the flood\t"
          f"{summary(chat_worst['flood'])}; refused {', '.join(map(str, refused))} of {CHAT_ASKS}\t"
          f"≤ {TARGET_MS} ms\t{'yes' if max(chat_worst['flood']) <= TARGET_MS else 'NO'}")
    print(f"ROW\t{label}\tthe same, quiet brain (reference)\t{summary(chat_worst['quiet'])}\t-\t-")


if __name__ == "__main__":
    main()
