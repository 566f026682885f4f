#!/usr/bin/env python3
"""Random mutations of valid requests against the demo brain: byte flips,
truncations, splices, repeated header fields, huge and malformed numbers,
bytes put in and taken out, pipelined copies, and each sent in pieces, then
the sending side shut, the connection reset, or left open. A fixed seed, so
every run sends the same cases.

Fails when the brain dies, stops answering a plain request, answers with
something that is not HTTP, does not stop cleanly on SIGTERM, or when a
sanitizer (in a build with -fsanitize) reports anything.

Usage: tst_demofuzz.py PATH_TO_KOVEL_DEMO_BRAIN [--cases N] [--seed S]
"""
import argparse
import asyncio
import glob
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile

CONCURRENT = 128
CASE_SECONDS = 1.5       # a case the brain has not closed by then is closed by us
HEALTH_EVERY = 500


def valid_requests(port):
    host = f"Host: 127.0.0.1:{port}\r\n"
    json_type = "Content-Type: application/json\r\n"

    def post(path, body, extra=""):
        data = body.encode()
        return (f"POST {path} HTTP/1.1\r\n{host}{json_type}{extra}Content-Length: {len(data)}\r\n\r\n").encode() + data

    return [
        f"GET /api/structured/open-loops HTTP/1.1\r\n{host}\r\n".encode(),
        f"GET /api/structured/briefing HTTP/1.1\r\n{host}Accept: application/json\r\n\r\n".encode(),
        f"GET / HTTP/1.1\r\n{host}\r\n".encode(),
        f"HEAD / HTTP/1.1\r\n{host}\r\n".encode(),
        f"OPTIONS / HTTP/1.1\r\n{host}\r\n".encode(),
        f"GET /api/structured/open-loops?x=1 HTTP/1.0\r\n{host}Connection: keep-alive\r\n\r\n".encode(),
        f"GET /api/structured/briefing HTTP/1.1\r\n{host}Connection: close\r\n\r\n".encode(),
        post("/api/chat", '{"message":"치과 예약은 언제지?"}'),
        post("/api/chat", '{"message":"예산"}', "Expect: 100-continue\r\n"),
        post("/api/chat", '{"message":"회의"}', f"Origin: http://127.0.0.1:{port}\r\n"),
        f"POST /api/devices/pair-code HTTP/1.1\r\n{host}Content-Length: 0\r\n\r\n".encode(),
        post("/api/devices/pair", '{"code":"ABCDEF","name":"Jinsu-MacBook-Pro.local","device_type":"mac"}'),
        f"POST /api/structured/open-loops/loop-03/close HTTP/1.1\r\n{host}\r\n".encode(),
        f"POST /api/structured/open-loops/loop%2007/close HTTP/1.1\r\n{host}Origin: http://localhost:{port}\r\n\r\n".encode(),
    ]


NUMBERS = [b"0", b"-1", b"+5", b"1e9", b"0x10", b"4294967296", b"9223372036854775807",
           b"9223372036854775808", b"18446744073709551616", b"99999999999999999999999999999",
           b"65536", b"65537", b",", b" , ", b"20, 20", b"20, 21", b"", b"\t7\t"]
FIELDS = [b"Transfer-Encoding: chunked", b"Content-Length: 3", b"Content-Length: 99999999999999999999",
          b"Host: attacker.example", b"Host: [::1]", b"Expect: 100-continue", b"Connection: close",
          b"Connection: keep-alive", b"Origin: null", b"Origin: http://attacker.example",
          b"Content-Type: text/plain", b"X-" + b"a" * 9000 + b": b", b"Content-Length: ,"]
JUNK = [b"\r\n", b"\n", b"\r", b"\x00", b" ", b"\t", b":", b",", b"\xff\xfe", b"\xed\xa0\x80", b"%00", b"HTTP/1.1"]


def mutate(rng, data, corpus):
    data = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        kind = rng.randrange(9)
        if kind == 0 and data:  # byte flips
            for _ in range(rng.randint(1, 8)):
                i = rng.randrange(len(data))
                data[i] = rng.randrange(256) if rng.random() < 0.5 else data[i] ^ (1 << rng.randrange(8))
        elif kind == 1 and data:  # truncation
            del data[rng.randrange(len(data)):]
        elif kind == 2:  # splice with another valid request
            other = rng.choice(corpus)
            data = data[:rng.randint(0, len(data))] + other[rng.randint(0, len(other)):]
        elif kind == 3:  # a header field repeated
            lines = bytes(data).split(b"\r\n")
            if len(lines) > 2:
                i = rng.randrange(1, len(lines) - 1)
                lines[i:i + 1] = [lines[i]] * rng.choice([2, 3, 50, 101, 400])
                data = bytearray(b"\r\n".join(lines))
        elif kind == 4:  # a number replaced by a huge or malformed one
            digits = [i for i, c in enumerate(data) if 48 <= c <= 57]
            if digits:
                i = rng.choice(digits)
                j = i
                while j < len(data) and 48 <= data[j] <= 57:
                    j += 1
                while i > 0 and 48 <= data[i - 1] <= 57:
                    i -= 1
                data[i:j] = rng.choice(NUMBERS)
        elif kind == 5:  # a field put in after the request line
            at = data.find(b"\r\n")
            if at >= 0:
                data[at + 2:at + 2] = rng.choice(FIELDS) + b"\r\n"
        elif kind == 6:  # junk put in
            i = rng.randint(0, len(data))
            data[i:i] = rng.choice(JUNK) * rng.randint(1, 4)
        elif kind == 7 and data:  # a piece taken out
            i = rng.randrange(len(data))
            del data[i:i + rng.randint(1, 16)]
        elif kind == 8:  # pipelined after another
            data = bytearray(rng.choice(corpus)) + data if rng.random() < 0.5 else data + bytearray(rng.choice(corpus))
    return bytes(data)


