#!/usr/bin/env python3
"""The filter library end to end in a server with its Sentrel module: Apache
httpd with mod_sentrel, or (--server nginx) nginx with its module.

Uses the demo's settings folder (its three sample modules, "403 Forbidden" as
the status, a 4-digit picture code of 300 x 100 pixels) with the starter rule
set beside its modules, as the demo runs it, and the demo site, adds
one address to "LimitIP.txt", starts the server on a free loopback port and drives
the filter's staged start-up with short requests until its activity log shows
the start-up message. Clients are told apart by X-Forwarded-For, which
the server's real-IP handling trusts from the loopback address. Then, over real HTTP:

  - requests made before the start-up has completed pass unevaluated;
  - a browser-like client passes;
  - a robot's User-Agent passes twice and is blocked at its third request with
    the configured status line and the Return page;
  - the address listed in "LimitIP.txt" is blocked from its first request;
  - IPv6 clients (the demo's IPv6Prefix=64), from X-Forwarded-For: a robot at
    2001:db8::7 is blocked at its third request and another address of its /64
    with it; an address in a /48 listed in "LimitIP.txt" is blocked at once;
    the journal names the robot's /64, its module's log the full address;
  - a client walking eight catalogue pages gets the Code page, fetches
    "/Code.bmp" (a 24-bit bitmap of the configured size), answers with the
    right code and passes;
  - the rule set: an AI crawler reads robots.txt and is refused its first page;
    a browser's User-Agent without Accept-Language is challenged at its third
    page, while the browser client, which sends the header, passed;
  - the decision journal in "Cache" and the named log files in "Log" appear;
  - the metrics page, fetched with curl: served from the allowed address
    during the start-up and after it, with its counts; from a refused address
    the path is an ordinary request;
  - stopping the server unloads the filter ("程序卸载成功" in its log).

The filter draws the digits of its picture codes from the system's random
source. The server of this test runs with a preloaded shim (fixed_random.cpp)
that makes that source give one fixed byte, so the test knows the code: every
digit is the same entry of the digit alphabet "1234567890".

Exits 77 (skipped) when the server or the module is not available. The server is
stopped at the end, also when a check fails.
"""

from __future__ import annotations

import argparse
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import time
from pathlib import Path

from checks import (REPO, SKIP, Checks, add_server_arguments, make_server, raw_exchange, read_text,
                    sanitizer_reports, sh, skip_reason)

BROWSER = {
    "User-Agent": "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0",
    "Accept": "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
    "Accept-Language": "en-GB,en;q=0.7",
}
ROBOT_AGENT = "ExampleBot/1.0 (+http://example.org/bot)"
STARTUP_CLIENT = "192.0.2.1"
EARLY_ROBOT = "192.0.2.99"
BROWSER_CLIENT = "192.0.2.10"
ROBOT_CLIENT = "192.0.2.20"
CRAWLER_CLIENT = "192.0.2.30"
AI_CLIENT = "192.0.2.40"
IMPOSTOR_CLIENT = "192.0.2.50"
LISTED_CLIENT = "203.0.113.66"
ROBOT6_CLIENT = "2001:db8::7"
ROBOT6_NEIGHBOUR = "2001:db8::8"  # the same /64
ROBOT6_JOURNALED = "2001:db8::/64"
LISTED6_PREFIX = "2001:db8:66::/48"
LISTED6_CLIENT = "2001:db8:66:1::1"
SCRAPER = "192.0.2.200"
REFUSED_SCRAPER = "192.0.2.201"
METRICS_PATH = "/sentrel/metrics"
METRICS_TYPE = "text/plain; version=0.0.4; charset=utf-8"

STARTED = "程序启动成功".encode("gbk")
HALTED = "程序启动失败".encode("gbk")
LOADED = "程序加载完成".encode("gbk")
UNLOADED = "程序卸载成功".encode("gbk")
MODULE_READ = "\t模块读取成功".encode("gbk")


RANDOM_BYTE = 3
DIGITS = "1234567890"


