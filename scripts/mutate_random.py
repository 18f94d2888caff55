#!/usr/bin/env python3
"""Faults drawn by rule at random places of the shipped code, each planted in
a copy of the tree, built, and run against the tests: a measure of how
closely the tests watch code that nobody chose for them.

  scripts/mutate_random.py            (make mutate-random)
  scripts/mutate_random.py --dry-run  (DRY_RUN=1: print the draw, build nothing)
  scripts/mutate_random.py --list-files | --sites FILE | --help

Settings come from the environment:
  N=150          faults to run; one that does not build is replaced
  SEED=...       the draw (default: the clock); printed first
  ONLY=K[,K...]  run only the faults of those numbers of SEED's draw
  KEEP=1         with ONLY: leave the last fault planted and built
  JOBS=2         build and test jobs
  TEST_TIMEOUT=30  time limit of one test, in seconds
  ALL_TESTS=1    run every test for every fault, not only the tests that run
                 a program the fault rebuilt
  PATHS=P[,P...] draw only in the shipped files each P names, or a folder
                 that P names holds; a * stands for any part of one name
                 (tools/replay_gen/*.cc: the files at that folder's root)

An interrupt (Ctrl-C, SIGTERM) lets the fault at hand finish, then writes the
report and the table of the faults run so far; a second one stops at once.

Shipped code: the .cc and .h files under tools/ and base/, less the unit
tests (*_test.cc), their support (*_test_support.cc) and the headers only
tests include. Every line of it with
a place for some rule can be drawn; the k-th fault's line lies at fraction
frac(u + k * 0.618...) of the list of such lines (u from the seed), so any
prefix of a draw is spread over the files in proportion to their lines.
The rule, then the place on the line, come from a generator seeded by the
seed and k alone: fault k of a seed is the same fault however it is reached.

Rules: relational (< <=, > >=, == !=), arithmetic (+ 1 -> + 0, - 1 -> + 1,
binary + -, += -=), logical (&& ||, a dropped !), constant (0 1, another
integer changed by one), delete (a call statement, an assignment, an
increment, a break or continue becomes {}), return (the value replaced:
true/false flipped, 0 and 1 swapped, a condition negated, anything else
{}), condition (an if forced true or false, a while or for condition forced
false; a lone log gate such as run.log.debug_level is never forced true,
since the log call tests its level again; nor is a log call's level 1 made
0, which opens and shuts with the same gates). Comments, string and character
literals and preprocessor lines are masked before any rule looks at the
code.

Faults listed in mutants/equivalent.txt (matched by file and the line's text
before and after, not by line number) are left out of every draw.
"""
import bisect
import difflib
import fcntl
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from collections import Counter, namedtuple

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHIPPED_DIRS = ("tools", "base")
RULES = ("relational", "arithmetic", "logical", "constant", "delete", "return", "condition")
GOLDEN = (5 ** 0.5 - 1) / 2
LOG_GATES = ("debug_level", "info_level", "error_level")
LOG_CALLS = ("debug_log", "info_log", "error_log")

Tok = namedtuple("Tok", "kind text start end")
Site = namedtuple("Site", "rule start end repl")
Fault = namedtuple("Fault", "number file line rule start end repl before after")


# ---------------------------------------------------------------- the lexer


def mask(text):
    """The text with comments, the insides of string and character literals,
    and preprocessor lines turned into spaces; newlines stay, so offsets and
    line numbers are those of the text."""
    out = list(text)
    n = len(text)

    def blank(a, b):
        for j in range(a, min(b, n)):
            if out[j] != "\n":
                out[j] = " "

    def line_end(j):  # end of a line, following backslash continuations
        while j < n and not (text[j] == "\n" and text[j - 1] != "\\"):
            j += 1
        return j

    i = 0
    line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
        elif c in " \t\r\f\v":
            i += 1
        elif c == "#" and line_start:
            j = line_end(i)
            blank(i, j)
            i = j
        elif text.startswith("//", i):
            line_start = False
            j = line_end(i)
            blank(i, j)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            line_start = False
            j = i + 1
            while j < n:  # a pp-number, digit separators included
                d = text[j]
                if d in "+-" and text[j - 1] in "eEpP":
                    j += 1
                elif d.isalnum() or d in "_.":
                    j += 1
                elif d == "'" and j + 1 < n and text[j + 1].isalnum():
                    j += 1
                else:
                    break
            i = j
        elif c.isalpha() or c == "_":
            line_start = False
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] == "_"):
                j += 1
            word = text[i:j]
            if j < n and text[j] == '"' and word in ("R", "LR", "uR", "UR", "u8R"):
                k = text.find("(", j + 1)
                if k < 0:
                    k = j
                delim = text[j + 1:k]
                end = text.find(")" + delim + '"', k)
                end = n if end < 0 else end + len(delim) + 2
                blank(j + 1, end - 1)
                i = end
            else:
                i = j  # a prefix (L, u8 ...) leaves its literal to the next round
        elif c in "\"'":
            line_start = False
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i + 1, j)
            i = j + 1
        else:
            line_start = False
            i += 1
    return "".join(out)


TOKEN_RE = re.compile(r"""
    (?P<id>[A-Za-z_]\w*)
  | (?P<num>\.?\d(?:[eEpP][+-]|[\w.]|'(?=\w))*)
  | (?P<str>"[^"\n]*"|'[^'\n]*')
  | (?P<punct><<=|>>=|<=>|\.\.\.|->\*|->|\+\+|--|<<|>>|<=|>=|==|!=|&&|\|\||\+=|-=|\*=|/=|%=
             |&=|\|=|\^=|::|\.\*|\#\#|[^\s\w])
""", re.X)


