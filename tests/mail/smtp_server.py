"""A real SMTP server for the mail tests: STARTTLS with a certificate made on the spot, AUTH PLAIN,
LOGIN and CRAM-MD5, listening on a free loopback port. Prints the port, then writes every received
message, parsed with Python's email package, as JSON into the output folder. Ends when stdin closes."""
import argparse
import asyncio
import email
import email.policy
import hashlib
import hmac
import json
import os
import secrets
import ssl
import subprocess
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, MISSING


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--outdir", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--mechs", default="PLAIN,LOGIN,CRAM-MD5", help="mechanisms offered")
    args = parser.parse_args()

    cert = os.path.join(args.outdir, "cert.pem")
    key = os.path.join(args.outdir, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "1", "-subj", "/CN=localhost"], check=True, capture_output=True)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    user = args.user.encode()
    password = args.password.encode()
    offered = set(args.mechs.split(","))
    counter = [0]

    def authenticator(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            ok = auth_data.login == user and auth_data.password == password
        else:
            ok = auth_data == user
        return AuthResult(success=ok, handled=False, auth_data=mechanism if ok else None)

    class Handler:
        async def auth_CRAM__MD5(self, server, args_):
            challenge = f"<{secrets.token_hex(8)}@localhost>".encode()
            answer = await server.challenge_auth(challenge)
            if answer is MISSING:
                return AuthResult(success=False)
            login, _, digest = answer.partition(b" ")
            expected = hmac.new(password, challenge, hashlib.md5).hexdigest().encode()
            ok = login == user and hmac.compare_digest(digest, expected)
            return AuthResult(success=ok, handled=False, auth_data="CRAM-MD5" if ok else None)

        async def handle_DATA(self, server, session, envelope):
            raw = envelope.original_content or envelope.content
            msg = email.message_from_bytes(raw, policy=email.policy.default)
            body = msg.get_body(("html",))
            record = {
                "mail_from": envelope.mail_from,
                "mail_options": envelope.mail_options,
                "rcpt_tos": envelope.rcpt_tos,
                "tls": session.ssl is not None,
                "auth": session.auth_data,
                "from": str(msg["from"]),
                "to": str(msg["to"]),
                "subject": str(msg["subject"]),
                "content_type": msg.get_content_type(),
                "charset": msg.get_content_charset(),
                "transfer_encoding": msg["content-transfer-encoding"],
                "html": body.get_content() if body is not None else None,
                "raw": raw.decode("ascii", "replace"),
            }
            counter[0] += 1
            path = os.path.join(args.outdir, f"mail-{counter[0]}.json")
            with open(path + ".tmp", "w", encoding="utf-8") as f:
                json.dump(record, f, ensure_ascii=False)
            os.replace(path + ".tmp", path)
            return "250 OK"

    handler = Handler()
    excluded = [m for m in ("PLAIN", "LOGIN", "CRAM-MD5") if m not in offered]

    def factory():
        return SMTP(handler, hostname="localhost", tls_context=context, require_starttls=True,
                    authenticator=authenticator, auth_required=True, auth_require_tls=True,
                    auth_exclude_mechanism=excluded)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", 0))
    print(server.sockets[0].getsockname()[1], flush=True)

    def wait_for_stdin():
        sys.stdin.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=wait_for_stdin, daemon=True).start()
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    main()