def expected_codes(length: int) -> list[str]:
    """The codes a filter can make when every random byte is RANDOM_BYTE:
    the byte picks the digit by its remainder, or (with a scaled mapping) by
    its share of 256. At most two answers, fewer than the wrong answers a
    code allows."""
    candidates = [DIGITS[RANDOM_BYTE % 10] * length, DIGITS[RANDOM_BYTE * 10 // 256] * length]
    return list(dict.fromkeys(candidates))


def read_settings(path: Path) -> dict[str, dict[str, str]]:
    sections: dict[str, dict[str, str]] = {}
    current: dict[str, str] = {}
    for line in path.read_text().splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].lower(), {})
        elif "=" in line:
            key, _, value = line.partition("=")
            current.setdefault(key.strip().lower(), value.strip())
    return sections


def page_as_sent(path: Path) -> bytes:
    """A response page as the filter holds it: every line followed by LF."""
    lines = path.read_bytes().replace(b"\r\n", b"\n").split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join(line + b"\n" for line in lines)


def log_bytes(folder: Path, pattern: str) -> bytes:
    return b"".join(Path(p).read_bytes() for p in sorted(glob.glob(str(folder / pattern))))


def curl(port: int, path: str, client: str) -> tuple[int, dict[str, str], bytes]:
    """A GET with curl from `client` (by X-Forwarded-For): status, headers
    (names in lower case) and body."""
    out = subprocess.run(["curl", "-s", "-i", "--max-time", "10", "-H", f"X-Forwarded-For: {client}",
                          f"http://127.0.0.1:{port}{path}"], capture_output=True, check=True).stdout
    head, _, body = out.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return int(lines[0].split()[1]), headers, body


def metric(page: bytes, sample: str) -> int | None:
    """The value of one sample line of a metrics page, or None; "*" in the
    sample stands for any label value."""
    pattern = re.escape(sample.encode()).replace(rb"\*", rb'[^"]*')
    m = re.search(rb"^%s (\d+)$" % pattern, page, re.M)
    return int(m.group(1)) if m else None