def tokens(masked):
    return [Tok(m.lastgroup, m.group(), m.start(), m.end()) for m in TOKEN_RE.finditer(masked)]


def int_literal(text):
    """(value, base, digits as written, suffix) of an integer literal, or None."""
    m = re.fullmatch(r"(0[xX][0-9a-fA-F']+|0[bB][01']+|0[0-7']*|[1-9][0-9']*)([uUlLzZ]*)", text)
    if not m:
        return None
    digits, suffix = m.group(1).replace("'", ""), m.group(2)
    if digits[:2] in ("0x", "0X"):
        return int(digits[2:], 16), 16, digits, suffix
    if digits[:2] in ("0b", "0B"):
        return int(digits[2:], 2), 2, digits, suffix
    if len(digits) > 1 and digits[0] == "0":
        return int(digits, 8), 8, digits, suffix
    return int(digits), 10, digits, suffix


def format_int(value, base, written, suffix):
    if base == 16:
        body = format(value, "x")
        return written[:2] + (body.upper() if written[2:].isupper() else body) + suffix
    if base == 2:
        return written[:2] + format(value, "b") + suffix
    if base == 8:
        return "0" + format(value, "o") + suffix
    return str(value) + suffix


# ---------------------------------------------------------------- the rules

REL_SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ASSIGN_OPS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}
OPENERS = {"(": ")", "[": "]", "{": "}"}
# A statement starting with one of these is a declaration or control flow:
# never deleted as a whole.
NOT_DELETED = set("""
    return if else for while do switch case default goto throw delete new using typedef
    static_assert template struct class union enum namespace try catch const constexpr
    consteval constinit static extern inline auto void bool char int long short unsigned
    signed float double friend virtual explicit public private protected operator sizeof
    volatile register thread_local mutable typename decltype co_return co_await co_yield asm
    alignas size_t ssize_t off_t pid_t""".split())


def spaced(masked, tok):
    return (tok.start > 0 and masked[tok.start - 1].isspace() and tok.end < len(masked)
            and masked[tok.end].isspace())


def operand_before(toks, i):
    if i == 0:
        return False
    p = toks[i - 1]
    return (p.kind in ("num", "str") or p.text in (")", "]")
            or (p.kind == "id" and p.text not in NOT_DELETED))


class Code:
    """One file's tokens with their bracket structure."""

    def __init__(self, text):
        self.text = text
        self.masked = mask(text)
        self.toks = tokens(self.masked)
        self.match = {}  # opener index <-> closer index
        self.parent = []  # index of the innermost open bracket around each token, or -1
        stack = []
        for i, t in enumerate(self.toks):
            if t.text in (")", "]", "}") and stack:
                j = stack.pop()
                self.match[i], self.match[j] = j, i
            self.parent.append(stack[-1] if stack else -1)
            if t.text in OPENERS:
                stack.append(i)
        self.line_starts = [0] + [m.end() for m in re.finditer("\n", text)]

    def line_of(self, offset):
        return bisect.bisect_right(self.line_starts, offset)

    def in_block(self, i):
        p = self.parent[i]
        return p < 0 or self.toks[p].text == "{"

    def statement_end(self, i):
        """Index of the ';' ending the statement that starts at token i, or None."""
        depth = 0
        toks = self.toks
        for j in range(i, len(toks)):
            t = toks[j].text
            if t == ";" and depth == 0:
                return j
            if t in OPENERS:
                if t == "{" and depth == 0 and j > i and toks[j - 1].text not in ASSIGN_OPS | {
                        "return"}:
                    return None  # a block or a function body: not one statement
                depth += 1
            elif t in (")", "]", "}"):
                if depth == 0:
                    return None
                depth -= 1
        return None

    def starts_statement(self, i):
        if i == 0 or not self.in_block(i):
            return False
        p = self.toks[i - 1]
        if p.text in (";", "{", "}", "else", "do"):
            return p.text != ";" or self.in_block(i - 1)
        if p.text == ")":
            o = self.match.get(i - 1)
            if o is None or o == 0:
                return False
            head = self.toks[o - 1].text
            if head == "constexpr" and o >= 2:
                head = self.toks[o - 2].text
            return head in ("if", "while", "for", "switch")
        if p.text == ":":
            first = self.first_on_line(i - 1)
            return first in ("case", "default", "public", "private", "protected")
        return False

    def in_function(self, i):
        """Whether token i sits in a function body (not directly in a class,
        a namespace or an initializer list)."""
        p = self.parent[i]
        toks = self.toks
        while p >= 0:
            if toks[p].text != "{":
                return False
            head, k = [], p - 1
            while k >= 0 and toks[k].text not in (";", "{", "}"):
                if toks[k].text == ")" and k in self.match:
                    head.append("()")
                    k = self.match[k] - 1
                else:
                    head.append(toks[k].text)
                    k -= 1
            words = set(head)
            if not head:
                p = self.parent[p]  # a nested block: look further out
            elif words & {"struct", "class", "union", "enum", "namespace", "extern"}:
                return False
            elif head[0] in ("=", ",", "return", "(") or head[0] in ASSIGN_OPS:
                return False
            elif words & {"()", "else", "do", "try", "case", "default"}:
                return True
            else:
                p = self.parent[p]
        return False

    def first_on_line(self, i):
        line = self.line_of(self.toks[i].start)
        while i > 0 and self.line_of(self.toks[i - 1].start) == line:
            i -= 1
        return self.toks[i].text

    def is_path(self, a, b, need_call):
        """Tokens a..b-1 form id ((:: | . | ->) id | (...) | [...])*, ending in a
        call when need_call."""
        toks = self.toks
        i = a
        if i < b and toks[i].text == "::":
            i += 1
        if i >= b or toks[i].kind != "id" or toks[i].text in NOT_DELETED:
            return False
        i += 1
        last_call = False
        while i < b:
            t = toks[i].text
            if t in ("::", ".", "->") and i + 1 < b and toks[i + 1].kind == "id":
                i += 2
                last_call = False
            elif t in ("(", "[") and i in self.match and self.match[i] < b:
                last_call = t == "("
                i = self.match[i] + 1
            else:
                return False
        return last_call or not need_call

    def lvalue(self, a, b):
        """Tokens a..b-1 read as one expression (an assignment's left side), not
        a declaration: no space outside brackets."""
        if self.toks[a].text in NOT_DELETED:
            return False
        s, depth = [], 0
        for c in self.masked[self.toks[a].start:self.toks[b - 1].end]:
            if c in "([":
                depth += 1
            elif c in ")]":
                depth -= 1
            elif depth == 0:
                s.append(c)
        s = "".join(s)
        return not any(c.isspace() for c in s) and "<" not in s and ">" not in s.replace(
            "->", "")


