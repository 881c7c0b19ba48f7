#!/usr/bin/python3
# A stand-in for the hand-tracking service's WebSocket server (protocol 6), for the tests.
#
# Usage: /usr/bin/python3 tests/tracker/ws_server.py [--port N] [--file FILE|-] [--protocol N]
#                   [--hold] [--frames N] [--mode websocket|not-websocket|silent|late-handshake]
#                   [--greeting TEXT] [--log FILE]
# Serves ws://127.0.0.1:N/ (any path; N 0: a free port) and prints that address on stdout once it
# listens. Every client first gets {"serviceVersion": "test", "version": N} (--protocol, default 6),
# or TEXT as it is (--greeting).
# --file FILE (a recording, or any file of messages) is streamed to each client once the client has
# said {"focused": true} (and, with --hold, once a line has arrived on stdin), a line per text
# message, lines with a "timestamp" paced by it (microseconds) as the recording was made; the stream
# then stays open and silent, or with --frames N the server is gone, as if killed, after N lines with
# a timestamp. --file - (the default)
# reads stdin instead and sends each line to every connected client at once; the server exits at
# the end of stdin, dropping its clients. Lines starting with '!' are commands:
#   !binary TEXT   TEXT as a binary message      !big      a text message of 70,000 bytes
#   !partial       half a message, then the TCP connection drops
#   !away S        the service is gone for S seconds
#   !freeze        reads nothing more from the clients, so pings go unanswered
#   !answer        late-handshake: lets the handshakes go on
# --mode not-websocket answers every connection with a plain HTTP page; silent accepts and says
# nothing; late-handshake logs "request" when a client's handshake has come and answers it only
# after !answer. --log FILE appends "open" for each client, then every message it sends, a line each.
# Debian's python3-websockets: run it with /usr/bin/python3.
import argparse
import asyncio
import contextlib
import json
import os
import re
import sys

import websockets

clients = set()


async def send(ws, line):
    command, _, arg = line[1:].partition(" ") if line.startswith("!") else ("", "", "")
    if command == "binary":
        await ws.send(arg.encode())
    elif command == "big":
        await ws.send('{"pad": "' + "x" * 69988 + '"}')
    elif command == "partial":  # a text frame announcing 1000 bytes, then the socket is gone
        ws.transport.write(b"\x81\x7e\x03\xe8" + b'{"hands": [')
        ws.transport.abort()
    elif command == "freeze":
        ws.transport.pause_reading()
    else:
        await ws.send(line)


async def stream(ws):
    loop, origin, frames = asyncio.get_running_loop(), None, 0
    await go
    with open(args.file) as f:
        for line in f:
            t = re.search(r'"timestamp": *([0-9.eE+-]+)[,}]', line)  # lines without one go at once
            if t:
                origin = origin or (float(t[1]), loop.time())
                await asyncio.sleep(max(0.0, origin[1] + (float(t[1]) - origin[0]) / 1e6 - loop.time()))
            await send(ws, line.rstrip("\n"))
            frames += bool(t)
            if frames == args.frames:
                os._exit(0)


def log(line):
    open(args.log, "a").write(line + "\n")


async def handler(ws, *_):
    clients.add(ws)
    log("open")
    await ws.send(args.greeting or json.dumps({"serviceVersion": "test", "version": args.protocol}))
    with contextlib.suppress(websockets.ConnectionClosed):
        async for message in ws:
            log(message)
            if args.file != "-" and message.replace(" ", "") == '{"focused":true}':
                asyncio.ensure_future(stream(ws))
    clients.discard(ws)


async def raw(reader, writer):  # not-websocket: a web page; silent: not a byte
    writer.write(b"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nhello\n" if args.mode == "not-websocket" else b"")
    await reader.read()  # until the client goes


async def late(*_):
    log("request")
    await go


async def listen(port):
    if args.mode in ("websocket", "late-handshake"):
        return await websockets.serve(handler, "127.0.0.1", port, ping_interval=None, max_size=None,
                                      process_request=late if args.mode == "late-handshake" else None)
    return await asyncio.start_server(raw, "127.0.0.1", port)


async def main():
    global go
    loop = asyncio.get_running_loop()
    go = loop.create_future()
    server = await listen(args.port)
    port = server.sockets[0].getsockname()[1]
    print(f"ws://127.0.0.1:{port}/v6.json", flush=True)
    if args.file != "-":
        if args.hold:
            await loop.run_in_executor(None, sys.stdin.readline)
        go.set_result(None)
        await asyncio.Future()
    while line := await loop.run_in_executor(None, sys.stdin.readline):
        if line.startswith("!away"):
            server.close()
            await server.wait_closed()
            await asyncio.sleep(float(line[6:]))
            server = await listen(port)
        elif line.startswith("!answer"):
            go.done() or go.set_result(None)
        else:
            await asyncio.gather(*(send(ws, line.rstrip("\n")) for ws in list(clients)), return_exceptions=True)
    os._exit(0)  # gone at once, as a killed service is


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--file", default="-")
    parser.add_argument("--protocol", type=int, default=6)
    parser.add_argument("--hold", action="store_true")
    parser.add_argument("--frames", type=int, default=0)
    parser.add_argument("--mode", choices=["websocket", "not-websocket", "silent", "late-handshake"],
                        default="websocket")
    parser.add_argument("--greeting")
    parser.add_argument("--log", default=os.devnull)
    args = parser.parse_args()
    asyncio.run(main())
