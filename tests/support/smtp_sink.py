"""A real SMTP server on a loopback port for the settings dialog's test mail.

Prints the port it listens on, then stores each received message as <folder>/<n>.eml with the envelope
recipients in <folder>/<n>.rcpt. Runs until killed or until its standard input ends (the test is gone).
"""
import asyncio
import os
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".rcpt", "w") as f:
            f.write(",".join(envelope.rcpt_tos))
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        return "250 OK"


async def main(folder):
    loop = asyncio.get_running_loop()
    sink = Sink(folder)
    server = await loop.create_server(lambda: SMTP(sink), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    ended = asyncio.Event()
    loop.add_reader(sys.stdin.fileno(), lambda: ended.set() if not os.read(sys.stdin.fileno(), 4096) else None)
    await ended.wait()


asyncio.run(main(sys.argv[1]))