def with_newlines(repl, original):
    return repl + "\n" * original.count("\n")


def sites(code):
    """Every fault the rules can place in one file's code."""
    toks, masked, text = code.toks, code.masked, code.text
    out = []

    def add(rule, start, end, repl):
        out.append(Site(rule, start, end, with_newlines(repl, text[start:end])))

    # Compile-time only code: a fault there either fails the build or changes nothing.
    skip = set()
    for i, t in enumerate(toks):
        if t.text in ("static_assert", "alignas") and i + 1 < len(toks) and toks[
                i + 1].text == "(" and i + 1 in code.match:
            skip.update(range(i, code.match[i + 1] + 1))
    for i, t in enumerate(toks):
        if i in skip:
            continue
        nxt = toks[i + 1] if i + 1 < len(toks) else None
        if t.kind == "punct":
            if t.text in REL_SWAP and spaced(masked, t):
                add("relational", t.start, t.end, REL_SWAP[t.text])
            elif t.text in ("+", "-") and spaced(masked, t) and operand_before(toks, i):
                lit = int_literal(nxt.text) if nxt and nxt.kind == "num" else None
                if t.text == "+" and lit and lit[0] == 1:
                    add("arithmetic", nxt.start, nxt.end, format_int(0, *lit[1:]))
                elif toks[i - 1].kind != "str" and nxt and nxt.kind != "str":  # text + "..."
                    add("arithmetic", t.start, t.end, "-" if t.text == "+" else "+")
            elif t.text in ("+=", "-=") and spaced(masked, t) and nxt and nxt.kind != "str":
                add("arithmetic", t.start, t.end, "-=" if t.text == "+=" else "+=")
            elif t.text in ("&&", "||") and spaced(masked, t):
                add("logical", t.start, t.end, "||" if t.text == "&&" else "&&")
            elif t.text == "!" and nxt and nxt.start == t.end:
                add("logical", t.start, t.end, "")
        elif t.kind == "num":
            lit = int_literal(t.text)
            if lit:
                value = lit[0]
                if value in (0, 1):
                    # A log call's level 1 and 0 open and shut with the same
                    # gates: only a higher level can hide the line.
                    if not (value == 1 and i >= 2 and toks[i - 1].text == "(" and
                            toks[i - 2].text in LOG_CALLS and nxt and nxt.text == ","):
                        add("constant", t.start, t.end, format_int(1 - value, *lit[1:]))
                else:
                    add("constant", t.start, t.end, format_int(value + 1, *lit[1:]))
                    add("constant", t.start, t.end, format_int(value - 1, *lit[1:]))
        elif t.kind == "id":
            if t.text == "return":
                return_site(code, i, add)
            elif t.text in ("if", "while", "for"):
                condition_site(code, i, add)
        if code.starts_statement(i) and code.in_function(i):
            delete_site(code, i, add)
    return sorted(set(out), key=lambda s: (s.start, s.end, s.rule, s.repl))


def delete_site(code, i, add):
    toks = code.toks
    j = code.statement_end(i)
    if j is None or j == i:
        return
    first = toks[i].text
    ok = False
    if first == "{":
        return
    if j == i + 1 and first in ("break", "continue"):
        ok = True
    elif first in ("++", "--"):
        ok = code.is_path(i + 1, j, False)
    elif toks[j - 1].text in ("++", "--") and j - 1 > i:
        ok = code.is_path(i, j - 1, False)
    else:
        depth, a = 0, None
        for k in range(i, j):
            t = toks[k].text
            if t in OPENERS:
                depth += 1
            elif t in (")", "]", "}"):
                depth -= 1
            elif depth == 0 and t in ASSIGN_OPS:
                a = k
                break
        if a is not None:
            ok = a > i and code.lvalue(i, a)
        else:
            start = i
            if toks[i].text == "(" and i + 2 < j and toks[i + 1].text == "void" and toks[
                    i + 2].text == ")":
                start = i + 3
            ok = code.is_path(start, j, True)
    if ok:
        add("delete", toks[i].start, toks[j].end, "{}")