def check_bitmap(c: Checks, body: bytes, width: int, height: int) -> None:
    row = ((24 * width + 31) // 32) * 4
    size = 54 + row * height
    c.equal(len(body), size, "bitmap file size")
    if len(body) < 54:
        return
    fields = struct.unpack_from("<2sIHHIIiiHHIIiiII", body, 0)
    c.equal(fields[0], b"BM", "bitmap signature")
    c.equal(fields[1], size, "bitmap size field")
    c.equal(fields[4], 54, "pixel data offset")
    c.equal(fields[5], 40, "info header size")
    c.equal((fields[6], fields[7]), (width, height), "bitmap width and height")
    c.equal((fields[8], fields[9], fields[10]), (1, 24, 0), "planes, bits per pixel, compression")


def main() -> int:
    parser = argparse.ArgumentParser()
    add_server_arguments(parser)
    parser.add_argument("--filter", required=True)
    parser.add_argument("--random-shim", required=True, help="the fixed_random library")
    parser.add_argument("--work-dir", required=True, type=Path)
    parser.add_argument("--startup-timeout", type=float, default=60.0)
    parser.add_argument("--keep", action="store_true", help="keep the work folder after success")
    args = parser.parse_args()

    reason = skip_reason(args)
    if reason is not None:
        print(f"SKIP: {reason}")
        return SKIP
    work = args.work_dir.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    blocked = sh.unreachable_ancestor(work)
    if blocked is not None:
        print(f"FAIL: {blocked} cannot be entered by the server's unprivileged children")
        return 1

    settings = work / "settings"
    shutil.copytree(REPO / "demo" / "settings", settings)
    # As the demo does: the starter rule set beside the three sample modules.
    shutil.copytree(REPO / "rules" / "set", settings / "Action" / "rule-set")
    shutil.copytree(REPO / "demo" / "site", work / "site")
    (settings / "Log").mkdir()
    (settings / "Cache").mkdir()
    (settings / "LimitIP.txt").write_text(f"{LISTED_CLIENT}\n{LISTED6_PREFIX}\n")
    config_text = (settings / "Config.ini").read_bytes()  # the metrics page turned on
    (settings / "Config.ini").write_bytes(re.sub(
        rb"^\[Config\]\r?\n", f"[Config]\r\nMetricsPath={METRICS_PATH}\r\nMetricsAllow={SCRAPER}\r\n".encode(),
        config_text, count=1, flags=re.M))
    (work / "lib").mkdir()
    library = work / "lib" / "libSentrel.so"
    shutil.copy(args.filter, library)
    (work / "sh_Sentrel.ini").write_bytes(f"[Config]\r\nFolderPath={settings}\r\n".encode())
    sh.make_shared(work)

    config = read_settings(settings / "Config.ini")
    status_text = config["config"]["status"]
    status_code, _, reason = status_text.partition(" ")
    code_length = int(config["code"]["length"])
    width, height = int(config["code"]["width"]), int(config["code"]["height"])
    return_page = page_as_sent(settings / "Return.html")
    code_page = page_as_sent(settings / "Code.html")
    log_folder = settings / "Log"

    server = make_server(args, work / "httpd", work / "site", str(library), str(work / "sh_Sentrel.ini"),
                         preload=[os.path.abspath(args.random_shim)],
                         environment={"SENTREL_FIXED_RANDOM_BYTE": str(RANDOM_BYTE)})
    cfg = server.config
    c = Checks()

    def get(path: str, client: str, agent_headers: dict[str, str] | None = None):
        headers = dict(agent_headers or BROWSER)
        headers["X-Forwarded-For"] = client
        return server.get(path, headers)

    try:
        server.start()
        # The children (workers) load the filter as they start: under the sanitizers that
        # can take a few seconds after the server answers.
        loaded_by = time.monotonic() + 30
        while LOADED not in log_bytes(log_folder, "Log_*.log") and time.monotonic() < loaded_by:
            time.sleep(0.2)
        c.check(LOADED in log_bytes(log_folder, "Log_*.log"), "load message in the activity log")

        # Before the start-up has completed nothing is evaluated.
        for _ in range(4):
            status, _, _, _ = get("/", EARLY_ROBOT, {"User-Agent": ROBOT_AGENT})
            c.equal(status, 200, "a robot passes while the start-up is pending")

        # The metrics page is served from the start: with the stage due.
        status, headers, page = curl(cfg.port, METRICS_PATH, SCRAPER)
        c.equal((status, headers.get("content-type")), (200, METRICS_TYPE), "metrics page during the start-up")
        stage = metric(page, "sentrel_startup_stage")
        c.check(stage is not None and stage < 4, f"start-up stage before the start: {stage}")
        c.equal(metric(page, 'sentrel_requests_total{outcome="startup"}'), 4,
                "the early robot's requests passed during the start-up")

        # The stages advance on connections closing more than 3 s apart.
        deadline = time.monotonic() + args.startup_timeout
        state = "pending"
        while time.monotonic() < deadline:
            get("/", STARTUP_CLIENT)
            text = log_bytes(log_folder, "Log_*.log")
            if HALTED in text:
                state = "halted"
                break
            if STARTED in text:
                state = "started"
                break
            time.sleep(1.0)
        if not c.equal(state, "started", "the filter's start-up completed"):
            return c.summary()
        text = log_bytes(log_folder, "Log_*.log")
        for name in ("Bad bots", "Rapid crawler", "Watch admin", "AI crawlers", "Browser without Accept-Language"):
            c.check(name.encode() + MODULE_READ in text, f"module {name} read")

        # A browser-like client passes.
        for path, marker in (("/", b"Sentrel demo shop"), ("/catalog/page1.html", b"Catalogue page 1"),
                             ("/admin/", b"Admin area"), ("/catalog/page2.html", b"Catalogue page 2"),
                             ("/", b"Sentrel demo shop")):
            status, _, _, body = get(path, BROWSER_CLIENT)
            c.check(status == 200 and marker in body, f"browser client gets {path}: {status}")

        # A robot: blocked at its third request, with the status line and the Return page.
        robot = dict(BROWSER, **{"User-Agent": ROBOT_AGENT})
        for i in (1, 2):
            status, _, _, body = get("/", ROBOT_CLIENT, robot)
            c.equal(status, 200, f"robot request {i} passes")
        status, got_reason, _, body = get("/", ROBOT_CLIENT, robot)
        c.equal((status, got_reason), (int(status_code), reason), "robot blocked at its third request")
        c.equal(body, return_page, "the block answer is the Return page")
        line, _ = raw_exchange(cfg.address, cfg.port,
                               f"GET /catalog/page3.html HTTP/1.1\r\nHost: x\r\nUser-Agent: {ROBOT_AGENT}\r\n"
                               f"X-Forwarded-For: {ROBOT_CLIENT}\r\n\r\n".encode())
        c.equal(line, f"HTTP/1.1 {status_text}".encode(), "status line as configured")

        # A listed address is blocked from its first request.
        status, _, _, body = get("/", LISTED_CLIENT)
        c.equal((status, body), (int(status_code), return_page), "LimitIP address blocked at once")

        # A crawler: eight catalogue pages in a row bring the picture code.
        for i in range(1, 8):
            status, _, _, body = get(f"/catalog/page{i}.html", CRAWLER_CLIENT)
            c.check(status == 200 and f"Catalogue page {i}<".encode() in body, f"crawler page {i} passes")
        status, _, _, body = get("/catalog/page8.html", CRAWLER_CLIENT)
        c.equal((status, body), (int(status_code), code_page), "the eighth page brings the Code page")
        status, _, _, image = get("/Code.bmp", CRAWLER_CLIENT)
        c.equal(status, int(status_code), "the image goes out with the status line")
        check_bitmap(c, image, width, height)
        status, _, _, again = get("/code.BMP?reload=1", CRAWLER_CLIENT)
        c.equal(again, image, "the image of one code is drawn once and served again")
        status, _, _, body = get("/catalog/page8.html?Code=" + "1" * (code_length + 1), CRAWLER_CLIENT)
        c.equal(body, code_page, "an answer of the wrong length gets the Code page again")
        for answer in expected_codes(code_length):
            status, _, _, body = get(f"/catalog/page8.html?Code={answer}", CRAWLER_CLIENT)
            if status == 200:
                break
        c.check(status == 200 and b"Catalogue page 8<" in body,
                f"the right code ({answer}) lets the client through: {status}")
        status, _, _, body = get("/catalog/page9.html", CRAWLER_CLIENT)
        c.check(status == 200 and b"Catalogue page 9<" in body, "and it stays allowed")

        # The rule set: an AI crawler reads robots.txt and is refused its first
        # page; a script with a browser's User-Agent but no Accept-Language
        # (the browser client above sent one and passed) gets the Code page at
        # its third page.
        ai = {"User-Agent": "Mozilla/5.0 (compatible; GPTBot/1.2; +https://openai.com/gptbot)"}
        status, _, _, _ = get("/robots.txt", AI_CLIENT, ai)
        c.check(status != int(status_code), f"the AI crawler may read robots.txt: {status}")
        status, _, _, body = get("/", AI_CLIENT, ai)
        c.equal((status, body), (int(status_code), return_page), "the AI crawler's first page is refused")
        impostor = {"User-Agent": BROWSER["User-Agent"]}
        for i in (1, 2):
            status, _, _, body = get(f"/catalog/page{i}.html", IMPOSTOR_CLIENT, impostor)
            c.check(status == 200, f"page {i} without Accept-Language passes: {status}")
        status, _, _, body = get("/catalog/page3.html", IMPOSTOR_CLIENT, impostor)
        c.equal((status, body), (int(status_code), code_page), "the third page without Accept-Language is challenged")
        rule_log = log_bytes(log_folder, "RuleSet_*.log")
        c.check(AI_CLIENT.encode() in rule_log and IMPOSTOR_CLIENT.encode() in rule_log,
                f"the rule set's log names both: {rule_log!r}")

        # The metrics page after all that, and the same path from a refused
        # address, which is an ordinary request for a file the site lacks.
        status, headers, page = curl(cfg.port, METRICS_PATH, SCRAPER)
        c.equal((status, headers.get("content-type")), (200, METRICS_TYPE), "metrics page")
        c.equal(headers.get("content-length"), str(len(page)), "its length")
        c.equal(metric(page, "sentrel_startup_stage"), 4, "the start-up completed")
        blocks = metric(page, 'sentrel_answers_total{action="blocked"}')
        c.check((blocks or 0) >= 4, f"blocks counted: {blocks}")
        c.equal(metric(page, 'sentrel_picture_code_answers_total{result="right"}'), 1, "the right answer counted")
        c.equal(metric(page, 'sentrel_module_fired_total{module="*",name="Bad bots",action="block"}'), 1,
                "the robot's module fired once")
        status, _, body = curl(cfg.port, METRICS_PATH, REFUSED_SCRAPER)
        c.check(status == 404 and b"sentrel_" not in body, f"refused address gets the site's answer: {status}")

        # IPv6 clients, tracked by their /64, from the trusted proxy's header.
        for i in (1, 2):
            status, _, _, _ = get("/", ROBOT6_CLIENT, robot)
            c.equal(status, 200, f"IPv6 robot request {i} passes")
        status, _, _, body = get("/", ROBOT6_CLIENT, robot)
        c.equal((status, body), (int(status_code), return_page), "IPv6 robot blocked at its third request")
        status, _, _, body = get("/", ROBOT6_NEIGHBOUR)
        c.equal((status, body), (int(status_code), return_page), "another address of its /64 is the same client")
        status, _, _, body = get("/", LISTED6_CLIENT)
        c.equal((status, body), (int(status_code), return_page), "an address of a listed IPv6 prefix blocked at once")

        # Files in the settings folder.
        journal = b"".join(p.read_bytes() for p in sorted((settings / "Cache").glob("*.txt")))
        c.check(re.search(rb"^\d{10},0,%s\r?$" % re.escape(ROBOT_CLIENT.encode()), journal, re.M) is not None,
                f"journal has the robot's block: {journal!r}")
        c.check(re.search(rb"^\d{10},2,%s\r?$" % re.escape(CRAWLER_CLIENT.encode()), journal, re.M) is not None,
                f"journal has the crawler's right answer: {journal!r}")
        c.check(re.search(rb"^\d{10},0,%s\r?$" % re.escape(ROBOT6_JOURNALED.encode()), journal, re.M) is not None,
                f"journal has the IPv6 robot's /64: {journal!r}")
        c.check(re.fullmatch(r"\d{4}-\d{2}-\d{2}\.txt", next(iter(
            sorted(p.name for p in (settings / "Cache").glob("*.txt"))), "")) is not None,
            "journal file named by the date")
        watch = read_text(log_folder / "watch.log")
        c.check(BROWSER_CLIENT in watch and "/admin/" in watch, f"watch.log has the admin visit: {watch!r}")
        c.check(ROBOT_CLIENT.encode() in log_bytes(log_folder, "BadBots_*.log"), "BadBots log names the robot")
        c.check(ROBOT6_CLIENT.encode() in log_bytes(log_folder, "BadBots_*.log"),
                "BadBots log names the IPv6 robot by its full address")
        c.check(CRAWLER_CLIENT.encode() in log_bytes(log_folder, "Crawler_*.log"), "Crawler log names the crawler")
    except Exception as error:  # a server that did not start, a connection refused
        c.check(False, f"{type(error).__name__}: {error}")
    finally:
        server.stop()

    c.check(UNLOADED in log_bytes(log_folder, "Log_*.log"), "unload message after the server stopped")
    c.equal(sanitizer_reports(cfg.run_dir), [], "no sanitizer reports")
    result = c.summary()
    if result == 0 and not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return result


if __name__ == "__main__":
    sys.exit(main())
