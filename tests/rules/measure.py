#!/usr/bin/env python3
"""Measures the starter rule set with the administrator's own tools.

    measure.py --tool build/tools/sentrel [--check] [--json FILE]

1. Every rule pattern of every module compiles (`sentrel match`) and holds
   no capital letter (values are lower-cased before matching, so a capital
   could never match).
2. `sentrel lint` loads the whole set, extras included, with every file
   usable, and the number of modules it uses of the 64 allowed is reported.
3. Access logs are made from the labelled sets in data/ and replayed
   (`sentrel replay --json`), through each module alone and through the set:
   - browsers: every common browser agent (data/browsers.txt) browsing a
     site as people do, pages with their images, styles and scripts;
   - crawlers: every crawler and tool agent of data/crawlers.tsv reading
     robots.txt and then 40 pages in a row;
   - probes: clients with browser agents asking, between ordinary pages,
     for paths that only attackers ask for (general and WordPress);
   - impostors: scripts fetching pages with a bare "Mozilla/5.0" agent, and
     with browser agents but without the Accept-Language header (which an
     access log never records, so every replayed request lacks it).
   The false-positive rate is the share of browser clients blocked or
   challenged; the share caught is, per module, the share of the clients it
   is meant to catch that it blocked or challenged.

With --check the exit status is 1 when a pattern does not compile or has a
capital, lint refuses a file, a browser client is blocked or challenged by
the set or by any module, a declared crawler of a large search engine is
blocked or challenged, or a module catches less than all of its targets.
A module whose rules read a request header that access logs do not record
cannot be replayed against browsers (every replayed request lacks the
header); it is measured alone on its own targets and left out of the
replays of the whole set.
"""

from __future__ import annotations

import argparse
import json
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
RULES = REPO / "rules"
# The set an administrator copies into the module folder as it is, and the
# modules that are off unless a site chooses them.
MAIN = RULES / "set"
EXTRA = RULES / "extra"
MODULE_LIMIT = 64

BROWSING = [
    ("/", None), ("/css/site.css", "/"), ("/js/app.js", "/"), ("/images/logo.png", "/"),
    ("/favicon.ico", "/"), ("/products/", "/"), ("/images/products/p1.jpg", "/products/"),
    ("/images/products/p2.webp", "/products/"), ("/products/shoes?page=2", "/products/"),
    ("/images/products/p3.jpg", "/products/shoes?page=2"), ("/search?q=red+shoes", "/products/"),
    ("/about", "/"), ("/images/team.jpg", "/about"), ("/blog/2024/05/spring-sale", "/"),
    ("/fonts/body.woff2", "/css/site.css"), ("/contact", "/"), ("/login", "/"),
    ("/account/orders?id=10042", "/login"), ("/help/shipping", "/account/orders"),
    ("/images/icons/truck.svg", "/help/shipping"), ("/", "/help/shipping"),
]
PROBES = {
    "general": [
        "/.env", "/.git/config", "/phpmyadmin/index.php", "/vendor/phpunit/phpunit/src/Util/PHP/eval-stdin.php",
        "/wp-config.php.bak", "/.aws/credentials", "/actuator/env", "/server-status", "/.DS_Store",
        "/backup.sql", "/shell.php", "/download?file=../../etc/passwd", "/index.php?page=%2e%2e%2fconfig",
        "/.svn/entries", "/admin/.htpasswd", "/_ignition/execute-solution", "/pma/", "/db.zip",
    ],
    "wordpress": [
        "/wp-login.php", "/wp-admin/", "/xmlrpc.php", "/wp-content/plugins/revslider/readme.txt",
        "/wp-includes/wlwmanifest.xml", "/wordpress/wp-admin/setup-config.php", "/wp-json/wp/v2/users",
    ],
}
ASSET_PATH = re.compile(r"\.(css|js|png|jpg|webp|svg|ico|woff2)$")
BARE_AGENTS = ["Mozilla/5.0", "Mozilla/4.0", "Mozilla/5.0 ", "MOZILLA/5.0"]


def read_data():
    browsers = [l for l in (HERE / "data" / "browsers.txt").read_text().splitlines()
                if l and not l.startswith("#")]
    crawlers = []
    for line in (HERE / "data" / "crawlers.tsv").read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        meant, tags, agent = line.split("\t", 2)
        crawlers.append((set() if meant == "-" else set(meant.split(",")), set(tags.split("+")), agent))
    return browsers, crawlers