def return_site(code, i, add):
    toks = code.toks
    j = code.statement_end(i + 1) if i + 1 < len(toks) else None
    if j is None or j == i + 1:
        return
    e = toks[i + 1:j]
    start, end = e[0].start, e[-1].end
    words = [t.text for t in e]
    if words in (["true"], ["false"]):
        repl = "false" if words == ["true"] else "true"
    elif int_literal(words[-1]) and (len(words) == 1 or words == ["-", words[-1]]):
        repl = "1" if int_literal(words[-1])[0] == 0 else "0"
    elif words in (["nullptr"], ["NULL"], ["{", "}"]):
        return
    else:
        depth, boolean = 0, words[0] == "!"
        for tok in e:
            t = tok.text
            if t in OPENERS:
                depth += 1
            elif t in (")", "]", "}"):
                depth -= 1
            elif depth == 0 and t == "?":
                boolean = False
                break
            elif depth == 0 and t in REL_SWAP and spaced(code.masked, tok):
                boolean = True
            elif depth == 0 and t in ("&&", "||"):
                boolean = True
        repl = "!(" + code.text[start:end] + ")" if boolean else "{}"
    add("return", start, end, repl)


def condition_site(code, i, add):
    toks, kind = code.toks, code.toks[i].text
    o = i + 1
    if o < len(toks) and toks[o].text == "constexpr":
        return
    if o >= len(toks) or toks[o].text != "(" or o not in code.match:
        return
    c = code.match[o]
    semis = [k for k in range(o + 1, c) if toks[k].text == ";" and code.parent[k] == o]
    if kind == "for":
        if len(semis) != 2:
            return
        a, b = semis[0] + 1, semis[1]
    else:
        a, b = (semis[-1] + 1 if semis else o + 1), c
    if a >= b:
        return
    words = [t.text for t in toks[a:b]]
    if words in (["true"], ["false"], ["0"], ["1"]):
        return
    start, end = toks[a].start, toks[b - 1].end
    # A gate in front of a log call only spares the formatting: the call
    # tests its own level, so forcing the gate open changes nothing seen.
    # The gate is a member of some log: run.log, log, p.run->log.
    gate = (len(words) >= 3 and words[-1] in LOG_GATES and words[-3:-1] == ["log", "."]
            and all(w.isidentifier() or w in (".", "->") for w in words[:-3]))
    if kind == "if" and not gate:
        add("condition", start, end, "true")
    add("condition", start, end, "false")


# ---------------------------------------------------------------- the tree


def git_files(root):
    out = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                          "--exclude-standard"], capture_output=True, check=True).stdout
    return sorted({f for f in out.decode().split("\0")
                   if f and not f.startswith("build/") and os.path.isfile(os.path.join(root, f))})


def shipped_files(root, files=None):
    """The shipped sources: .cc files under tools/ and base/ that are not unit
    tests or their support, and the headers those reach through their
    includes."""
    if files is None:
        files = git_files(root)
    files = [f for f in files if f.split("/")[0] in SHIPPED_DIRS and f.endswith((".cc", ".h"))]
    known = set(files)
    todo = [f for f in files
            if f.endswith(".cc") and not f.endswith(("_test.cc", "_test_support.cc"))]
    reached = set(todo)
    while todo:
        f = todo.pop()
        with open(os.path.join(root, f), encoding="utf-8", errors="replace") as fh:
            for name in re.findall(r'^\s*#\s*include\s*"([^"]+)"', fh.read(), re.M):
                for cand in (name, os.path.normpath(os.path.join(os.path.dirname(f), name))):
                    if cand in known and cand not in reached:
                        reached.add(cand)
                        todo.append(cand)
    return sorted(reached)


def path_filter(paths):
    """The test of PATHS: a file passes when some entry names it or a folder
    holding it; a * in an entry stands for any part of one name."""
    entries = [p.strip().strip("/") for p in paths if p.strip().strip("/")]
    patterns = [re.compile("".join("[^/]*" if c == "*" else re.escape(c) for c in p) + "(/.*)?$")
                for p in entries]
    return (lambda f: any(pattern.match(f) for pattern in patterns)), entries


def folder_of(path):
    return os.path.dirname(path)


def collapse(s):
    return " ".join(s.split())


