#!/usr/bin/env python3
"""Writes the starter rule set: the module files under rules/ and the labelled
request sets under tests/rules/data/ that measure them.

    python3 rules/generate.py            write the modules and the labelled sets
                                         from the lists kept in rules/sources/
    python3 rules/generate.py --update   first install the newest versions of
                                         the public lists with npm (into
                                         build/cache/npm), copy them into
                                         rules/sources/ and record their
                                         versions, then write as above
    python3 rules/generate.py --check    write nothing; exit 1 when a file on
                                         disk differs from what would be written

The public lists (MIT licence, see rules/sources/):
  crawler-user-agents  user-agent patterns of crawlers, tools and libraries,
                       each with tags and sample user agents
  top-user-agents      the most common browser user agents of the moment

Module files are written in the system code page (GBK; every text here is
ASCII) with CR LF line ends. Every list pattern goes through translate.py,
which refuses shapes it cannot write as linear-time, lower-case patterns.
"""

from __future__ import annotations

import argparse
import json
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import translate  # noqa: E402

REPO = Path(__file__).resolve().parents[1]
RULES = REPO / "rules"
SOURCES = RULES / "sources"
DATA = REPO / "tests" / "rules" / "data"
NPM_CACHE = REPO / "build" / "cache" / "npm"

PACKAGES = ("crawler-user-agents", "top-user-agents")

# A step that counts every request and never completes: the first step of the
# "any of these" modules below.
ENDLESS = "0-2147483647"
ROBOTS = r"^/robots\.txt$"

LOG_CONTENT = "{DATE} {TIME} {S(REMOTE_ADDR)} %s {S(URL)} {S(HTTP_USER_AGENT)}"

# Patterns of the list written by hand, where the list's own pattern is not a
# linear-time shape (a run of any byte between two words): the distinctive
# tail is enough.
OVERRIDES = {
    r"Spider[\s\S]*spider\.com": [r"spider\.com"],
    r"ContextualBot[\s\S]*outcomes\.net": [r"outcomes\.net"],
    r"Current[\s\S]*RSS Reader": [r"current rss reader"],
}


@dataclass
class Rule:
    parameter: str
    pattern: str
    compare: int = 1


@dataclass
class Step:
    section: str
    times: str
    rules: list[Rule]


@dataclass
class Module:
    path: str  # below rules/
    name: str
    about: str
    execute: int
    times: int
    dateline: int
    log: str
    steps: list[Step]
    # Blocking modules are read in the middle group, challenging ones in the
    # last: when one request completes both kinds, the block wins.
    priority: int = 1
    # For the labelled sets: which samples this module is meant to catch.
    targets: list[str] = field(default_factory=list)


def any_of(parameter_patterns: list[tuple[str, str]], section: str) -> list[Step]:
    """The steps of a module that counts requests matching any of several
    patterns (more than one rule's 255 bytes hold):

    Step 1 wants every pattern NOT to match and lets any number of requests
    through (0 to a count no client reaches), so it never completes. A request
    that matches one of the patterns breaks it; as the hits so far lie within
    the step's range, the step counts as done and the same request is tested
    against step 2. Step 2 holds for every request except one for
    /robots.txt, so a crawler can always read that file; its one hit ends a
    pass through the module. The module fires after `Times` passes, that is
    at the Times-th matching request, whether or not other requests came in
    between.

    Every rule of step 1 wants no match of a non-empty pattern, so a request
    that lacks the variable holds the step at once: no wait for it."""
    step1 = Step(section, ENDLESS, [Rule(p, pat, 0) for p, pat in parameter_patterns])
    step2 = Step("Page", "1", [Rule("URL", ROBOTS, 0)])
    return [step1, step2]


def agents(patterns: list[str]) -> list[tuple[str, str]]:
    return [("HTTP_USER_AGENT", p) for p in patterns]


def dialect_entries(patterns: list[str]) -> list[translate.DialectEntry]:
    out: list[translate.DialectEntry] = []
    for p in patterns:
        if p in OVERRIDES:
            out.extend(translate.literal(t) if "\\" not in t else translate.translate(t)[0]
                       for t in OVERRIDES[p])
        else:
            try:
                out.extend(translate.translate(p))
            except translate.Unsupported as e:
                raise SystemExit(f"generate: list pattern {p!r} cannot be translated ({e}); "
                                 "add it to OVERRIDES in rules/generate.py")
    return out


# --- choosing entries of the crawler list -----------------------------------

