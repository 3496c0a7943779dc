#!/usr/bin/python3
# A slow link in front of a TCP server on 127.0.0.1: every chunk waits DELAY_MS, each way.
# SIGUSR1 turns every connection open at that moment into a black hole (nothing passes either way,
# nothing is closed: a connection after a wake on another network), and then appends a line to
# LOG; later connections work. SIGUSR2 stalls every connection (data is held, nothing is lost:
# Wi-Fi re-associating) until the next SIGUSR2, with a line in LOG each time. Prints the port it
# listens on (a free one for 0) once it listens. With RATE, each way carries at most RATE bytes a
# second.
#     delay-proxy.py LISTEN_PORT TARGET_PORT DELAY_MS LOG [RATE]
import asyncio
import signal
import sys


async def main(listen, target, delay, log, rate):
    loop = asyncio.get_running_loop()
    live, holes = set(), []
    flowing = asyncio.Event()
    flowing.set()

    async def pump(link, reader, writer):
        queue = asyncio.Queue()  # in order; each chunk leaves `delay` after it came

        async def deliver():
            while True:
                due, data = await queue.get()
                await asyncio.sleep(due - loop.time())
                await flowing.wait()
                if link in holes:
                    return
                if not data:
                    return writer.can_write_eof() and writer.write_eof()
                writer.write(data)
                await writer.drain()
                if rate:
                    await asyncio.sleep(len(data) / rate)

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
        link = (down_writer, up_writer)
        live.add(link)
        await asyncio.gather(pump(link, down_reader, up_writer),
                             pump(link, up_reader, down_writer), return_exceptions=True)
        if link in live:
            live.discard(link)
            down_writer.close()
            up_writer.close()

    def black_hole():
        for link in live:
            for writer in link:
                writer.transport.pause_reading()
        holes.extend(live)  # held, so that nothing closes them
        live.clear()
        print("holed", file=log, flush=True)

    def stall():
        if flowing.is_set():
            flowing.clear()
        else:
            flowing.set()
        print("flowing" if flowing.is_set() else "stalled", file=log, flush=True)

    loop.add_signal_handler(signal.SIGUSR1, black_hole)
    loop.add_signal_handler(signal.SIGUSR2, stall)
    server = await asyncio.start_server(serve, "127.0.0.1", listen)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) / 1000,
                     open(sys.argv[4], "a"), int(sys.argv[5]) if len(sys.argv) > 5 else 0))