def read_equivalents(path):
    """Faults marked equivalent by hand: blocks of 'key: value' lines (file,
    rule, before, after, why), separated by empty lines; '#' starts a comment."""
    entries = []
    if not os.path.exists(path):
        return entries
    block = {}
    with open(path, encoding="utf-8") as fh:
        lines = fh.read().split("\n") + [""]
    for n, line in enumerate(lines, 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if block:
                missing = [k for k in ("file", "before", "after", "why") if not block.get(k)]
                if missing:
                    sys.exit("mutate-random: %s:%d: the entry lacks %s" % (path, n, ", ".join(missing)))
                entries.append(block)
                block = {}
            continue
        key, sep, value = line.partition(":")
        if not sep:
            sys.exit("mutate-random: %s:%d: expected 'key: value'" % (path, n))
        block[key.strip()] = value.strip()
    return {(e["file"], collapse(e["before"]), collapse(e["after"])) for e in entries}


class Draw:
    """The faults of one seed over one tree."""

    def __init__(self, root, seed, equivalents=None, files=None, paths=None):
        self.root, self.seed = root, seed
        self.files = shipped_files(root, files)
        if paths:
            keep, entries = path_filter(paths)
            for p in entries:
                if not any(path_filter([p])[0](f) for f in self.files):
                    sys.exit("mutate-random: PATHS: %s names no shipped file" % p)
            self.files = [f for f in self.files if keep(f)]
        self.code, self.sites, self.lines = {}, {}, []
        for f in self.files:
            with open(os.path.join(root, f), encoding="utf-8", newline="") as fh:
                code = Code(fh.read())
            by_line = {}
            for s in sites(code):
                by_line.setdefault(code.line_of(s.start), []).append(s)
            self.code[f], self.sites[f] = code, by_line
            self.lines.extend((f, line) for line in sorted(by_line))
        self.equivalents = equivalents or set()
        self.offset = random.Random("%s" % seed).random()

    def fault(self, k):
        f, line = self.lines[int(((self.offset + k * GOLDEN) % 1.0) * len(self.lines))]
        rng = random.Random("%s/%d" % (self.seed, k))
        by_rule = {}
        for s in self.sites[f][line]:
            by_rule.setdefault(s.rule, []).append(s)
        rule = rng.choice(sorted(by_rule))
        s = rng.choice(by_rule[rule])
        return make_fault(k, f, self.code[f], s)

    def is_equivalent(self, fault):
        return (fault.file, fault.before, fault.after) in self.equivalents

    def candidates(self):
        """(fault, why it is left out or None) for k = 1, 2, ...: a fault
        marked equivalent, or one drawn before, is left out."""
        seen = set()
        k = 0
        while True:
            k += 1
            f = self.fault(k)
            key = (f.file, f.start, f.end, f.repl)
            if self.is_equivalent(f):
                yield f, "equivalent"
            elif key in seen:
                yield f, "drawn before"
            else:
                yield f, None
            seen.add(key)


def make_fault(k, f, code, s):
    text = code.text
    a = code.line_starts[code.line_of(s.start) - 1]
    b = text.find("\n", s.end)
    b = len(text) if b < 0 else b
    before = text[a:b]
    after = text[a:s.start] + s.repl + text[s.end:b]
    return Fault(k, f, code.line_of(s.start), s.rule, s.start, s.end, s.repl,
                 collapse(before), collapse(after))


def apply_fault(text, fault):
    return text[:fault.start] + fault.repl + text[fault.end:]


# ---------------------------------------------------------------- running


def env_int(name, default):
    value = os.environ.get(name, "")
    if value == "":
        return default
    if not re.fullmatch(r"[0-9]+", value):
        sys.exit("mutate-random: %s must be a number, not %r" % (name, value))
    return int(value)


def cpu_seconds():
    """Processor time of the finished child processes (builds, tests) so far."""
    t = os.times()
    return t.children_user + t.children_system


def say(msg):
    print(msg, flush=True)


def sync_tree(root, src):
    """Makes src a copy of the tree as git sees it; files whose contents are
    unchanged keep their times, so the build after it is incremental."""
    files = git_files(root)
    for f in files:
        a, b = os.path.join(root, f), os.path.join(src, f)
        if os.path.isfile(b) and os.path.getsize(a) == os.path.getsize(b):
            with open(a, "rb") as x, open(b, "rb") as y:
                if x.read() == y.read():
                    continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        if os.path.lexists(b):
            os.unlink(b)
        shutil.copy2(a, b)
        os.utime(b)  # newer than anything built from the old copy
    keep = set(files)
    for d, _, names in os.walk(src):
        for name in names:
            p = os.path.join(d, name)
            if os.path.relpath(p, src) not in keep:
                os.unlink(p)


def run(cmd, **kw):
    # In a session of its own, so that an interrupt at the terminal reaches
    # only this script, which lets the fault at hand finish.
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          start_new_session=True, **kw)


def executables(build):
    out = {}
    for d, dirs, names in os.walk(build):
        dirs[:] = [x for x in dirs if x not in ("CMakeFiles", "Testing")]
        for name in names:
            p = os.path.join(d, name)
            try:
                st = os.stat(p)
            except OSError:
                continue
            if st.st_mode & 0o111 and os.path.isfile(p):
                out[p] = st.st_mtime_ns
    return out


