#!/usr/bin/env python3
"""The server's Sentrel module in a running server, with the fake filter
library: mod_sentrel in Apache httpd, or (--server nginx) the nginx module.

Starts the server on a free loopback port with the module in front of a small
site and checks over real HTTP: which notifications the filter gets (main
requests only, end of session on every closed connection), the server
variables and the buffer contract of GetServerVariable, the client address
from a trusted proxy only, answers the filter gives itself (status line,
headers, body, the request ending there), the filter's per-connection
context, that a slow filter call holds up no other client, the current
directory around GetFilterVersion, TerminateExtension at shutdown, and that
configuration errors are logged once while the server keeps serving
unfiltered.

Exits 77 (skipped) when the server or the module is not available. Every
server it starts is stopped, also when a check fails.
"""

from __future__ import annotations

import argparse
import http.client
import os
import shutil
import signal
import socket
import sys
import threading
import time
from pathlib import Path

from checks import (SKIP, Checks, add_server_arguments, make_server, raw_exchange, read_text as read,
                    sanitizer_reports, sh, skip_reason, wait_for)

BROWSER = "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0"
BLOCK_BODY = b"<html>blocked by the fake filter</html>\n"
INDEX = b"<html><body>static index</body></html>\n"
PAGE = b"<html><body>static page</body></html>\n"
MISSING = b"<html><body>not here</body></html>\n"


def raw_get(server: sh.Httpd, request: bytes) -> tuple[bytes, bytes]:
    return raw_exchange(server.config.address, server.config.port, request)


def parse_lines(body: bytes) -> dict[str, str]:
    out = {}
    for line in body.decode("latin-1").splitlines():
        if "!missing" in line:
            out.setdefault(line.split("!")[0], None)
        elif "=" in line:
            name, _, value = line.partition("=")
            out.setdefault(name, value)
    return out


def stats(server: sh.Httpd) -> dict[str, int]:
    status, _, _, body = server.get("/_stats", {"User-Agent": BROWSER})
    return {k: int(v) for k, v in parse_lines(body).items() if v is not None}


class Fixture:
    def __init__(self, args, work: Path) -> None:
        self.args = args
        self.work = work
        self.site = work / "site"
        self.site.mkdir(parents=True)
        (self.site / "index.html").write_bytes(INDEX)
        (self.site / "page.html").write_bytes(PAGE)
        (self.site / "missing.html").write_bytes(MISSING)
        sh.make_shared(work)

    def server(self, name: str, filter_path: str | None, bootstrap_lines: list[str] | None,
               remoteip: bool = True) -> tuple[sh.Httpd, Path]:
        folder = self.work / name
        boot = folder / "boot"
        boot.mkdir(parents=True)
        record = folder / "record.txt"
        if bootstrap_lines is not None:
            (boot / "sh_Sentrel.ini").write_text("\n".join([f"Record={record}"] + bootstrap_lines) + "\n")
        sh.make_shared(folder)
        server = make_server(self.args, folder / "run", self.site, filter_path, str(boot / "sh_Sentrel.ini"),
                             remoteip=remoteip, error_page="/missing.html")
        return server, record


