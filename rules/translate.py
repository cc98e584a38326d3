"""Turns the user-agent patterns of a public crawler list into rule patterns.

The list writes its patterns in the common regular-expression syntax and
matches them case-sensitively against the user agent as sent. A rule's
pattern is matched against the lower-cased value, in the filter's own
dialect, where `|` joins single items, braces make groups, `!` is a
look-ahead and `^`/`$` are anchors only as the first/last byte. So every list
pattern is parsed here into a small tree, lower-cased, checked for a shape
that the matcher runs in linear time, and written again in the dialect.

Only the subset of the common syntax that the list uses is understood;
anything else raises Unsupported, and the generator stops and names the
pattern, so that a list update never slips an untranslated pattern into a
module.
"""

from __future__ import annotations

from dataclasses import dataclass, field


class Unsupported(ValueError):
    pass


# Bytes a dialect pattern may hold literally without a backslash.
_PLAIN = set("abcdefghijklmnopqrstuvwxyz0123456789 -_/:;,=@'\"#%&~<>`")
# Bytes that need a backslash to stand for themselves (never a letter or a
# digit: a backslash and a letter may be an abbreviation, and a backslash and
# digits a back-reference).
_SPECIAL = set(".[](){}|*+?!\\^$")


@dataclass
class Lit:
    ch: str


@dataclass
class Any:
    pass


@dataclass
class Cls:
    members: frozenset[str]
    negated: bool = False


@dataclass
class Group:
    alternatives: list[list]  # each a sequence of items


@dataclass
class Quant:
    item: object
    kind: str  # "*", "+" or "?"


@dataclass
class Anchor:
    kind: str  # "^" or "$"


@dataclass
class Entry:
    """One alternative of a list pattern: a plain sequence, maybe anchored."""
    items: list = field(default_factory=list)
    start: bool = False
    end: bool = False


_SPACE = frozenset(" \t")
_DIGITS = frozenset("0123456789")
_WORD = frozenset("abcdefghijklmnopqrstuvwxyz0123456789_")


class _Parser:
    def __init__(self, text: str):
        self.text = text
        self.pos = 0

    def peek(self) -> str:
        return self.text[self.pos] if self.pos < len(self.text) else ""

    def take(self) -> str:
        ch = self.peek()
        self.pos += 1
        return ch

    def alternatives(self) -> list[list]:
        alts = [self.sequence()]
        while self.peek() == "|":
            self.take()
            alts.append(self.sequence())
        return alts

    def sequence(self) -> list:
        items: list = []
        while self.peek() not in ("", "|", ")"):
            item = self.atom()
            q = self.peek()
            if q in ("*", "+", "?"):
                self.take()
                if self.peek() == "?":
                    raise Unsupported("lazy quantifier")
                if isinstance(item, Anchor):
                    raise Unsupported("quantified anchor")
                item = Quant(item, q)
            elif q == "{":
                raise Unsupported("counted repetition")
            items.append(item)
        return items

    def escape(self, in_class: bool):
        ch = self.take()
        if ch == "":
            raise Unsupported("lone backslash")
        if ch == "d":
            return _DIGITS
        if ch == "s":
            return _SPACE
        if ch == "w":
            return _WORD
        if ch.isalnum():
            raise Unsupported(f"escape \\{ch}")
        return ch

    def atom(self):
        ch = self.take()
        if ch == "(":
            if self.peek() == "?":
                self.take()
                if self.take() != ":":
                    raise Unsupported("group flags")
            alts = self.alternatives()
            if self.take() != ")":
                raise Unsupported("unclosed group")
            return Group(alts)
        if ch == "[":
            return self.klass()
        if ch == "\\":
            got = self.escape(False)
            return Cls(frozenset(got)) if isinstance(got, frozenset) else Lit(got)
        if ch == ".":
            return Any()
        if ch in ("^", "$"):
            return Anchor(ch)
        if ch in ("*", "+", "?", "{", "}", "]"):
            raise Unsupported(f"stray {ch}")
        return Lit(ch)

    def klass(self) -> Cls:
        negated = self.peek() == "^"
        if negated:
            self.take()
        members: set[str] = set()
        every = False
        first = True
        while True:
            ch = self.take()
            if ch == "":
                raise Unsupported("unclosed class")
            if ch == "]" and not first:
                break
            first = False
            if ch == "\\" and self.peek() == "S":
                # [\s\S]: every byte
                self.take()
                every = True
                continue
            if ch == "\\":
                got = self.escape(True)
                if isinstance(got, frozenset):
                    members |= got
                    continue
                ch = got
            if self.peek() == "-" and self.pos + 1 < len(self.text) and self.text[self.pos + 1] != "]":
                self.take()
                end = self.take()
                if end == "\\":
                    end = self.take()
                members |= {chr(c) for c in range(ord(ch), ord(end) + 1)}
            else:
                members.add(ch)
        if every:
            return Any() if not negated else Cls(frozenset(), True)
        return Cls(frozenset(members), negated)