class Runner:
    def __init__(self, work, jobs, test_timeout, all_tests):
        self.src, self.build = os.path.join(work, "src"), os.path.join(work, "build")
        self.jobs, self.test_timeout, self.all_tests = jobs, test_timeout, all_tests
        self.baseline = {}  # test -> seconds
        self.commands = {}  # test -> argv
        self.binary_paths = {}  # executable -> (mtime, bytes)

    def configure(self):
        # A configure that failed leaves its cache but no build.ninja: try again.
        if os.path.exists(os.path.join(self.build, "build.ninja")):
            return True
        cmd = ["cmake", "-S", self.src, "-B", self.build, "-G", "Ninja",
               "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
               # No debug information: smaller objects, quicker links.
               "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
               "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"]
        if shutil.which("ccache"):
            cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        if shutil.which("ld.lld"):
            cmd += ["-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld"]
        r = run(cmd)
        if r.returncode != 0:
            say(r.stdout)
        return r.returncode == 0

    def compile(self):
        r = run(["cmake", "--build", self.build, "-j", str(self.jobs)])
        if r.returncode == 0:
            self.limit_timeouts()
        return r.returncode == 0, r.stdout

    CUT_MARK = "# TIMEOUT values cut by mutate-random; the originals are in the .uncut file\n"

    def limit_timeouts(self):
        """Cuts the time limit a test sets itself (TIMEOUT 300 ...) to
        TEST_TIMEOUT in the build's test lists, which CMake and the test
        discovery write anew at times: ctest's --timeout covers only tests
        that set none, and a fault that makes a test hang should cost
        TEST_TIMEOUT, not the minutes a slow machine may need. The list as
        written is kept beside it (.uncut), so that a later run with a
        larger TEST_TIMEOUT cuts from the original limits, not from the
        ones an earlier run left."""
        def cut(m):
            return m.group(1) + str(min(int(m.group(2)), self.test_timeout))

        for d, dirs, names in os.walk(self.build):
            dirs[:] = [x for x in dirs if x not in ("CMakeFiles", "Testing")]
            for name in names:
                if name == "CTestTestfile.cmake" or name.endswith("_tests.cmake"):
                    p = os.path.join(d, name)
                    with open(p, encoding="utf-8") as fh:
                        text = fh.read()
                    if text.startswith(self.CUT_MARK) and os.path.exists(p + ".uncut"):
                        with open(p + ".uncut", encoding="utf-8") as fh:
                            original = fh.read()
                    else:
                        original = text
                        with open(p + ".uncut", "w", encoding="utf-8") as fh:
                            fh.write(original)
                    new = self.CUT_MARK + re.sub(r'(\bTIMEOUT\s+"?)(\d+)', cut, original)
                    if new != text:
                        with open(p, "w", encoding="utf-8") as fh:
                            fh.write(new)

    def ctest(self, args, cap=None, jobs=None):
        cmd = ["ctest", "-j", str(jobs or self.jobs), "-LE", "docs|tools", "--timeout",
               str(self.test_timeout)] + args
        if cap:
            stop = time.time() + cap
            if time.localtime(stop).tm_mday == time.localtime().tm_mday:
                cmd += ["--stop-time", time.strftime("%H:%M:%S %z", time.localtime(stop))]
        r = run(cmd, cwd=self.build)
        ended = end_leftovers(self.build)
        if ended:
            say("mutate-random: ended %d process(es) a test left running: %s" % (
                len(ended), ", ".join("%d %s" % e for e in ended)))
        results = []  # (test, status, seconds) in the order they ended
        for m in re.finditer(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.*\s*(\*\*\*)?(.*?)\s+([\d.]+) sec",
                             r.stdout, re.M):
            results.append((m.group(1), m.group(3).strip(), float(m.group(4))))
        return r.returncode, results, r.stdout

    def load_tests(self):
        r = subprocess.run(["ctest", "--show-only=json-v1", "-LE", "docs|tools"], cwd=self.build,
                           capture_output=True, text=True, check=True)
        for t in json.loads(r.stdout)["tests"]:
            self.commands[t["name"]] = t.get("command") or []

    def affected(self, changed):
        """The tests that run a program the build just changed: named on their
        command line, inside a directory named there, or named inside the test
        program itself."""
        if self.all_tests:
            return sorted(self.baseline)
        out = []
        for name, argv in self.commands.items():
            hit = False
            for arg in argv:
                if arg in changed or (os.path.isdir(arg) and any(
                        c.startswith(arg.rstrip("/") + "/") for c in changed)):
                    hit = True
                    break
            if not hit and argv and os.path.isfile(argv[0]):
                data = self.program_bytes(argv[0])
                hit = any(c.encode() in data for c in changed)
            if hit:
                out.append(name)
        return out

    def program_bytes(self, path):
        mtime = os.stat(path).st_mtime_ns
        cached = self.binary_paths.get(path)
        if not cached or cached[0] != mtime:
            with open(path, "rb") as fh:
                cached = (mtime, fh.read())
            self.binary_paths[path] = cached
        return cached[1]

    def run_tests(self, names):
        """(verdict, catching test or '') over the given tests: the quickest
        first (unit tests, then in steps the slower ones), each step stopping
        at its first failure. A test that runs out of time is run again
        alone before it counts: on a busy machine a slow test can outrun its
        limit, or its step's share of time, without any fault."""
        groups, low = [], -1.0
        for high in (0.15, 1.0, float("inf")):
            groups.append([t for t in names if low < self.baseline.get(t, 0) <= high])
            low = high
        for group in groups:
            pending = list(group)
            while pending:
                regex = "^(" + "|".join(re.sub(r"([.()\[\]*+?^$|\\])", r"\\\1", t)
                                        for t in pending) + ")$"
                cap = (self.test_timeout + sum(self.baseline.get(t, 1) for t in pending) / self.jobs
                       + 10)
                status, results, _ = self.ctest(["--stop-on-failure", "-R", regex], cap)
                done = set()
                for test, st, _ in results:
                    if st in ("Passed", "Skipped"):
                        done.add(test)
                    elif st != "Timeout":
                        return "caught", test + ("" if st == "Failed" else " (%s)" % st.lower())
                    else:
                        verdict = self.run_alone(test)
                        if verdict:
                            return "caught", verdict
                        done.add(test)
                if status == 0:
                    break
                if not done:
                    return "caught", "ctest (status %d)" % status
                # A step cut short by a test that passed alone: the rest again.
                pending = [t for t in pending if t not in done]
        return "survived", ""

    def run_alone(self, test):
        """'' when the test passes run by itself, under its own limit and no
        other; else what caught the fault."""
        regex = "^" + re.sub(r"([.()\[\]*+?^$|\\])", r"\\\1", test) + "$"
        _, results, _ = self.ctest(["-R", regex], jobs=1)
        for t, st, _ in results:
            if t == test and st in ("Passed", "Skipped"):
                return ""
            if t == test:
                return test + " (%s, run alone)" % st.lower()
        return test + " (did not run alone)"


