#!/usr/bin/python3
"""A real SMTP server for the mail tests, on loopback only: STARTTLS required, AUTH
required after it, some recipients refused. Prints "listening on 127.0.0.1:PORT" once it
accepts, keeps every message it takes in the spool folder (NNNN.eml and NNNN.json with
the envelope), and ends when its standard input closes or its lifetime is over."""
import argparse
import asyncio
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


class Handler:
    def __init__(self, spool, refused, delay):
        self.spool = spool
        self.delay = delay
        self.refused = {a.lower() for a in refused}
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 Caixa postal inexistente"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        await asyncio.sleep(self.delay)
        self.count += 1
        base = os.path.join(self.spool, "%04d" % self.count)
        with open(base + ".eml.part", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".eml.part", base + ".eml")
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "tls": session.ssl is not None or
                       server.transport.get_extra_info("sslcontext") is not None, "authenticated": bool(session.authenticated)}, f)
        return "250 OK guardada"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--spool", required=True)
    p.add_argument("--refuse", action="append", default=[])
    p.add_argument("--delay-ms", type=int, default=0, help="before accepting each message")
    p.add_argument("--implicit-tls", action="store_true", help="TLS from the first byte (smtps)")
    p.add_argument("--lifetime", type=float, default=240)
    a = p.parse_args()

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(a.cert, a.key)
    handler = Handler(a.spool, a.refuse, a.delay_ms / 1000.0)

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login == a.user.encode() and auth_data.password == a.password.encode()
        return AuthResult(success=ok, handled=False)

    def factory():
        if a.implicit_tls:
            # The connection is TLS already: the session must know it to accept AUTH.
            return SMTP(handler, hostname="mail.test", auth_required=True, auth_require_tls=False,
                        authenticator=authenticate)
        return SMTP(handler, hostname="mail.test", tls_context=context, require_starttls=True,
                    auth_required=True, auth_require_tls=True, authenticator=authenticate)

    async def serve():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(factory, host="127.0.0.1", port=0,
                                          ssl=context if a.implicit_tls else None)
        print("listening on 127.0.0.1:%d" % server.sockets[0].getsockname()[1], flush=True)
        closed = loop.create_future()
        loop.add_reader(sys.stdin.fileno(), lambda: closed.done() or
                        (sys.stdin.buffer.read1(4096) or closed.set_result(None)))
        try:
            await asyncio.wait_for(closed, a.lifetime)
        except asyncio.TimeoutError:
            pass
        loop.remove_reader(sys.stdin.fileno())
        server.close()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
