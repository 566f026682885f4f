#!/usr/bin/env python3
"""Requests per second of the demo brain against a minimal asyncio server
that sends the very same reply (bench_demobrain_reference.py), with 1 and
with 50 clients kept alive, measured by wrk. Runs alternate between the two
servers; every run's figure is printed with min/median/max.

Usage: bench_demobrain.py PATH_TO_KOVEL_DEMO_BRAIN [RUNS] [SECONDS]
Prints ROW lines as the other benchmarks do; details go to stderr.
"""
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile

PATH = "/api/structured/open-loops"
TARGET = 0.8


def start(command):
    """Starts a server that prints its port as its first line."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    line = process.stdout.readline()
    if not line.strip().isdigit():
        process.kill()
        sys.exit(f"{command[0]} did not start")
    return process, int(line)


def reply_bytes(port):
    """The brain's whole reply to the measured request, as a kept-alive client gets it."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(f"GET {PATH} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        data = b""
        while b"\r\n\r\n" not in data:
            data += s.recv(65536)
        head, _, body = data.partition(b"\r\n\r\n")
        length = int(re.search(rb"(?im)^content-length:\s*(\d+)", head).group(1))
        while len(body) < length:
            body += s.recv(65536)
        return head + b"\r\n\r\n" + body[:length]


def wrk(port, clients, seconds):
    threads = 1 if clients == 1 else 2
    out = subprocess.run(["wrk", f"-t{threads}", f"-c{clients}", f"-d{seconds}s",
                          f"http://127.0.0.1:{port}{PATH}"],
                         capture_output=True, text=True, check=True).stdout
    if re.search(r"Non-2xx|Socket errors", out):
        sys.exit("wrk saw errors:\n" + out)
    return float(re.search(r"Requests/sec:\s*([\d.]+)", out).group(1))


def summary(values):
    runs = ", ".join(f"{v:.0f}" for v in values)
    return (f"{min(values):.0f} / {statistics.median(values):.0f} / {max(values):.0f} req/s "
            f"(min/median/max; runs {runs})")


def main():
    brain_program = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    here = os.path.dirname(os.path.abspath(__file__))

    brain, brain_port = start([brain_program, "--port", "0"])
    with tempfile.NamedTemporaryFile(prefix="demobrain-reply-", delete=False) as f:
        f.write(reply_bytes(brain_port))
        reply_file = f.name
    reference, reference_port = start([sys.executable, os.path.join(here, "bench_demobrain_reference.py"), reply_file])
    try:
        for clients in (1, 50):
            figures = {"brain": [], "reference": []}
            for run in range(runs):
                # Alternate which goes first, so a drift in the machine's load
                # falls on both alike.
                order = [("brain", brain_port), ("reference", reference_port)]
                if run % 2:
                    order.reverse()
                for name, port in order:
                    figures[name].append(wrk(port, clients, seconds))
                    print(f"{clients} clients, {name}: {figures[name][-1]:.0f} req/s", file=sys.stderr)
            label = f"demo brain, {clients} client{'s' if clients > 1 else ''}"
            ratio = statistics.median(figures["brain"]) / statistics.median(figures["reference"])
            print(f"ROW\t{label}\trequests/s, demo brain\t{summary(figures['brain'])}\t-\t-")
            print(f"ROW\t{label}\trequests/s, asyncio reference\t{summary(figures['reference'])}\t-\t-")
            print(f"ROW\t{label}\tratio of medians vs asyncio\t{ratio:.2f}×\t≥ {TARGET}×\t"
                  f"{'yes' if ratio >= TARGET else 'NO'}")
    finally:
        for process in (brain, reference):
            process.terminate()
            process.wait()
        os.unlink(reply_file)


if __name__ == "__main__":
    main()