def with_tag(entries, tag, without=()):
    return [e for e in entries if tag in e["tags"] and not set(without) & set(e["tags"])]


def named(entries, patterns):
    by_pattern = {e["pattern"]: e for e in entries}
    missing = [p for p in patterns if p not in by_pattern]
    if missing:
        raise SystemExit(f"generate: the crawler list no longer has {missing}; update the pick list")
    return [by_pattern[p] for p in patterns]


# Scanner-tagged entries that are attack and reconnaissance tools. The rest of
# that tag is certificate validation (Let's Encrypt, DigiCert), TLS and header
# checkers and consent-banner scanners that a site wants to let in.
ATTACK_TOOLS = [
    "zgrab", "Nmap Scripting Engine", "Nikto", "sqlmap", "ZmEu", "masscan", "WPScan",
    "[aA]cunetix", "Nessus", "[dD]ir[Bb]uster", "OpenVAS", "WhatWeb\\/", "l9explore", "l9scan",
    "UT-Dorkbot", "CensysInspect\\/", "NetSystemsResearch", "HTTP Banner Detection",
]
# Site copiers and scraping frameworks from the archiver and http-library
# tags: programs that download whole sites.
SITE_COPIERS = [
    "HTTrack", "WebZIP", "CyotekWebCopy", "SiteSucker", "WebCopier", "Offline Explorer",
    "Scrapy", "colly", "crawler4j", "larbin", "phpcrawl", "SimpleCrawler", "Download Ninja",
]
# Scripted HTTP clients (http-library tag) left out of the scripted-clients
# module: CDN and SaaS fetchers a site may depend on, and libraries that
# mobile apps and integrations use for ordinary API calls.
SCRIPTED_EXCLUDED = {
    "Amazon CloudFront", "Salesforce\\.com", "okhttp", "Jetty", "BTWebClient", "AnyEvent",
    "HttpUrlConnection", "axios", "node-fetch", "sindresorhus\\/got", "CustomAsyncHttpClient",
    "ALittle Client", "AHC\\/",
} | set(SITE_COPIERS)

# Declared crawlers of the large search engines, left alone by the modules
# that judge behaviour (page runs, missing browser headers). A client that
# only claims one of these names passes those modules too; see the follow-up
# in docs/admin/rule-set.md.
SEARCH_ENGINE_TOKENS = ("googlebot", "bingbot", "yandex", "baiduspider", "duckduckbot", "applebot", "slurp",
                        "sogou", "seznambot", "petalbot", "qwant", "yeti/", "360spider")
SEARCH_ENGINES = "|".join(f"({t})" for t in SEARCH_ENGINE_TOKENS)
# Tokens of declared robots in a user agent that otherwise looks like a browser.
DECLARED_ROBOT = r"(bot)|(crawl)|(spider)|(slurp)|(http)|(preview)|(fetch)"

# Probes: paths that no ordinary visitor asks for.
PROBE_PATHS = [
    r"/\.((env)|(git)|(svn)|(hg/)|(bzr)|(aws/)|(ssh/)|(ds_store)|(htpasswd)|(htaccess)|(docker))",
    r"/\.((vscode/)|(idea/)|(npmrc)|(bash_history)|(config/))",
    r"(phpmyadmin)|(/pma/)|(/myadmin/)|(/phpinfo\.php)|(/vendor/phpunit/)|(eval-stdin\.php)|(wp-config)",
    r"(/actuator/)|(/server-status)|(/boaform/)|(/hnap1)|(/etc/passwd)|(/proc/self/)|(/_ignition/)",
    r"/((shell)|(cmd)|(c99)|(r57)|(webshell)|(adminer))\.php",
    r"/((backup)|(dump)|(db)|(database)|(site))\.((sql)|(zip)|(tar)|(tgz)|(rar)|(7z))",
    r"\.sql$",
]
PROBE_QUERIES = [
    r"(\.\./)|(\.\.%2f)|(%2e%2e)|(etc/passwd)|(etc%2fpasswd)|(allow_url_include)|(auto_prepend_file)",
]
WORDPRESS_PATHS = [
    r"(/wp-login\.php)|(/wp-admin)|(/wp-includes/)|(/wp-content/)|(/xmlrpc\.php)|(/wp-json/)|(/wordpress/)",
]
# Files a browser fetches for a page; a run of requests with none of these
# between them is a crawler's walk.
ASSETS = r"\.((css)|(js)|(mjs)|(map)|(json)|(png)|(gif)|(jpg)|(jpeg)|(webp)|(avif)|(svg)|(ico)|(bmp)|" \
         r"(woff)|(woff2)|(ttf)|(otf)|(eot)|(mp4)|(webm)|(mp3))$"