def end_leftovers(build):
    """Kills (by process id) every process still running a program of the
    build tree once ctest is done, and returns their (pid, program): a
    faulty server that ignores its time limit and outlives its test would
    otherwise take the processor from every later fault, whose slow tests
    then run out of time for no fault of their own. A program the next
    build replaced still counts ("(deleted)")."""
    prefix = os.path.realpath(build).rstrip("/") + "/"
    ended = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            exe = os.readlink("/proc/%s/exe" % entry)
        except OSError:
            continue
        if exe.endswith(" (deleted)"):
            exe = exe[:-len(" (deleted)")]
        if exe.startswith(prefix):
            try:
                os.kill(int(entry), signal.SIGKILL)
                ended.append((int(entry), os.path.relpath(exe, prefix)))
            except OSError:
                pass
    return ended


def describe(f):
    return "%s:%d %s: %s  ->  %s" % (f.file, f.line, f.rule, f.before, f.after)


def spread(faults, draw):
    by_folder = Counter(folder_of(f.file) for f in faults)
    by_rule = Counter(f.rule for f in faults)
    files = {f.file for f in faults}
    say("spread: %d faults in %d of %d files" % (len(faults), len(files), len(draw.files)))
    lines_in = Counter(folder_of(f) for f, _ in draw.lines)
    for folder in sorted(lines_in):
        say("  %-30s %4d faults  (%4.1f %% of the faults, %4.1f %% of the eligible lines)" % (
            folder, by_folder[folder], 100.0 * by_folder[folder] / max(1, len(faults)),
            100.0 * lines_in[folder] / len(draw.lines)))
    say("  rules: " + ", ".join("%s %d" % (r, by_rule[r]) for r in RULES))


def table(rows):
    say("%-30s %6s %6s %8s %6s" % ("folder", "faults", "caught", "survived", "score"))
    folders = sorted({r["folder"] for r in rows})
    for folder in folders:
        sel = [r for r in rows if r["folder"] == folder]
        caught = sum(r["verdict"] == "caught" for r in sel)
        say("%-30s %6d %6d %8d %5d %%" % (folder, len(sel), caught, len(sel) - caught,
                                           round(100.0 * caught / len(sel))))
    caught = sum(r["verdict"] == "caught" for r in rows)
    total = len(rows)
    say("score: %d/%d = %d %%" % (caught, total, round(100.0 * caught / total) if total else 0))