class Log:
    """An access log in the combined format, one address per client."""

    def __init__(self, first_octet: int):
        self.lines: list[str] = []
        self.first = first_octet
        self.clients = 0
        self.second = 0

    def client(self) -> str:
        self.clients += 1
        n = self.clients
        return f"{self.first}.{n >> 16 & 255}.{n >> 8 & 255}.{n & 255}"

    def add(self, address: str, path: str, agent: str, referer: str | None = None) -> None:
        self.second += 1
        t = 1733650000 + self.second
        import time as _t
        stamp = _t.strftime("%d/%b/%Y:%H:%M:%S +0000", _t.gmtime(t))
        esc = lambda s: s.replace("\\", "\\\\").replace('"', '\\"')  # noqa: E731
        ref = f"http://shop.example{referer}" if referer else "-"
        self.lines.append(f'{address} - - [{stamp}] "GET {path} HTTP/1.1" 200 1000 "{esc(ref)}" "{esc(agent)}"')

    def write(self, path: Path) -> None:
        path.write_text("\n".join(self.lines) + "\n")


def build_logs(work: Path, browsers, crawlers):
    """The logs and, for each, the labels of its clients by address."""
    logs = {}
    browse = Log(10)
    labels = {}
    for agent in browsers:
        address = browse.client()
        labels[address] = {"agent": agent}
        for path, referer in BROWSING:
            browse.add(address, path, agent, referer)
    logs["browsers"] = (browse, labels)

    crawl = Log(11)
    labels = {}
    for meant, tags, agent in crawlers:
        address = crawl.client()
        # Every crawler walks 40 pages in a row: the page-run module is meant
        # to catch it, unless it names a large search engine.
        pace = set() if "names-search-engine" in tags else {"set/pace/page-run.ini"}
        labels[address] = {"agent": agent, "meant": meant | pace, "tags": tags}
        crawl.add(address, "/robots.txt", agent)
        for i in range(40):
            crawl.add(address, f"/products/item-{i}.html", agent, "/products/")
    logs["crawlers"] = (crawl, labels)

    probe = Log(12)
    labels = {}
    module_of = {"general": "set/probes/vulnerability-probes.ini", "wordpress": "set/probes/wordpress-probes.ini"}
    k = 0
    for kind, paths in PROBES.items():
        for i in range(len(paths)):
            address = probe.client()
            agent = browsers[k % len(browsers)]
            k += 1
            three = [paths[(i + j) % len(paths)] for j in range(3)]
            labels[address] = {"agent": agent, "meant": {module_of[kind]}, "probes": three}
            for path in ("/", three[0], "/about", three[1], "/css/site.css", three[2], "/"):
                probe.add(address, path, agent)
    logs["probes"] = (probe, labels)

    # Scripts fetch the pages only.
    pages = [(p, r) for p, r in BROWSING if not ASSET_PATH.search(p)][:6]
    impostor = Log(13)
    labels = {}
    for agent in BARE_AGENTS:
        address = impostor.client()
        labels[address] = {"agent": agent, "meant": {"set/impostors/bare-browser-agent.ini"}}
        for path, referer in pages:
            impostor.add(address, path, agent, referer)
    for agent in browsers:
        address = impostor.client()
        labels[address] = {"agent": agent, "meant": {"set/impostors/browser-without-language.ini"}}
        for path, referer in pages:
            impostor.add(address, path, agent, referer)
    logs["impostors"] = (impostor, labels)

    for name, (log, _) in logs.items():
        log.write(work / f"{name}.log")
    return {name: labels for name, (_, labels) in logs.items()}


def settings_folder(work: Path, name: str, modules: list[Path]) -> Path:
    """A settings folder with the demo's settings and pages and the given
    module files, each under its group folder."""
    folder = work / name
    action = folder / "Action"
    action.mkdir(parents=True)
    for f in ("Config.ini", "Return.html", "Code.html"):
        shutil.copyfile(REPO / "demo" / "settings" / f, folder / f)
    for m in modules:
        target = action / m.relative_to(RULES)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(m, target)
    return folder


def replay(tool: str, folder: Path, log: Path) -> dict:
    run = subprocess.run([tool, "replay", "--json", str(folder), str(log)], capture_output=True, text=True)
    if run.returncode != 0:
        raise SystemExit(f"measure: replay of {log.name} through {folder.name} failed "
                         f"({run.returncode}): {run.stdout[-2000:]}{run.stderr[-2000:]}")
    return json.loads(run.stdout)


def caught(report: dict) -> dict[str, str]:
    """Client address -> name of the module that first blocked or challenged it."""
    out: dict[str, str] = {}
    for d in report["decisions"]:
        if d["source"] in ("module", "challenge") and d["address"] not in out:
            out[d["address"]] = d["module"]["name"]
    return out