APIS = r"^/((api)|(ajax)|(graphql)|(socket\.io)|(\.well-known))"


def build_modules(crawlers: list[dict]) -> list[Module]:
    def pats(entries):
        return [e["pattern"] for e in entries]

    def packed(entries, extra=()):
        return translate.pack(dialect_entries(pats(entries)) + [translate.literal(t) for t in extra])

    ai = with_tag(crawlers, "ai-crawler", without=("search-engine",))
    ai_search = [e for e in with_tag(crawlers, "ai-crawler") if "search-engine" in e["tags"]]
    attack = named(crawlers, ATTACK_TOOLS)
    copiers = named(crawlers, SITE_COPIERS)
    scripted = [e for e in with_tag(crawlers, "http-library") if e["pattern"] not in SCRIPTED_EXCLUDED]
    seo = with_tag(crawlers, "seo", without=("search-engine", "ai-crawler"))

    def ua_module(path, name, about, entries, execute, times, dateline, log, extra=()):
        return Module(path, name, about, execute, times, dateline, log,
                      any_of(agents(packed(entries, extra)), "Agent"),
                      targets=[f"list:{e['pattern']}" for e in entries] + [f"token:{t}" for t in extra])

    modules = [
        ua_module(
            "set/crawlers/ai-crawlers.ini", "AI crawlers",
            "Blocks for a day the crawlers that collect pages for AI models (the ai-crawler\n"
            "entries of the crawler-user-agents list, without the AI search engines).\n"
            "robots.txt stays readable: a crawler that honours it never asks for a page.",
            ai, 0, 1, 86400, "AiCrawler"),
        ua_module(
            "set/crawlers/site-copiers.ini", "Site copiers",
            "Blocks for a day the programs that download whole sites and the scraping\n"
            "frameworks (picked from the crawler-user-agents list).",
            copiers, 0, 1, 86400, "SiteCopier",
            extra=("firecrawl", "crawl4ai", "webreaper", "teleport pro")),
        ua_module(
            "set/crawlers/attack-tools.ini", "Attack tools",
            "Blocks for a day the vulnerability scanners and reconnaissance tools that\n"
            "name themselves in the User-Agent.",
            attack, 0, 1, 86400, "AttackTool",
            extra=("nuclei", "gobuster", "fuzz faster u fool", "wfuzz", "feroxbuster",
                   "jorgee", "havij", "w3af", "arachni/", "netsparker")),
        Module(
            "set/probes/vulnerability-probes.ini", "Vulnerability probes",
            "Blocks for a day a client at its third request for a path that only\n"
            "attackers ask for: dot-files (.env, .git), database front ends, debug\n"
            "endpoints, shells, dumps, and path traversal in the query string.",
            0, 3, 86400, "Probe",
            any_of([("URL", p) for p in PROBE_PATHS] + [("QUERY_STRING", q) for q in PROBE_QUERIES], "Probe"),
            targets=["probe:general"]),
        Module(
            "set/probes/wordpress-probes.ini", "WordPress probes",
            "Blocks for a day a client at its third request for a WordPress path.\n"
            "Remove this module on a site that runs WordPress.",
            0, 3, 86400, "WordPressProbe",
            any_of([("URL", p) for p in WORDPRESS_PATHS], "Probe"),
            targets=["probe:wordpress"]),
        Module(
            "set/impostors/browser-without-language.ini", "Browser without Accept-Language",
            "Puts to the picture code for an hour a client that claims to be a browser\n"
            "but sends no Accept-Language header, three page requests in a row. Browsers\n"
            "always send one; scripts that copy a browser's User-Agent usually do not.",
            3, 1, 3600, "Impostor",
            [Step("Claim", "3", [
                Rule("HTTP_ACCEPT_LANGUAGE", "", 1),
                Rule("URL", ASSETS, 0),
                Rule("HTTP_USER_AGENT", r"^mozilla/5\.0 \(", 1),
                Rule("HTTP_USER_AGENT", DECLARED_ROBOT, 0),
                Rule("HTTP_USER_AGENT", SEARCH_ENGINES, 0),
            ])],
            priority=0, targets=["impostor:no-language"]),
        Module(
            "set/impostors/bare-browser-agent.ini", "Bare browser agent",
            "Puts to the picture code for an hour a client at its third request whose\n"
            "User-Agent is only a browser's product token (Mozilla/5.0 and nothing\n"
            "else). No browser sends that; it is a script's default or a forgery.",
            3, 3, 3600, "Impostor",
            any_of([("HTTP_USER_AGENT", r"^mozilla/\d\.\d\b*$")], "Agent"),
            priority=0, targets=["impostor:bare"]),
        Module(
            "set/pace/page-run.ini", "Page run",
            "Puts to the picture code for an hour a client that asks for 30 pages in a\n"
            "row without a single image, style sheet, script or font between them.\n"
            "A browser fetches those with the pages; a harvester does not. API paths\n"
            "and the large search engines' declared crawlers are not counted.",
            3, 1, 3600, "PageRun",
            [Step("Pages", "30", [
                Rule("URL", ASSETS, 0),
                Rule("URL", APIS, 0),
                Rule("HTTP_USER_AGENT", SEARCH_ENGINES, 0),
            ])],
            priority=0, targets=["pace:pages"]),
        # Off by default (rules/extra/): policies that depend on the site.
        ua_module(
            "extra/ai-search-engines.ini", "AI search engines",
            "Blocks for a day the crawlers of AI search engines and assistants (ai-crawler\n"
            "entries tagged search-engine). Blocking them keeps the site out of those\n"
            "engines' answers.",
            ai_search, 0, 1, 86400, "AiSearch"),
        ua_module(
            "extra/seo-crawlers.ini", "SEO crawlers",
            "Blocks for a day the crawlers of SEO and marketing services (seo entries of\n"
            "the crawler-user-agents list). A site that uses such a service must let its\n"
            "crawler in.",
            seo, 0, 1, 86400, "SeoCrawler"),
        Module(
            "extra/scripted-clients.ini", "Scripted clients",
            "Puts to the picture code for an hour a client at its fifth request whose\n"
            "User-Agent names an HTTP library (curl, wget, python-requests, Go, ...).\n"
            "Libraries used by mobile apps, CDNs and integrations are left out; still,\n"
            "a site with an API or with health checks by curl must not use it.",
            3, 5, 3600, "Scripted",
            any_of(agents(packed(scripted)), "Agent"),
            priority=0, targets=[f"list:{e['pattern']}" for e in scripted]),
    ]
    return modules


