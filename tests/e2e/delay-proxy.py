#!/usr/bin/python3
# A slow link in front of a TCP server on 127.0.0.1: every chunk waits DELAY_MS, each way.
# SIGUSR1 turns every connection open at that moment into a black hole (nothing passes either way,
# nothing is closed: a connection after a wake on another network); later ones work. Prints the
# port it listens on (LISTEN_PORT, or a free one for 0) once it listens. With LOG, a line per chunk
# passed on: wall-clock seconds, connection, direction (> to the server), bytes; and a line
# "- holed N" once a black hole has taken its N connections.
#     delay-proxy.py LISTEN_PORT TARGET_PORT DELAY_MS [LOG]
import asyncio
import itertools
import signal
import sys
import time


class Link:
    numbers = itertools.count()

    def __init__(self, *ends):
        self.number, self.ends, self.holed = next(Link.numbers), ends, False


async def main(listen, target, delay, log):
    loop = asyncio.get_running_loop()
    live, holes = set(), []

    def note(number, what, size=0):
        if log:
            print(f"{time.time():.6f} {number} {what} {size}", file=log, flush=True)

    async def pump(link, reader, writer, way):
        queue = asyncio.Queue()  # in order; each chunk leaves `delay` after it came

        async def deliver():
            while (chunk := await queue.get())[1]:
                await asyncio.sleep(chunk[0] - loop.time())
                if link.holed:
                    return
                note(link.number, way, len(chunk[1]))
                writer.write(chunk[1])
                await writer.drain()
            await asyncio.sleep(chunk[0] - loop.time())
            if not link.holed and writer.can_write_eof():
                writer.write_eof()

        sender = asyncio.create_task(deliver())
        try:
            while data := await reader.read(1 << 16):
                queue.put_nowait((loop.time() + delay, data))
        finally:
            queue.put_nowait((loop.time() + delay, b""))
            await sender

    async def serve(down_reader, down_writer):
        try:
            up_reader, up_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            return down_writer.close()
        link = Link(down_writer, up_writer)
        live.add(link)
        note(link.number, "open")
        await asyncio.gather(pump(link, down_reader, up_writer, ">"),
                             pump(link, up_reader, down_writer, "<"), return_exceptions=True)
        if not link.holed:
            live.discard(link)
            down_writer.close()
            up_writer.close()

    def black_hole():
        for link in live:
            link.holed = True
            for writer in link.ends:
                writer.transport.pause_reading()
        note("-", "holed", len(live))  # the end of each black hole's work, whatever it took
        holes.extend(live)  # held, so that nothing closes them
        live.clear()

    loop.add_signal_handler(signal.SIGUSR1, black_hole)
    server = await asyncio.start_server(serve, "127.0.0.1", listen)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    log = open(sys.argv[4], "a") if len(sys.argv) > 4 else None
    asyncio.run(main(int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) / 1000, log))