def stray_anchor(pattern: str) -> int | None:
    """Where a `^` other than the first byte or a `$` other than the last one
    stands outside a bracket class without a backslash: the dialect reads it
    as an ordinary byte, which a rule set never means."""
    i, in_class = 0, False
    while i < len(pattern):
        c = pattern[i]
        if c == "\\":
            i += 2
            continue
        if in_class:
            in_class = c != "]"
        elif c == "[":
            in_class = True
            if pattern[i + 1:i + 2] == "^":
                i += 1
        elif (c == "^" and i != 0) or (c == "$" and i != len(pattern) - 1):
            return i
        i += 1
    return None


def patterns_of(module: Path) -> list[str]:
    text = module.read_bytes().decode("gbk")
    return [line.split("=", 1)[1] for line in text.split("\r\n") if "_Rule=" in line]


def cost(tool: str, repeat: int) -> int:
    """Replay time of ordinary browsing through one small module, the set and
    the set with the extras (the Accept-Language module left out, as the log
    cannot hold the header). Wall time of the whole replay, log reading
    included, on one core: a rough figure of what the modules add per request."""
    import time
    browsers, _ = read_data()
    with tempfile.TemporaryDirectory(prefix="sentrel-rules-") as tmp:
        work = Path(tmp)
        log = Log(10)
        for _ in range(repeat):
            for agent in browsers:
                address = log.client()
                for path, referer in BROWSING:
                    log.add(address, path, agent, referer)
        log.write(work / "browsing.log")
        main_set = [m for m in sorted(MAIN.rglob("*.ini")) if b"HTTP_ACCEPT_LANGUAGE" not in m.read_bytes()]
        extras = sorted(EXTRA.rglob("*.ini"))
        folders = {
            "one module (WordPress probes)": [MAIN / "probes" / "wordpress-probes.ini"],
            f"the set ({len(main_set)} modules)": main_set,
            f"the set with the extras ({len(main_set) + len(extras)} modules)": main_set + extras,
        }
        requests = len(log.lines)
        print(f"replay of {requests} browser requests (the Accept-Language module left out):")
        for i, (name, modules) in enumerate(folders.items()):
            folder = settings_folder(work, f"cost-{i}", modules)
            best = None
            for _ in range(3):
                start = time.perf_counter()
                replay(tool, folder, work / "browsing.log")
                took = time.perf_counter() - start
                best = took if best is None else min(best, took)
            print(f"  {name:40} {best:6.2f} s  {1e6 * best / requests:6.1f} us per request")
    return 0


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tool", required=True, help="the sentrel tool")
    ap.add_argument("--check", action="store_true", help="exit 1 when a bar is missed")
    ap.add_argument("--json", help="also write the figures to this file")
    ap.add_argument("--cost", type=int, metavar="N",
                    help="only time replays of the browser log repeated N times through one module, "
                         "the set and the set with the extras (a rough cost per request)")
    args = ap.parse_args()
    if args.cost:
        return cost(args.tool, args.cost)

    problems: list[str] = []
    main_modules = sorted(MAIN.rglob("*.ini"))
    extra_modules = sorted(EXTRA.rglob("*.ini"))
    every = main_modules + extra_modules
    if not main_modules:
        raise SystemExit("measure: no module files under rules/")

    # 1. Patterns.
    pattern_count = 0
    for m in every:
        for p in patterns_of(m):
            pattern_count += 1
            run = subprocess.run([args.tool, "match", p], input="", capture_output=True, text=True)
            if run.returncode != 0:
                problems.append(f"{m.relative_to(RULES)}: pattern {p!r} does not compile: {run.stdout.strip()}")
            if p != p.lower():
                problems.append(f"{m.relative_to(RULES)}: pattern {p!r} has a capital letter")
            stray = stray_anchor(p)
            if stray is not None:
                problems.append(f"{m.relative_to(RULES)}: pattern {p!r} has {p[stray]!r} at byte {stray}, "
                                "where it is an ordinary byte, not an anchor")

    with tempfile.TemporaryDirectory(prefix="sentrel-rules-") as tmp:
        work = Path(tmp)
        # 2. Lint.
        whole = settings_folder(work, "whole", every)
        lint = subprocess.run([args.tool, "lint", str(whole)], capture_output=True, text=True)
        loaded = lint.stdout.count("loaded as module")
        if lint.returncode != 0 or loaded != len(every):
            problems.append(f"lint loads {loaded} of {len(every)} files (exit {lint.returncode}):\n{lint.stdout}")

        # 3. Replays.
        browsers, crawlers = read_data()
        labels = build_logs(work, browsers, crawlers)
        logs = {name: work / f"{name}.log" for name in labels}
        results: dict = {"modules": {}, "set": {}}
        header_modules: set[str] = set()

        for m in every:
            key = str(m.relative_to(RULES))
            folder = settings_folder(work, "m-" + key.replace("/", "-"), [m])
            row: dict = {}
            for name, log in logs.items():
                if name == "browsers":
                    continue
                report = replay(args.tool, folder, log)
                got = caught(report)
                meant = [a for a, l in labels[name].items() if key in l.get("meant", ())]
                row.setdefault("targets", 0)
                row.setdefault("caught", 0)
                row["targets"] += len(meant)
                row["caught"] += sum(1 for a in meant if a in got)
                row.setdefault("others caught", 0)
                row["others caught"] += sum(1 for a in got if a not in meant)
                row.setdefault("name", report["modules"][0]["name"])
                if report["variablesNotInLog"]:
                    header_modules.add(key)
                    row["not in access logs"] = [v["name"] for v in report["variablesNotInLog"]]
            if key in header_modules:
                row["browser false positives"] = None
            else:
                got = caught(replay(args.tool, folder, logs["browsers"]))
                row["browser false positives"] = len(got)
                if got:
                    problems.append(f"{key} blocks or challenges {len(got)} browser clients, e.g. "
                                    f"{labels['browsers'][next(iter(got))]['agent']!r}")
            if row["caught"] < row["targets"]:
                problems.append(f"{key} catches {row['caught']} of its {row['targets']} targets")
            results["modules"][key] = row

        for set_name, modules in (("set", main_modules), ("set with extras", every)):
            replayable = [m for m in modules if str(m.relative_to(RULES)) not in header_modules]
            folder = settings_folder(work, set_name.replace(" ", "-"), replayable)
            fp = caught(replay(args.tool, folder, logs["browsers"]))
            crawl = caught(replay(args.tool, folder, logs["crawlers"]))
            must_pass = [a for a, l in labels["crawlers"].items() if "must-pass" in l["tags"]]
            wrongly = [a for a in must_pass if a in crawl]
            for a in wrongly:
                problems.append(f"{set_name}: the search-engine crawler {labels['crawlers'][a]['agent']!r} "
                                f"is caught by {crawl[a]}")
            if fp:
                problems.append(f"{set_name}: {len(fp)} browser clients blocked or challenged")
            by_module: dict[str, int] = {}
            for a, name in crawl.items():
                by_module[name] = by_module.get(name, 0) + 1
            results["set"][set_name] = {
                "modules": len(modules),
                "browser clients": len(labels["browsers"]),
                "browser false positives": len(fp),
                "modules replayed": len(replayable),
                "crawler clients": len(labels["crawlers"]),
                "crawler clients caught": len(crawl),
                "caught by": dict(sorted(by_module.items(), key=lambda kv: -kv[1])),
                "search-engine crawlers that must pass": len(must_pass),
                "of them caught": len(wrongly),
            }

    # Report.
    print(f"Rule set: {len(main_modules)} modules, {len(extra_modules)} extra; "
          f"with the extras {len(every)} of the filter's {MODULE_LIMIT} module files "
          f"({MODULE_LIMIT - len(every)} left for the site's own). {pattern_count} patterns compiled.")
    print()
    print(f"{'module':44} {'targets':>7} {'caught':>7} {'share':>7} {'others':>7} {'browser FP':>11}")
    for key, row in results["modules"].items():
        share = f"{100 * row['caught'] / row['targets']:.1f} %" if row["targets"] else "-"
        fp = row["browser false positives"]
        fp_text = "n/a (header)" if fp is None else f"{fp}/{len(labels['browsers'])}"
        print(f"{key:44} {row['targets']:7} {row['caught']:7} {share:>7} {row['others caught']:7} {fp_text:>11}")
    for set_name, row in results["set"].items():
        print()
        print(f"{set_name} ({row['modules']} modules):")
        print(f"  browsers: {row['browser false positives']} of {row['browser clients']} clients blocked or "
              f"challenged ({100 * row['browser false positives'] / row['browser clients']:.1f} % false positives; "
              f"{row['modules replayed']} modules replayed)")
        print(f"  crawlers and tools: {row['crawler clients caught']} of {row['crawler clients']} clients caught "
              f"({100 * row['crawler clients caught'] / row['crawler clients']:.1f} %)")
        print("    by " + ", ".join(f"{k}: {v}" for k, v in row["caught by"].items()))
        print(f"  declared crawlers of the large search engines: {row['of them caught']} of "
              f"{row['search-engine crawlers that must pass']} caught")
    if header_modules:
        print()
        for key in sorted(header_modules):
            print(f"note: {key} reads {', '.join(results['modules'][key]['not in access logs'])}, which access "
                  "logs do not record: not replayed in the whole set")
    if args.json:
        Path(args.json).write_text(json.dumps(results, indent=1) + "\n")
    if problems:
        print()
        for p in problems:
            print("PROBLEM: " + p)
    return 1 if args.check and problems else 0


if __name__ == "__main__":
    sys.exit(main())