# --- writing module files ---------------------------------------------------

def module_text(m: Module) -> str:
    lines = [
        "[About]",
        "Version=4.3.0",
        f"Name={m.name}",
        "Author=Sentrel rule set (rules/generate.py)",
        "About=" + m.about.replace("\n", "\\n"),
        "[Config]",
        f"Priority={m.priority}",
        "[Cofing]",
        f"Execute={m.execute}",
        "Setp=0",
        "LogName=RuleSet",
        "LogFileName=",
        "LogContent=" + LOG_CONTENT % m.log,
        f"Times={m.times}",
        f"Dateline={m.dateline}",
        "[Step]",
        f"Count={len(m.steps)}",
    ]
    lines += [f"{i}={s.section}" for i, s in enumerate(m.steps, 1)]
    for s in m.steps:
        lines += [f"[{s.section}]", f"Times={s.times}", f"Count={len(s.rules)}"]
        for j, r in enumerate(s.rules, 1):
            if len(r.pattern.encode()) > 255:
                raise SystemExit(f"generate: a pattern of {m.name} is longer than 255 bytes")
            lines += [f"{j}_Parameter={r.parameter}", f"{j}_Compare={r.compare}", f"{j}_Rule={r.pattern}"]
    return "\r\n".join(lines) + "\r\n"


# --- labelled request sets ----------------------------------------------------