def main(argv):
    if "--help" in argv or "-h" in argv:
        print(__doc__.strip())
        return 0
    known = {"--dry-run", "--list-files", "--sites"}
    for i, arg in enumerate(argv):
        if arg not in known and not (i > 0 and argv[i - 1] == "--sites"):
            sys.stderr.write("mutate-random: unknown argument %s (--help lists them)\n" % arg)
            return 2
    if "--sites" in argv and argv.index("--sites") + 1 >= len(argv):
        sys.stderr.write("mutate-random: --sites needs a file\n")
        return 2
    if "--list-files" in argv:
        print("\n".join(shipped_files(ROOT)))
        return 0
    if "--sites" in argv:
        f = argv[argv.index("--sites") + 1]
        code = Code(open(os.path.join(ROOT, f), encoding="utf-8").read())
        for s in sites(code):
            print(describe(make_fault(0, f, code, s)))
        return 0
    dry = "--dry-run" in argv or os.environ.get("DRY_RUN", "") not in ("", "0")
    n = env_int("N", 150)
    seed = env_int("SEED", int(time.time()))
    only = [int(k) for k in os.environ.get("ONLY", "").replace(",", " ").split()]
    jobs, test_timeout = env_int("JOBS", 2), env_int("TEST_TIMEOUT", 30)
    all_tests = os.environ.get("ALL_TESTS", "") not in ("", "0")
    keep = os.environ.get("KEEP", "") not in ("", "0")
    say("mutate-random: seed %d" % seed)

    equivalents = read_equivalents(os.path.join(ROOT, "mutants", "equivalent.txt"))
    paths = [p for p in os.environ.get("PATHS", "").split(",") if p.strip()]
    if paths:
        say("mutate-random: only in %s" % ", ".join(paths))
    draw = Draw(ROOT, seed, equivalents, paths=paths)
    say("mutate-random: %d shipped files, %d lines with a place for a fault, %d faults marked "
        "equivalent" % (len(draw.files), len(draw.lines), len(equivalents)))

    last_only = draw.fault(only[-1]) if only else None

    def candidates():
        if only:
            for k in only[:-1]:
                yield draw.fault(k), None
            yield last_only, None
        else:
            yield from draw.candidates()

    if dry:
        shown = []
        for f, left_out in candidates():
            if len(shown) >= (len(only) if only else n):
                break
            say("%4d %s%s" % (f.number, describe(f), " (%s, left out)" % left_out if left_out else ""))
            if not left_out:
                shown.append(f)
        spread(shown, draw)
        return 0

    work = os.path.join(ROOT, "build", "mutate-random")
    os.makedirs(os.path.join(work, "src"), exist_ok=True)
    lock = open(os.path.join(work, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit("mutate-random: another run holds %s" % work)
    runner = Runner(work, jobs, test_timeout, all_tests)

    t0 = time.time()
    sync_tree(ROOT, runner.src)
    if not runner.configure():
        say("mutate-random: cmake failed")
        return 1
    ok, out = runner.compile()
    if not ok:
        say(out[-4000:])
        say("mutate-random: the unchanged tree does not build")
        return 1
    status, results, out = runner.ctest([])
    if status != 0:
        say(out[-4000:])
        say("mutate-random: the unchanged tree fails its tests")
        return 1
    runner.baseline = {t: s for t, _, s in results}
    runner.load_tests()
    say("mutate-random: the unchanged tree builds and passes %d tests (%.0f s to get here)" % (
        len(results), time.time() - t0))

    def restore(path, original):
        """Puts the file back and builds, so that the next fault's build
        rebuilds only what that fault touches; returns the time it ends."""
        with open(path, "w", encoding="utf-8", newline="") as fh:
            fh.write(original)
        ok, out = runner.compile()
        if not ok:
            say(out[-4000:])
            sys.exit("mutate-random: the tree does not build again after a fault was removed")
        return time.time()

    rows = []
    discarded, build_s, test_s, restore_s, discard_s, cpu_s = 0, 0.0, 0.0, 0.0, 0.0, 0.0
    last = None
    # A first SIGINT or SIGTERM ends the run after the fault at hand, with
    # the report and table of the faults run so far; a second one ends it now.
    stop = []

    def stop_after_this_fault(signum, _frame):
        stop.append(signum)
        signal.signal(signum, signal.SIG_DFL)
        say("mutate-random: stopping after this fault (once more to stop now)")

    for s in (signal.SIGINT, signal.SIGTERM):
        signal.signal(s, stop_after_this_fault)
    for f, left_out in candidates():
        if stop or (not only and len(rows) >= n):
            break
        if left_out:
            continue
        path = os.path.join(runner.src, f.file)
        original = draw.code[f.file].text
        c1 = cpu_seconds()
        before = executables(runner.build)
        with open(path, "w", encoding="utf-8", newline="") as fh:
            fh.write(apply_fault(original, f))
        t1 = time.time()
        built, out = runner.compile()
        t2 = time.time()
        row = {"number": f.number, "file": f.file, "line": f.line, "folder": folder_of(f.file),
               "rule": f.rule, "before": f.before, "after": f.after, "test": ""}
        if only:
            say("".join(difflib.unified_diff(original.splitlines(True),
                                             apply_fault(original, f).splitlines(True),
                                             "a/" + f.file, "b/" + f.file, n=1)).rstrip())
        if not built:
            t3 = restore(path, original)
            discarded += 1
            discard_s += t3 - t1
            say("%4d %s: does not build, another is drawn (%.0f s)" % (f.number, describe(f),
                                                                      t3 - t1))
            if only:
                say("\n".join(out.splitlines()[-15:]))
            continue
        after = executables(runner.build)
        changed = {p for p, m in after.items() if before.get(p) != m}
        tests = runner.affected(changed)
        verdict, test = runner.run_tests(tests) if tests else ("survived", "")
        t3 = time.time()
        last = (path, original, f)
        t4 = t3 if keep and only and f is last_only else restore(path, original)
        build_s += t2 - t1
        test_s += t3 - t2
        restore_s += t4 - t3
        cpu = cpu_seconds() - c1
        cpu_s += cpu
        row.update(verdict=verdict, test=test, seconds="%.1f" % (t4 - t1), cpu="%.1f" % cpu)
        rows.append(row)
        say("%4d %s: %s (%.0f+%.0f+%.0f s, %d tests)" % (
            f.number, describe(f),
            "caught by " + test if verdict == "caught" else
            "SURVIVED" + ("" if tests else " (no test runs a program it rebuilt)"),
            t2 - t1, t3 - t2, t4 - t3, len(tests)))
    if keep and only and last:
        say("mutate-random: fault %d left planted in %s; build in %s" % (
            last[2].number, last[0], runner.build))

    if rows:
        k = len(rows)
        say("time per fault: %.1f s (build %.1f s, tests %.1f s, rebuild without it %.1f s; "
            "%.1f s of processor time) over %d faults, load %.1f; %d that did not build took "
            "%.1f s each" % ((build_s + test_s + restore_s) / k, build_s / k, test_s / k,
                             restore_s / k, cpu_s / k, k, os.getloadavg()[0], discarded,
                             discard_s / discarded if discarded else 0))
    if not only:
        tag = "-paths-" + hashlib.sha1(",".join(paths).encode()).hexdigest()[:8] if paths else ""
        report = os.path.join(work, "report-%d%s.tsv" % (seed, tag))
        commit = run(["git", "-C", ROOT, "describe", "--always", "--dirty"]).stdout.strip()
        with open(report, "w", encoding="utf-8") as fh:
            fh.write("# mutate-random: seed %d, %d faults%s, tree %s, %s%s\n" % (
                seed, len(rows), " (stopped early)" if stop else "", commit,
                time.strftime("%Y-%m-%d %H:%M"), ", only in " + ",".join(paths) if paths else ""))
            cols = ["number", "file", "line", "rule", "before", "after", "verdict", "test",
                    "seconds", "cpu"]
            fh.write("\t".join(cols) + "\n")
            for r in rows:
                fh.write("\t".join(str(r[c]).replace("\t", " ") for c in cols) + "\n")
        say("report: %s" % os.path.relpath(report, ROOT))
    table(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