def check_running_filter(c: Checks, fx: Fixture) -> None:
    server, record = fx.server("filtered", fx.args.filter, [])
    cfg = server.config
    boot = (fx.work / "filtered" / "boot").resolve()
    try:
        server.start()
        ua = {"User-Agent": BROWSER}

        # Static pages pass; notifications for main requests only.
        status, _, _, body = server.get("/", ua)
        c.equal((status, body), (200, INDEX), "index page")
        status, _, _, body = server.get("/page.html", ua)
        c.equal((status, body), (200, PAGE), "static page")
        status, _, _, body = server.get("/nothing-here", ua)
        c.equal((status, body), (404, MISSING), "error page after the filter passed the request")
        text = read(record)
        c.equal(text.count("urlmap / 127.0.0.1\n"), 1, "one URL-mapping notification for /")
        c.equal(text.count("preproc /\n"), 1, "one preprocessing notification for /")
        c.check("/index.html" not in text, "no notification for the index page's subrequest or redirect")
        c.check("/missing.html" not in text, "no notification for the error page redirect")
        c.equal(text.count("urlmap /nothing-here "), 1, "one notification for the missing page")
        c.check(f"version cwd={boot}\n" in text,
                f"GetFilterVersion ran in the bootstrap folder {boot}: {text!r}")
        c.check("request cwd=" in text and f"request cwd={boot}\n" not in text,
                "the current directory was restored after GetFilterVersion")
        c.check(text.index("preproc /\n") < text.index("urlmap / "),
                "preprocessing comes before URL mapping")

        # A blocked client: the filter's status line and body, nothing served.
        status, reason, headers, body = server.get("/page.html", {"User-Agent": "ExampleBot/2.1"})
        c.equal((status, reason, body), (403, "Forbidden", BLOCK_BODY), "bot blocked by the filter")
        c.equal(headers.get("Connection"), "close", "the filter's answer closes the connection")
        c.equal(headers.get("Content-Length"), str(len(BLOCK_BODY)), "answer length")
        line, _ = raw_get(server, b"GET /page.html HTTP/1.1\r\nHost: x\r\nUser-Agent: a-bot\r\n\r\n")
        c.equal(line, b"HTTP/1.1 403 Forbidden", "status line as the filter gave it")
        line, rest = raw_get(server, b"HEAD / HTTP/1.1\r\nHost: x\r\nUser-Agent: a-bot\r\n\r\n")
        c.check(line == b"HTTP/1.1 403 Forbidden" and rest.endswith(b"\r\n\r\n"),
                f"HEAD gets the status line without a body: {line!r} {rest[-40:]!r}")

        # Answers with custom status lines, headers and several writes.
        line, rest = raw_get(server, b"GET /_empty HTTP/1.1\r\nHost: x\r\n\r\n")
        c.equal(line, b"HTTP/1.1 404 Object Not Found", "custom reason phrase kept")
        c.check(rest.endswith(b"\r\n\r\n") and b"Content-Length: 0" in rest,
                f"status line alone, empty body: {rest!r}")
        status, reason, headers, body = server.get("/_teapot", ua)
        c.equal((status, reason, body), (418, "I'm a teapot", b"short and stout\n"), "two writes, one answer")
        c.equal(headers.get("X-Fake"), "yes", "header given with the status line")
        c.equal(headers.get("Content-Type"), "text/plain", "content type given with the status line")
        status, _, _, _ = server.get("/_error", ua)
        c.equal(status, 500, "SF_STATUS_REQ_ERROR fails the request")
        status, _, _, body = server.get("/_throw", ua)
        c.equal((status, body), (404, MISSING), "an exception from the filter passes the request on")

        # Server variables.
        names = ("REMOTE_ADDR,REMOTE_PORT,LOCAL_ADDR,URL,QUERY_STRING,REQUEST_METHOD,SERVER_PROTOCOL,"
                 "SERVER_NAME,SERVER_PORT,HTTPS,CONTENT_TYPE,CONTENT_LENGTH,HTTP_USER_AGENT,"
                 "HTTP_X_CUSTOM_HEADER,HTTP_X_ONLY_UNDERSCORE,HTTP_X_MISSING,HTTP_X_DUP,ALL_HTTP")
        conn = http.client.HTTPConnection(cfg.address, cfg.port, timeout=10)
        conn.putrequest("GET", "/%5Fvars?" + names, skip_accept_encoding=True)
        conn.putheader("User-Agent", BROWSER)
        conn.putheader("X_Custom_Header", "spoof")
        conn.putheader("X-Custom-Header", "hello")
        conn.putheader("X_Only_Underscore", "spoof")
        conn.putheader("X-Dup", "first")
        conn.putheader("X-Dup", "second")
        conn.endheaders()
        response = conn.getresponse()
        body = response.read()
        conn.close()
        v = parse_lines(body)
        c.equal(v.get("REMOTE_ADDR"), "127.0.0.1", "REMOTE_ADDR")
        c.check((v.get("REMOTE_PORT") or "").isdigit() and v.get("REMOTE_PORT") != str(cfg.port),
                f"REMOTE_PORT is the client's port: {v.get('REMOTE_PORT')!r}")
        c.equal(v.get("LOCAL_ADDR"), "127.0.0.1", "LOCAL_ADDR")
        c.equal(v.get("URL"), "/_vars", "URL is decoded and has no query string")
        c.equal(v.get("QUERY_STRING"), names, "QUERY_STRING")
        c.equal(v.get("REQUEST_METHOD"), "GET", "REQUEST_METHOD")
        c.equal(v.get("SERVER_PROTOCOL"), "HTTP/1.1", "SERVER_PROTOCOL")
        c.equal(v.get("SERVER_NAME"), "127.0.0.1", "SERVER_NAME")
        c.equal(v.get("SERVER_PORT"), str(cfg.port), "SERVER_PORT")
        c.equal(v.get("HTTPS"), "off", "HTTPS")
        c.equal(v.get("CONTENT_TYPE"), "", "CONTENT_TYPE without a body")
        c.equal(v.get("CONTENT_LENGTH"), "0", "CONTENT_LENGTH without a body")
        c.equal(v.get("HTTP_USER_AGENT"), BROWSER, "HTTP_USER_AGENT")
        c.equal(v.get("HTTP_X_CUSTOM_HEADER"), "hello", "a header spelled with underscores cannot pose as another")
        c.check("HTTP_X_ONLY_UNDERSCORE" in v and v["HTTP_X_ONLY_UNDERSCORE"] is None,
                "a header spelled with underscores has no variable")
        c.check("HTTP_X_MISSING" in v and v["HTTP_X_MISSING"] is None, "a missing header is missing")
        c.equal(v.get("HTTP_X_DUP"), "first, second", "a repeated header is joined")
        text = body.decode("latin-1")
        c.check("HTTP_X_CUSTOM_HEADER:hello\n" in text and f"HTTP_HOST:127.0.0.1:{cfg.port}\n" in text
                and "spoof" not in text, f"ALL_HTTP lines: {text!r}")

        conn = http.client.HTTPConnection(cfg.address, cfg.port, timeout=10)
        conn.request("POST", "/_vars?CONTENT_TYPE,CONTENT_LENGTH,REQUEST_METHOD", body=b"a=1&b=2",
                     headers={"User-Agent": BROWSER, "Content-Type": "application/x-www-form-urlencoded"})
        v = parse_lines(conn.getresponse().read())
        conn.close()
        c.equal((v.get("CONTENT_TYPE"), v.get("CONTENT_LENGTH"), v.get("REQUEST_METHOD")),
                ("application/x-www-form-urlencoded", "7", "POST"), "request body variables")

        line, rest = raw_get(server, b"GET /catalog/.//..//%5Fvars?URL HTTP/1.1\r\nHost: x\r\n\r\n")
        c.check(rest.endswith(b"\r\n\r\nURL=/_vars\n"),
                f"URL has dot segments resolved and slashes merged: {line!r} {rest[-40:]!r}")
        status, _, _, body = server.get("/_vars?REMOTE_ADDR", {"User-Agent": BROWSER,
                                                                "X-Forwarded-For": "203.0.113.9"})
        c.equal(parse_lines(body).get("REMOTE_ADDR"), "203.0.113.9",
                "REMOTE_ADDR is the client named by the trusted proxy (real-IP handling)")
        c.check("urlmap /_vars 203.0.113.9\n" in read(record), "the filter saw the proxied client")
        # Another loopback address is no trusted proxy: its header is ignored.
        with socket.create_connection((cfg.address, cfg.port), timeout=10,
                                      source_address=("127.0.0.2", 0)) as s:
            s.sendall(b"GET /_vars?REMOTE_ADDR HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 203.0.113.9\r\n"
                      b"Connection: close\r\n\r\n")
            reply = b"".join(iter(lambda: s.recv(65536), b""))
        c.check(reply.endswith(b"\r\n\r\nREMOTE_ADDR=127.0.0.2\n"),
                f"an untrusted client's X-Forwarded-For is ignored: {reply[-60:]!r}")

        # A filter call that takes seconds holds up no other client's request.
        slow: dict[str, object] = {}

        def slow_request() -> None:
            slow["reply"] = server.get("/_slow?3000", ua, timeout=30)
            slow["done"] = True

        waiter = threading.Thread(target=slow_request)
        waiter.start()
        try:
            c.check(wait_for(lambda: "urlmap /_slow " in read(record), timeout=10, step=0.05),
                    "the slow request reached the filter")
            fast = [server.get("/page.html", ua, timeout=30)[0] for _ in range(5)]
            c.check(fast == [200] * 5 and "done" not in slow,
                    f"other requests were served while the filter was busy: {fast}, slow done={'done' in slow}")
        finally:
            waiter.join(30)
        reply = slow.get("reply", (0, "", {}, b""))
        c.equal((reply[0], reply[3]), (404, MISSING), "the slow request went on after the filter returned")

        # The same when the slow request and others arrive together, so that
        # nginx hands them to its pool in one batch, the slow one first: the
        # connections are opened, the server's workers stopped while the
        # requests are sent, and let go on to find them all at once.
        sockets = [socket.create_connection((cfg.address, cfg.port), timeout=10) for _ in range(6)]
        workers = sh.children(server.pid() or 0)
        try:
            time.sleep(0.3)  # the connections accepted
            for pid in workers:
                os.kill(pid, signal.SIGSTOP)
            for i, s in enumerate(sockets):
                path = "/_slow?3000" if i == 0 else "/page.html"
                s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nUser-Agent: {BROWSER}\r\n"
                          f"Connection: close\r\n\r\n".encode())
            started = time.monotonic()
            for pid in workers:
                os.kill(pid, signal.SIGCONT)
            statuses = [s.recv(64)[9:12] for s in sockets[1:]]
            waited = time.monotonic() - started
            c.check(workers != [] and statuses == [b"200"] * 5 and waited < 2.0,
                    f"requests that came with the slow one were served meanwhile: {statuses} in {waited:.2f} s")
            c.check(sockets[0].recv(64)[9:12] == b"404", "the slow request of the burst went on afterwards")
        finally:
            for pid in workers:
                os.kill(pid, signal.SIGCONT)
            for s in sockets:
                s.close()

        # The buffer contract.
        status, _, _, body = server.get("/_contract", {"User-Agent": BROWSER, "X-Long": "x" * 2000})
        v = parse_lines(body)
        for key in ("null-buffer", "one-short", "exact", "unknown", "lower-case-name"):
            c.equal(v.get(key), "ok", f"buffer contract: {key}")
        c.equal(v.get("long"), "too-big needed=2001", "a 2000-byte value does not fit 1024 bytes; size needed reported")

        # The filter's context pointer lives as long as the connection.
        conn = http.client.HTTPConnection(cfg.address, cfg.port, timeout=10)
        for _ in range(2):
            conn.request("GET", "/page.html", headers=ua)
            c.equal(conn.getresponse().read(), PAGE, "keep-alive request")
        conn.request("GET", "/_conn", headers=ua)
        c.equal(conn.getresponse().read(), b"requests-on-connection=3\n", "context kept across requests")
        conn.close()
        status, _, _, body = server.get("/_conn", ua)
        c.equal(body, b"requests-on-connection=1\n", "a new connection starts a new context")

        # End of session on every closed connection, also one without requests.
        before = stats(server)["session-ends"]
        for _ in range(3):
            server.get("/page.html", ua)
        with socket.create_connection((cfg.address, cfg.port), timeout=5):
            pass
        # The three requests, the idle connection and the /_stats call above.
        c.check(wait_for(lambda: stats(server)["session-ends"] >= before + 5, timeout=15),
                f"end-of-session notifications: {before} -> {stats(server)['session-ends']}")
        c.check("session-end " in read(record) and " 127.0.0.1 url-available=no\n" in read(record),
                "end of session has the connection's address and no request variables")
    finally:
        server.stop()
    text = read(record)
    c.equal(text.count("terminate\n"), 1, "TerminateExtension once when the worker exits")
    log = read(cfg.error_log)
    c.check("started (Fake test filter)" in log, "start logged")
    c.check("an exception escaped the filter" in log and log.count("an exception escaped") == 1,
            "an escaped exception is logged once")
    c.equal(sanitizer_reports(cfg.run_dir), [], "no sanitizer reports")


