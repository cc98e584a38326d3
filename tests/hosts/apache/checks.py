"""Helpers shared by the Apache test scripts: a list of named checks, raw
HTTP exchanges and polling."""

from __future__ import annotations

import socket
import time
from pathlib import Path

SKIP = 77


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
    reports into Apache's error log)."""
    found = []
    for name in ("error.log", "httpd.stderr"):
        path = run_dir / name
        if path.exists():
            text = path.read_text(errors="replace")
            for marker in ("AddressSanitizer", "ThreadSanitizer", "runtime error:", "LeakSanitizer"):
                if marker in text:
                    found.append(f"{name}: {marker}")
    return found


def read_text(path: Path) -> str:
    return path.read_text(errors="replace") if path.exists() else ""
