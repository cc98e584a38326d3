"""Helpers shared by the server test scripts: the server under test (Apache
httpd with mod_sentrel, or nginx with ngx_http_sentrel_module; the scripts
run against either), a list of named checks, raw HTTP exchanges and
polling."""

from __future__ import annotations

import argparse
import os
import socket
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(REPO / "hosts" / "apache"))
sys.path.insert(0, str(REPO / "hosts" / "nginx"))
import sentrel_httpd as sh  # noqa: E402
import sentrel_nginx as sn  # noqa: E402

SKIP = 77


def add_server_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--server", choices=("apache", "nginx"), default="apache")
    parser.add_argument("--httpd", default="", help="Apache httpd")
    parser.add_argument("--modules-dir", default="", help="Apache's module folder")
    parser.add_argument("--nginx", default="", help="the nginx binary")
    parser.add_argument("--module", default="", help="the server's Sentrel module")


def skip_reason(args) -> str | None:
    """Why the server under test cannot run here, or None."""
    if args.server == "nginx":
        if not args.module or not os.path.exists(args.module):
            return "the nginx module was not built (nginx-dev missing)"
        if not args.nginx or not os.path.exists(args.nginx):
            return "nginx not installed"
        return None
    if not args.module or not os.path.exists(args.module):
        return "mod_sentrel was not built (apxs / apache2-dev missing)"
    if not args.httpd or not os.path.exists(args.httpd):
        return "Apache httpd not installed"
    return None


def make_server(args, run_dir: Path, docroot: Path, filter_path: str | None, bootstrap: str | None,
                remoteip: bool = True, error_page: str | None = None, **more):
    """The server under test on a free loopback port, with the module, trusting
    X-Forwarded-For from the loopback address when `remoteip` is set and
    answering a missing page with the internal redirect `error_page`."""
    common = dict(run_dir=run_dir, port=sh.free_port(), docroot=docroot, module=os.path.abspath(args.module),
                  filter=filter_path, bootstrap=bootstrap, remoteip=remoteip, **more)
    if args.server == "nginx":
        extra = f"error_page 404 {error_page};" if error_page else ""
        return sn.Nginx(sn.NginxConfig(nginx=args.nginx, extra=extra, **common))
    extra = f"ErrorDocument 404 {error_page}" if error_page else ""
    return sh.Httpd(sh.ServerConfig(httpd=args.httpd, modules_dir=args.modules_dir, extra=extra, **common))


class Checks:
    """Collects failed checks instead of stopping at the first one."""

    def __init__(self) -> None:
        self.failures: list[str] = []
        self.count = 0

    def check(self, condition: bool, message: str) -> bool:
        self.count += 1
        if not condition:
            self.failures.append(message)
            print(f"FAIL: {message}", flush=True)
        return condition

    def equal(self, actual, expected, message: str) -> bool:
        return self.check(actual == expected, f"{message}: expected {expected!r}, got {actual!r}")

    def summary(self) -> int:
        print(f"{self.count - len(self.failures)} of {self.count} checks passed")
        return 1 if self.failures else 0


def raw_exchange(address: str, port: int, request: bytes) -> tuple[bytes, bytes]:
    """Sends raw request bytes on a new connection and reads until the server
    closes it; returns (status line, everything after it)."""
    with socket.create_connection((address, port), timeout=10) as s:
        s.sendall(request)
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, rest = data.partition(b"\r\n")
    return head, rest


def wait_for(predicate, timeout: float = 10.0, step: float = 0.2) -> bool:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def sanitizer_reports(run_dir: Path) -> list[str]:
    """Sanitizer findings in a server's logs (a sanitized module or filter
    reports into the server's error log or standard error)."""
    found = []
    for name in ("error.log", "httpd.stderr", "nginx.stderr"):
        path = run_dir / name
        if path.exists():
            text = path.read_text(errors="replace")
            for marker in ("AddressSanitizer", "ThreadSanitizer", "runtime error:", "LeakSanitizer"):
                if marker in text:
                    found.append(f"{name}: {marker}")
    return found


def read_text(path: Path) -> str:
    return path.read_text(errors="replace") if path.exists() else ""
