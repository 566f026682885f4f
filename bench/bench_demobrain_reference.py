#!/usr/bin/env python3
"""The reference for the demo brain's request rate: a minimal asyncio HTTP
server that answers every request with the same bytes, the demo brain's own
reply to the request measured (status line, header fields and body, as read
from the file given). Keep-alive, HTTP/1.1 only, no checks: the least work a
server can do per request in Python's standard library.

Usage: bench_demobrain_reference.py REPLY_FILE  (prints its port, then serves)
"""
import asyncio
import sys


class Answer(asyncio.Protocol):
    reply = b""

    def connection_made(self, transport):
        self.transport = transport
        self.pending = b""

    def data_received(self, data):
        self.pending += data
        while True:
            end = self.pending.find(b"\r\n\r\n")
            if end < 0:
                return
            self.pending = self.pending[end + 4:]
            self.transport.write(self.reply)


async def main():
    with open(sys.argv[1], "rb") as f:
        Answer.reply = f.read()
    loop = asyncio.get_running_loop()
    server = await loop.create_server(Answer, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