def check_flags_followed(c: Checks, fx: Fixture) -> None:
    # A filter that registers URL mapping only gets nothing else.
    server, record = fx.server("urlmap-only", fx.args.filter, ["Flags=41000"])
    try:
        server.start()
        server.get("/page.html", {"User-Agent": BROWSER})
        status, _, _, body = server.get("/page.html", {"User-Agent": "SomeBot"})
        c.equal((status, body), (403, BLOCK_BODY), "URL mapping still delivered")
        time.sleep(1.0)
        text = read(record)
        c.check("preproc" not in text and "session-end" not in text,
                f"unregistered notifications are not sent: {text!r}")
    finally:
        server.stop()


def check_configuration_error(c: Checks, fx: Fixture, name: str, filter_path: str,
                              bootstrap: list[str] | None, message: str) -> None:
    server, _ = fx.server(name, filter_path, bootstrap)
    try:
        server.start()
        status, _, _, body = server.get("/page.html", {"User-Agent": "ExampleBot"})
        c.equal((status, body), (200, PAGE), f"{name}: the server serves unfiltered")
        server.get("/", {"User-Agent": BROWSER})
    finally:
        server.stop()
    log = read(server.config.error_log)
    c.equal(log.count(message), 1, f"{name}: error logged once ({message!r}) in {log!r}")
    c.check("served without the filter" in log, f"{name}: the log says requests go unfiltered")