def _lower(item):
    if isinstance(item, Lit):
        return Lit(item.ch.lower())
    if isinstance(item, Cls):
        return Cls(frozenset(c.lower() for c in item.members), item.negated)
    if isinstance(item, Group):
        return Group([[_lower(i) for i in seq] for seq in item.alternatives])
    if isinstance(item, Quant):
        return Quant(_lower(item.item), item.kind)
    return item


def _has_anchor(item) -> bool:
    if isinstance(item, Anchor):
        return True
    if isinstance(item, Group):
        return any(_has_anchor(i) for seq in item.alternatives for i in seq)
    if isinstance(item, Quant):
        return _has_anchor(item.item)
    return False


def _expand(seq: list) -> list[list]:
    """Splits a sequence at the first group holding an anchor, one sequence
    per alternative of that group, until no group holds one: `(^| )x` gives
    `^x` and ` x`, `x([^-]|$)` gives `x[^-]` and `x$`."""
    for i, item in enumerate(seq):
        if isinstance(item, Group) and _has_anchor(item):
            out: list[list] = []
            for alt in item.alternatives:
                out.extend(_expand(seq[:i] + alt + seq[i + 1:]))
            return out
        if isinstance(item, Quant) and _has_anchor(item):
            raise Unsupported("anchor inside a repetition")
    return [seq]


def _entry(seq: list) -> Entry:
    e = Entry()
    items = list(seq)
    if items and isinstance(items[0], Anchor) and items[0].kind == "^":
        e.start = True
        items.pop(0)
    if items and isinstance(items[-1], Anchor) and items[-1].kind == "$":
        e.end = True
        items.pop()
    if any(isinstance(i, Anchor) for i in items):
        raise Unsupported("anchor in the middle of a pattern")
    if not items:
        raise Unsupported("empty alternative")
    e.items = items
    return e


def _can_be_empty(item) -> bool:
    if isinstance(item, Quant):
        return item.kind in ("*", "?") or _can_be_empty(item.item)
    if isinstance(item, Group):
        return any(all(_can_be_empty(i) for i in seq) for seq in item.alternatives)
    return False


def _has_loop(item) -> bool:
    if isinstance(item, Quant):
        return item.kind in ("*", "+") or _has_loop(item.item)
    if isinstance(item, Group):
        return any(_has_loop(i) for seq in item.alternatives for i in seq)
    return False


def _check_shape(items: list) -> None:
    """Linear-time shapes only: no loop inside a repeated item, no loop over
    a choice, and no run of any byte (`.*` or `.+`), which would make every
    start position scan the rest of the value."""
    for item in items:
        if isinstance(item, Quant):
            inner = item.item
            if item.kind in ("*", "+"):
                if isinstance(inner, Any):
                    raise Unsupported("run of any byte")
                if _has_loop(inner):
                    raise Unsupported("nested repetition")
                if isinstance(inner, Group) and len(inner.alternatives) > 1:
                    raise Unsupported("repetition of a choice")
                if _can_be_empty(inner):
                    raise Unsupported("repetition of something that can be empty")
            _check_shape([inner])
        elif isinstance(item, Group):
            for seq in item.alternatives:
                _check_shape(seq)


def _emit_char(ch: str) -> str:
    if ch in _PLAIN:
        return ch
    if ch in _SPECIAL or not ch.isalnum():
        return "\\" + ch
    raise Unsupported(f"byte {ch!r}")


def _emit_member(ch: str) -> str:
    if ch in "]\\^-":
        return "\\" + ch
    if ch == "\t":
        return "\\t"
    return ch


def _emit_class(cls: Cls) -> str:
    members = sorted(cls.members)
    if not cls.negated and len(members) == 1:
        return _emit_char(members[0])
    if not cls.negated and cls.members == _DIGITS:
        return "\\d"
    if not members:
        raise Unsupported("empty class")
    return "[" + ("^" if cls.negated else "") + "".join(_emit_member(c) for c in members) + "]"


