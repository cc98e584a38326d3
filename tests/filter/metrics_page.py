#!/usr/bin/env python3
"""Reads a metrics page with the Python client's text parser and prints it in
a canonical form, for the filter's metrics test to compare:

  family NAME TYPE help|nohelp     one line per family, in page order
  NAME{KEY="VALUE",...} VALUE      one line per sample, labels sorted by key,
                                   label values as decoded (not escaped)

Exits 1 when the page does not parse (the parser's message on standard
error), 2 when the parser is not installed (Debian: python3-prometheus-client).
"""

import sys

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("the Python client's text parser is missing: install python3-prometheus-client",
          file=sys.stderr)
    sys.exit(2)


def main() -> int:
    with open(sys.argv[1], "rb") as f:
        text = f.read().decode("utf-8")  # a page that is not UTF-8 fails here
    try:
        families = list(text_string_to_metric_families(text))
    except Exception as e:  # the parser raises ValueError and others
        print(f"the page does not parse: {e!r}", file=sys.stderr)
        return 1
    out = []
    for family in families:
        out.append(f"family {family.name} {family.type} {'help' if family.documentation else 'nohelp'}")
        for s in family.samples:
            labels = ",".join(f'{k}="{v}"' for k, v in sorted(s.labels.items()))
            value = int(s.value) if float(s.value).is_integer() else s.value
            out.append(f"{s.name}{{{labels}}} {value}" if labels else f"{s.name} {value}")
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