def main() -> int:
    parser = argparse.ArgumentParser()
    add_server_arguments(parser)
    parser.add_argument("--filter", required=True)
    parser.add_argument("--filter-noproc", required=True)
    parser.add_argument("--work-dir", required=True, type=Path)
    parser.add_argument("--keep", action="store_true", help="keep the work folder after success")
    args = parser.parse_args()

    reason = skip_reason(args)
    if reason is not None:
        print(f"SKIP: {reason}")
        return SKIP
    for name in ("module", "filter", "filter_noproc"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    work = args.work_dir.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    blocked = sh.unreachable_ancestor(work)
    if blocked is not None:
        print(f"FAIL: {blocked} cannot be entered by the server's unprivileged children")
        return 1

    c = Checks()
    fx = Fixture(args, work)
    scenarios = [
        lambda: check_running_filter(c, fx),
        lambda: check_flags_followed(c, fx),
        lambda: check_configuration_error(c, fx, "missing-library", str(work / "no-such-filter.so"),
                                          [], "cannot load filter library"),
        lambda: check_configuration_error(c, fx, "missing-export", args.filter_noproc, [],
                                          "does not export HttpFilterProc"),
        lambda: check_configuration_error(c, fx, "refused", args.filter, ["Fail=1"],
                                          "GetFilterVersion returned FALSE"),
        lambda: check_configuration_error(c, fx, "no-bootstrap-file", args.filter, None,
                                          "GetFilterVersion returned FALSE"),
    ]
    for scenario in scenarios:
        try:
            scenario()
        except Exception as error:  # a server that did not start, a connection refused
            c.check(False, f"{type(error).__name__}: {error}")

    if c.summary():
        return 1
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