def make_case(rng, corpus):
    data = mutate(rng, rng.choice(corpus), corpus) if rng.random() < 0.9 else rng.choice(corpus)
    pieces = []
    i = 0
    split = rng.random() < 0.5
    while i < len(data):
        n = rng.randint(1, 64) if split else len(data)
        pieces.append(data[i:i + n])
        i += n
    end = rng.choices(["open", "half-close", "reset"], [6, 3, 1])[0]
    return pieces, end


async def run_case(port, pieces, end):
    """Sends one case; returns what the brain sent back."""
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    got = b""
    try:
        for piece in pieces:
            writer.write(piece)
            await writer.drain()
            if len(pieces) > 1:
                await asyncio.sleep(0)  # let the brain read each piece on its own
        if end == "reset":
            sock = writer.get_extra_info("socket")
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            writer.transport.abort()
            return got
        if end == "half-close":
            writer.write_eof()

        async def read_all():
            nonlocal got
            while True:
                chunk = await reader.read(65536)
                if not chunk:
                    return
                got += chunk

        try:
            await asyncio.wait_for(read_all(), CASE_SECONDS)
        except asyncio.TimeoutError:
            pass
    except (ConnectionError, OSError):
        pass
    finally:
        writer.transport.abort()
    return got


async def healthy(port):
    """A plain request on a new connection is answered with 200."""
    request = f"GET /api/structured/open-loops HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n\r\n"
    try:
        reader, writer = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", port), 10)
        writer.write(request.encode())
        reply = await asyncio.wait_for(reader.read(), 10)
        writer.close()
        return reply.startswith(b"HTTP/1.1 200 ")
    except (OSError, asyncio.TimeoutError):
        return False


async def fuzz(port, brain, cases, seed):
    rng = random.Random(seed)
    corpus = valid_requests(port)
    all_cases = [make_case(rng, corpus) for _ in range(cases)]
    failures = []
    gate = asyncio.Semaphore(CONCURRENT)

    async def one(index, case):
        async with gate:
            try:
                got = await run_case(port, *case)
            except (ConnectionError, OSError) as error:
                # A refused connection means the brain is gone (told once, below);
                # anything else is the case's own doing.
                if isinstance(error, ConnectionRefusedError) and brain.poll() is None:
                    failures.append(f"case {index}: {error!r}")
                return
            if got and not got.startswith(b"HTTP/1.1 "):
                failures.append(f"case {index}: not HTTP: {got[:80]!r}")

    for start in range(0, cases, HEALTH_EVERY):
        batch = all_cases[start:start + HEALTH_EVERY]
        await asyncio.gather(*(one(start + i, c) for i, c in enumerate(batch)))
        if brain.poll() is not None:
            failures.append(f"the brain ended with status {brain.returncode} by case {start + len(batch)}")
            break
        if not await healthy(port):
            failures.append(f"the brain stopped answering by case {start + len(batch)}")
            break
        print(f"{start + len(batch)} cases", flush=True)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("brain")
    parser.add_argument("--cases", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args()

    reports = tempfile.mkdtemp(prefix="demofuzz-")
    environment = dict(os.environ)
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
        kept = environment.get(name, "")
        environment[name] = (kept + ":" if kept else "") + f"log_path={reports}/{name.split('_')[0].lower()}"
    stderr_path = os.path.join(reports, "stderr")
    with open(stderr_path, "wb") as stderr:
        # Short waits, so cases end quickly and the held answers and pairing turns are exercised.
        brain = subprocess.Popen([args.brain, "--port", "0", "--chat-delay-ms", "20", "--idle-timeout-ms", "300",
                                  "--pair-guess-wait-ms", "5"],
                                 stdout=subprocess.PIPE, stderr=stderr, env=environment)
    line = brain.stdout.readline()
    if not line.strip().isdigit():
        brain.kill()
        sys.exit(f"the brain did not start: {line!r}")
    port = int(line)

    failures = asyncio.run(fuzz(port, brain, args.cases, args.seed))
    if brain.poll() is None:
        brain.send_signal(signal.SIGTERM)
        try:
            if brain.wait(60) != 0:
                failures.append(f"the brain ended with status {brain.returncode} on SIGTERM")
        except subprocess.TimeoutExpired:
            brain.kill()
            failures.append("the brain did not end on SIGTERM")
    # The sanitizers' own words first: they say what went wrong.
    for path in sorted(glob.glob(os.path.join(reports, "*")), reverse=True):
        with open(path, "rb") as f:
            text = f.read().decode(errors="replace")
        if path == stderr_path:
            text = "\n".join(l for l in text.splitlines() if "Sanitizer" in l or "runtime error" in l)
        if text.strip():
            failures.insert(0, f"{os.path.basename(path)}:\n{text}")
    if failures:
        print("\n".join(failures[:20]), file=sys.stderr)
        sys.exit(f"FAIL: {len(failures)} problem(s) in {args.cases} cases, seed {args.seed}; the brain's output in {reports}")
    shutil.rmtree(reports)
    print(f"PASS: {args.cases} cases, seed {args.seed}")


if __name__ == "__main__":
    main()
