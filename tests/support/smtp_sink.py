"""A mail sink for Tegalo's send tests: an SMTP server (aiosmtpd, Debian
package python3-aiosmtpd) on 127.0.0.1 that keeps every message it is sent.

    python3 smtp_sink.py OUTDIR [--cert PEM --key PEM] [--tls starttls|smtps]
                                [--auth USER:PASSWORD [--auth-in-clear]] [--light]

Prints "PORT <n>" once it listens on a free port, and runs until SIGTERM.

With --tls starttls it offers STARTTLS and takes no mail before it; with
--tls smtps it speaks TLS from the start. With --auth it takes mail only
after a login (PLAIN or LOGIN) as that user, and offers the login only
inside TLS unless --auth-in-clear. Logins are logged as "AUTH <user> ok"
or "AUTH <user> refused", the handshake as "STARTTLS".

Every command it is given goes into OUTDIR/commands.log, one a line. Every
message whose data arrived goes into its own directory OUTDIR/NNN:
    helo, mail_from, rcpt_tos (one a line), data (the raw message, after
    the dots were unstuffed), answer (the reply it was given);
and, decoded with Python's email package and codecs (UTF-8 out):
    subject, from_name, from_address, to, cc, text (the text part),
    part<N>.name and part<N>.data for each attachment (N from 1).
A failure to decode goes into decode_error; the answer is not changed.

With --light (for benchmarks) it answers every message 250 and keeps
nothing: no log, no directory per message, so that its own work per
message is small and the same for every client timed against it.

The recipient's local part chooses how a message is answered:
    refuse-rcpt...      550 to its RCPT TO
    refuse-data...      554 to DATA
    refuse-message...   554 to the message text
    close-after-data... the connection is closed after the message text,
                        without an answer
    anything else       250
"""

import argparse
import asyncio
import email
import email.header
import email.policy
import email.utils
import os
import signal
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def recipient_starts(envelope, prefix):
    return any(address.lower().startswith(prefix) for address in envelope.rcpt_tos)


def decode_words(value):
    if value is None:
        return ""
    return str(email.header.make_header(email.header.decode_header(value)))


def decode_jis(raw):
    return raw.decode("iso-2022-jp")


def write(directory, name, content):
    with open(os.path.join(directory, name), "wb") as f:
        f.write(content if isinstance(content, bytes) else content.encode("utf-8"))


def decode_message(directory, data):
    msg = email.message_from_bytes(data, policy=email.policy.compat32)
    write(directory, "subject", decode_words(msg["Subject"]))
    name, address = email.utils.parseaddr(decode_words(msg["From"]))
    write(directory, "from_name", name)
    write(directory, "from_address", address)
    write(directory, "to", decode_words(msg["To"]))
    write(directory, "cc", decode_words(msg["Cc"]))
    if not msg.is_multipart():
        write(directory, "text", decode_jis(msg.get_payload(decode=True)))
        return
    # Each attachment part ends with a delimiter line and the next one starts
    # with another, so empty parts without headers stand between them.
    parts = [p for p in msg.get_payload() if p.keys() or p.get_payload().strip()]
    write(directory, "text", decode_jis(parts[0].get_payload(decode=True)))
    for n, part in enumerate(parts[1:], start=1):
        # filename*= (RFC 2231) first, as readers do; then name=, whose
        # value may be encoded words or raw ISO-2022-JP.
        name = part.get_filename()
        if name is None or "=?" in name:
            raw_name = part.get_param("name") or ""
            name = decode_words(decode_jis(raw_name.encode("latin-1", "surrogateescape")))
        write(directory, f"part{n}.name", name)
        write(directory, f"part{n}.data", part.get_payload(decode=True) or b"")


class Sink:
    def __init__(self, out, light=False):
        self.out = out
        self.light = light
        self.count = 0

    def log(self, line):
        if self.light:
            return
        with open(os.path.join(self.out, "commands.log"), "a", encoding="utf-8", errors="backslashreplace") as f:
            f.write(line + "\n")

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.log("EHLO " + hostname)
        session.host_name = hostname
        return responses

    async def handle_MAIL(self, server, session, envelope, address, options):
        self.log("MAIL FROM:<" + address + ">")
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        self.log("RCPT TO:<" + address + ">")
        if address.lower().startswith("refuse-rcpt"):
            return "550 5.1.1 <" + address + ">: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_RSET(self, server, session, envelope):
        self.log("RSET")
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        self.log("QUIT")
        return "221 Bye"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        if self.light:
            return "250 2.0.0 Ok: queued as %03d" % self.count
        directory = os.path.join(self.out, "%03d" % self.count)
        os.mkdir(directory)
        write(directory, "helo", session.host_name or "")
        write(directory, "mail_from", envelope.mail_from or "")
        write(directory, "rcpt_tos", "".join(a + "\n" for a in envelope.rcpt_tos))
        write(directory, "data", envelope.original_content)
        try:
            decode_message(directory, envelope.original_content)
        except Exception as error:  # noqa: BLE001 - any failure is the test's business
            write(directory, "decode_error", repr(error))
        if recipient_starts(envelope, "close-after-data"):
            answer = "(closed)"
            server.transport.abort()  # nothing more is written to the client
        elif recipient_starts(envelope, "refuse-message"):
            answer = "554 5.7.1 Message refused"
        else:
            answer = "250 2.0.0 Ok: queued as %03d" % self.count
        write(directory, "answer", answer)
        self.log("DATA " + answer)
        return answer


class Authenticator:
    def __init__(self, sink, user, password):
        self.sink = sink
        self.user = user
        self.password = password

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        login = auth_data.login.decode("utf-8", "replace")
        ok = login == self.user and auth_data.password.decode("utf-8", "replace") == self.password
        self.sink.log("AUTH %s %s %s" % (mechanism, login, "ok" if ok else "refused"))
        return AuthResult(success=ok, handled=False)  # refused: aiosmtpd answers 535


class SinkSMTP(SMTP):
    async def smtp_STARTTLS(self, arg):
        self.event_handler.log("STARTTLS")
        await super().smtp_STARTTLS(arg)

    async def smtp_DATA(self, arg):
        if recipient_starts(self.envelope, "refuse-data"):
            self.event_handler.log("DATA refused")
            await self.push("554 5.5.1 Error: no valid recipients")
            return
        await super().smtp_DATA(arg)


async def main(args):
    sink = Sink(args.out, args.light)
    loop = asyncio.get_running_loop()
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(args.cert, args.key)
    options = {"hostname": "sink.tegalo.test"}
    if args.tls == "starttls":
        options.update(tls_context=context, require_starttls=True)
    if args.auth:
        user, password = args.auth.split(":", 1)
        # With TLS from the start aiosmtpd does not know the connection is
        # encrypted, so it must not wait for STARTTLS to offer the login.
        options.update(authenticator=Authenticator(sink, user, password), auth_required=True,
                       auth_require_tls=not args.auth_in_clear and args.tls != "smtps")
    server = await loop.create_server(lambda: SinkSMTP(sink, **options), "127.0.0.1", 0,
                                      ssl=context if args.tls == "smtps" else None)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, stop.set_result, None)
    await stop
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--tls", choices=["starttls", "smtps"])
    parser.add_argument("--auth")
    parser.add_argument("--auth-in-clear", action="store_true")
    parser.add_argument("--light", action="store_true")
    asyncio.run(main(parser.parse_args()))