def _emit_seq(items: list) -> str:
    return "".join(_emit_item(i) for i in items)


def _single(items: list) -> bool:
    return len(items) == 1 and not isinstance(items[0], Quant)


def _emit_item(item) -> str:
    if isinstance(item, Lit):
        return _emit_char(item.ch)
    if isinstance(item, Any):
        return "."
    if isinstance(item, Cls):
        return _emit_class(item)
    if isinstance(item, Group):
        alts = item.alternatives
        optional = any(not seq for seq in alts)
        alts = [seq for seq in alts if seq]
        if len(alts) == 1:
            body = _emit_seq(alts[0])
            text = body if (_single(alts[0]) and not optional) else "(" + body + ")"
        else:
            # Alternatives that are the same once lower-cased are one.
            texts = list(dict.fromkeys(_emit_item(s[0]) if _single(s) else "(" + _emit_seq(s) + ")"
                                       for s in alts))
            if len(texts) == 1:
                text = texts[0] if _single(alts[0]) and not optional else "(" + _emit_seq(alts[0]) + ")"
            else:
                text = "(" + "|".join(texts) + ")"
        return text + ("?" if optional else "")
    if isinstance(item, Quant):
        inner = _emit_item(item.item)
        if isinstance(item.item, Quant):
            inner = "(" + inner + ")"
        return inner + item.kind
    raise Unsupported(f"item {item!r}")


@dataclass(frozen=True)
class DialectEntry:
    text: str    # the entry in the dialect, without anchors
    start: bool  # anchored at the start of the value
    end: bool    # anchored at the end of the value
    plain: bool  # text is a literal run of bytes (no class, group or loop)


def translate(pattern: str) -> list[DialectEntry]:
    """The list pattern as one or more dialect entries (alternatives)."""
    parser = _Parser(pattern)
    alts = parser.alternatives()
    if parser.pos != len(pattern):
        raise Unsupported("stray )")
    out: list[DialectEntry] = []
    for alt in alts:
        for seq in _expand([_lower(i) for i in alt]):
            e = _entry(seq)
            _check_shape(e.items)
            text = _emit_seq(e.items)
            plain = all(isinstance(i, Lit) or (isinstance(i, Cls) and not i.negated and len(i.members) == 1)
                        for i in e.items)
            out.append(DialectEntry(text, e.start, e.end, plain))
    return out


def literal(text: str) -> DialectEntry:
    """A user-agent token kept in this repository, matched as written."""
    return DialectEntry("".join(_emit_char(c) for c in text.lower()), False, False, True)


def _drop_subsumed(entries: list[DialectEntry]) -> list[DialectEntry]:
    """Unanchored literal entries that contain another unanchored literal
    entry add nothing: `claude-searchbot` goes when `searchbot` is there."""
    unique = list(dict.fromkeys(entries))
    plain = [e.text for e in unique if e.plain and not e.start and not e.end]
    kept = []
    for e in unique:
        if e.plain and not e.start and not e.end and any(o != e.text and o in e.text for o in plain):
            continue
        kept.append(e)
    return kept


def pack(entries: list[DialectEntry], limit: int = 255) -> list[str]:
    """Joins entries into as few patterns of at most `limit` bytes as will
    hold them: `(a)|(b)|...`, with the entries anchored at the start, at the
    end or at both in patterns of their own (`^((a)|(b))`)."""
    groups: dict[tuple[bool, bool], list[str]] = {}
    for e in sorted(_drop_subsumed(entries), key=lambda e: e.text):
        groups.setdefault((e.start, e.end), []).append(e.text)
    patterns: list[str] = []
    for (start, end), texts in sorted(groups.items()):
        head, tail = ("^" if start else ""), ("$" if end else "")
        current: list[str] = []

        def text_of(parts: list[str]) -> str:
            if len(parts) == 1:
                body = parts[0]
                return head + (("(" + body + ")") if (head or tail) and "|" in body else body) + tail
            body = "|".join("(" + p + ")" for p in parts)
            return head + ("(" + body + ")" if (head or tail) else body) + tail

        for t in texts:
            if len(text_of([t])) > limit:
                raise Unsupported(f"entry longer than {limit} bytes: {t}")
            if current and len(text_of(current + [t])) > limit:
                patterns.append(text_of(current))
                current = []
            current.append(t)
        if current:
            patterns.append(text_of(current))
    return patterns