def labelled_sets(crawlers: list[dict], browsers: list[str], modules: list[Module],
                  versions: dict[str, str]) -> dict[str, str]:
    """The browser agents, and the crawler and tool agents each with the
    module files meant to catch it (none for those no module targets)."""
    by_target: dict[str, list[str]] = {}
    for m in modules:
        for t in m.targets:
            by_target.setdefault(t, []).append(m.path)
    head = (f"# Derived by rules/generate.py from {{}} {{}} (MIT licence); "
            "regenerate, do not edit.\n")
    out = {}
    out["browsers.txt"] = head.format("top-user-agents", versions["top-user-agents"]) + "".join(
        b + "\n" for b in browsers)
    rows = []
    for e in crawlers:
        meant = by_target.get(f"list:{e['pattern']}", [])
        for ua in e["instances"]:
            if "\t" in ua or "\n" in ua:
                continue
            # Agents naming a large search engine pass the behaviour modules;
            # the declared crawlers of those engines must pass the whole set.
            tags = list(e["tags"])
            if any(t in ua.lower() for t in SEARCH_ENGINE_TOKENS):
                tags.append("names-search-engine")
                if "search-engine" in e["tags"]:
                    tags.append("must-pass")
            rows.append(f"{','.join(meant) or '-'}\t{'+'.join(tags) or '-'}\t{ua}\n")
    for m in modules:
        for t in m.targets:
            if t.startswith("token:"):
                rows.append(f"{m.path}\tproject-token\t{t[6:]}/1.0\n")
    out["crawlers.tsv"] = (head.format("crawler-user-agents", versions["crawler-user-agents"])
                           + "# modules meant to catch it (- for none)<TAB>list tags<TAB>user agent\n"
                           + "".join(dict.fromkeys(rows)))
    return out


# --- sources ------------------------------------------------------------------

def read_versions() -> dict[str, str]:
    versions = {}
    for line in (SOURCES / "versions.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            name, version = line.split()
            versions[name] = version
    return versions


def update_sources() -> None:
    if shutil.which("npm") is None:
        raise SystemExit("generate: --update needs npm (scripts/install-deps installs it)")
    NPM_CACHE.mkdir(parents=True, exist_ok=True)
    subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--prefix", str(NPM_CACHE)]
                   + [f"{p}@latest" for p in PACKAGES], check=True)
    modules = NPM_CACHE / "node_modules"
    versions = {p: json.loads((modules / p / "package.json").read_text())["version"] for p in PACKAGES}
    crawler = json.loads((modules / "crawler-user-agents" / "crawler-user-agents.json").read_text())
    kept = [{"pattern": e["pattern"], "tags": e.get("tags", []), "instances": e.get("instances", [])}
            for e in crawler]
    (SOURCES / "crawler-user-agents.json").write_text(json.dumps(kept, indent=1, ensure_ascii=False) + "\n")
    top = json.loads((modules / "top-user-agents" / "src" / "index.json").read_text())
    (SOURCES / "top-user-agents.json").write_text(json.dumps(top, indent=1) + "\n")
    shutil.copyfile(modules / "crawler-user-agents" / "LICENSE", SOURCES / "crawler-user-agents.LICENSE")
    shutil.copyfile(modules / "top-user-agents" / "LICENSE.md", SOURCES / "top-user-agents.LICENSE")
    (SOURCES / "versions.txt").write_text(
        "# npm packages the lists in this folder were copied from (rules/generate.py --update)\n"
        + "".join(f"{p} {versions[p]}\n" for p in PACKAGES))
    print("generate: lists updated: " + ", ".join(f"{p} {v}" for p, v in versions.items()))


def outputs() -> dict[Path, bytes]:
    crawlers = json.loads((SOURCES / "crawler-user-agents.json").read_text())
    browsers = json.loads((SOURCES / "top-user-agents.json").read_text())
    versions = read_versions()
    modules = build_modules(crawlers)
    files: dict[Path, bytes] = {}
    for m in modules:
        files[RULES / m.path] = module_text(m).encode("gbk")
    for name, text in labelled_sets(crawlers, browsers, modules, versions).items():
        files[DATA / name] = text.encode()
    return files


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--update", action="store_true", help="fetch the newest lists with npm first")
    ap.add_argument("--check", action="store_true", help="compare with the files on disk, write nothing")
    args = ap.parse_args()
    if args.update and args.check:
        ap.error("--update and --check exclude each other")
    if args.update:
        update_sources()
    files = outputs()
    written = sorted(p for p in RULES.rglob("*.ini"))
    stale = [p for p in written if p not in files]
    if args.check:
        differ = [p for p, b in files.items() if not p.exists() or p.read_bytes() != b]
        for p in differ + stale:
            print(f"generate --check: {p.relative_to(REPO)} is not what rules/generate.py writes")
        return 1 if differ or stale else 0
    for p in stale:
        p.unlink()
    for p, b in files.items():
        p.parent.mkdir(parents=True, exist_ok=True)
        if not p.exists() or p.read_bytes() != b:
            p.write_bytes(b)
            print(f"generate: wrote {p.relative_to(REPO)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
