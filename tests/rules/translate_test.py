#!/usr/bin/env python3
"""The translation of list patterns into rule patterns, checked with the
filter's own matcher (`sentrel match`): each list pattern of the table, once
translated and packed, must find the lower-cased user agents it finds in the
list's syntax and no others, and shapes that would not run in linear time or
that the translation does not understand must be refused.

    translate_test.py --tool build/tools/sentrel
"""

from __future__ import annotations

import argparse
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "rules"))
import translate  # noqa: E402

# list pattern, user agents it must find, user agents it must not find
CASES = [
    ("GPTBot", ["Mozilla/5.0 (compatible; GPTBot/1.2)"], ["Mozilla/5.0 Chrome/120"]),
    ("[cC]laude[bB]ot", ["ClaudeBot/1.0", "claudebot"], ["claude-web"]),
    ("Ahrefs(Bot|SiteAudit)", ["AhrefsBot/7.0", "AhrefsSiteAudit/6.1"], ["Ahrefs", "ahrefsbo"]),
    ("(sistrix|SISTRIX) [cC]rawler", ["SISTRIX Crawler"], ["sistrix-crawler"]),
    # anchors: only at the very start or end of a rule pattern
    ("^curl", ["curl/8.5.0"], ["Mozilla/5.0 curl/8.5.0"]),
    ("SSL Labs$", ["x SSL Labs"], ["SSL Labs scanner"]),
    ("(^| )sentry\\/", ["sentry/1.0", "x sentry/2"], ["xsentry/1"]),
    ("AdsBot-Google([^-]|$)", ["AdsBot-Google", "AdsBot-Google (+http)"], ["AdsBot-Google-Mobile"]),
    # bytes special in the rule dialect are escaped, `|` between words grouped
    ("bigsur\\.ai", ["bigsur.ai agent"], ["bigsurxai"]),
    ("Unshorten\\.It\\!", ["Unshorten.It!/1"], ["unshorten.it"]),
    ("Automaton|Newsify Feed Fetcher", ["Automaton 1", "Newsify Feed Fetcher"], ["newsify"]),
    ("BlogTraffic\\/\\d\\.\\d+ Feed-Fetcher", ["BlogTraffic/1.25 Feed-Fetcher"], ["BlogTraffic/x.1 Feed-Fetcher"]),
    ("Odin;", ["Odin; x"], ["odin"]),
    ("Y!J", ["Y!J-BRW/1.0"], ["YJ"]),
    ("dbot\\)", ["(dbot)"], ["dbot"]),
]
REFUSED = [
    "Spider[\\s\\S]*spider\\.com",  # a run of any byte
    "(a+)+b",                       # nested repetition
    "(ab|cd)+",                     # repetition of a choice
    "a{2}",                         # counted repetition
    "a(?i)b",                       # group flags
    "x\\by",                        # word boundary
    "a^b",                          # anchor in the middle
]


def matches(tool: str, pattern: str, subjects: list[str]) -> list[bool]:
    run = subprocess.run([tool, "match", pattern], input="".join(s + "\n" for s in subjects),
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError(f"{pattern!r} does not compile: {run.stdout.strip()}")
    return [line.startswith("yes") for line in run.stdout.splitlines()]


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    tool = ap.parse_args().tool
    failures = []
    checks = len(REFUSED) + 2
    for source, found, not_found in CASES:
        # Packed beside another entry, as in a module: the result must not
        # depend on the neighbours.
        patterns = translate.pack(translate.translate(source) + [translate.literal("zzneighbour")])
        subjects = [s.lower() for s in found + not_found]
        checks += len(subjects)
        hits = [any(col) for col in zip(*(matches(tool, p, subjects) for p in patterns))]
        for s, hit, want in zip(subjects, hits, [True] * len(found) + [False] * len(not_found)):
            if hit != want:
                failures.append(f"{source!r} as {patterns}: {s!r} {'found' if hit else 'not found'}")
    for source in REFUSED:
        try:
            got = translate.translate(source)
            failures.append(f"{source!r} was translated to {got}")
        except translate.Unsupported:
            pass
    # A long list is cut into patterns of at most 255 bytes, none lost.
    tokens = [f"robot{i:03d}" for i in range(120)]
    packed = translate.pack([translate.literal(t) for t in tokens])
    if any(len(p) > 255 for p in packed) or sum(p.count("(") for p in packed) != len(tokens):
        failures.append(f"packing 120 tokens gave {[len(p) for p in packed]}")
    # An entry that contains another adds nothing and is dropped.
    if translate.pack([translate.literal("claude-searchbot"), translate.literal("searchbot")]) != ["searchbot"]:
        failures.append("claude-searchbot was kept beside searchbot")
    for f in failures:
        print("FAIL: " + f)
    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
