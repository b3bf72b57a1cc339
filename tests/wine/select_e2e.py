#!/usr/bin/env python3
"""Prints the GoogleTest filter that selects the end-to-end tests of a test
source: the tests that run the vrex binary through Vrex(), directly or through
a helper function of the same file. Tests that only use VrexInProcess() or
call library routines test the Linux build alone and are left out. Prints
nothing when the file has no such test.

    select_e2e.py tests/pack_test.cc  ->  Pack.ListsEveryMember:Pack.Extract...
    select_e2e.py --runs Vrex --runs Host --exclude Host.Bad tests/plugin/host_test.cc

--runs names the functions that start a binary under test (default: Vrex);
--exclude leaves out a test by its full name.
"""
import argparse
import os
import re
TEST_HEAD = re.compile(r"\b(TEST|TEST_F|TEST_P)\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)\s*$")
FUNCTION_HEAD = re.compile(r"(~?\w+)\s*\([^;{}]*\)\s*(?:const\s*)?(?:noexcept\s*)?(?:->[^;{}]*)?$")
SCOPE_HEAD = re.compile(r"\b(namespace|class|struct)\b[^;{}()]*$")
CALL = re.compile(r"\b(\w+)\s*\(")


def blank_literals(text):
    """Replaces comments and the contents of string and character literals
    with blanks, keeping the length, so braces inside them don't count."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append('""' + " " * (j - i - 2))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else text[i:j])
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def definitions(text):
    """Yields (kind, name, body) for every function and test body outside
    other function bodies; namespaces, classes and structs are looked into."""
    last = 0       # end of the previous statement or block
    stack = []     # open braces: "scope" or "body"
    body_start = 0
    head = None
    for i, c in enumerate(text):
        if c == ";" and (not stack or stack[-1] == "scope"):
            last = i + 1
        elif c == "{":
            if stack and stack[-1] == "body":
                stack.append("inner")
                continue
            if stack and stack[-1] == "inner":
                stack.append("inner")
                continue
            before = text[last:i].strip()
            test = TEST_HEAD.search(before)
            function = FUNCTION_HEAD.search(before)
            if test:
                head = ("test", test.group(2), test.group(3))
                stack.append("body")
                body_start = i
            elif SCOPE_HEAD.search(before) or not function:
                stack.append("scope")
                last = i + 1
            else:
                head = ("function", function.group(1), None)
                stack.append("body")
                body_start = i
        elif c == "}":
            if not stack:
                continue
            kind = stack.pop()
            if kind == "body":
                yield head[0], head[1], head[2], text[body_start:i + 1]
            if kind != "inner":
                last = i + 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source")
    parser.add_argument("--runs", action="append", default=[])
    parser.add_argument("--exclude", action="append", default=[])
    args = parser.parse_args()
    runners = args.runs or ["Vrex"]
    RUNS_BINARY = re.compile(r"\b(?:" + "|".join(map(re.escape, runners)) + r")\s*\(")
    with open(args.source, encoding="utf-8", errors="replace") as f:
        raw = f.read()
    text = blank_literals(raw)
    functions = {}
    tests = []
    for kind, name, test_name, body in definitions(text):
        if kind == "test":
            tests.append((name, test_name, body))
        else:
            functions.setdefault(name, []).append(body)

    # Helpers of tests/support that the source includes (and their .cc)
    # may run the binary too.
    root = args.source[:args.source.rfind("/tests/") + 1] if "/tests/" in args.source else ""
    for include in re.findall(r'#include\s+"(tests/support/[^"]+)"', raw):
        for path in {include, re.sub(r"\.h$", ".cc", include)}:
            if not os.path.exists(root + path):
                continue
            with open(root + path, encoding="utf-8", errors="replace") as f:
                for kind, name, _, body in definitions(blank_literals(f.read())):
                    if kind == "function":
                        functions.setdefault(name, []).append(body)

    # Helpers that run the binary, directly or through other helpers.
    runs = {name for name, bodies in functions.items() if any(RUNS_BINARY.search(b) for b in bodies)}
    changed = True
    while changed:
        changed = False
        for name, bodies in functions.items():
            if name in runs:
                continue
            if any(call in runs for b in bodies for call in CALL.findall(b)):
                runs.add(name)
                changed = True

    selected = []
    for suite, test_name, body in tests:
        if f"{suite}.{test_name}" in args.exclude:
            continue
        if RUNS_BINARY.search(body) or any(call in runs for call in CALL.findall(body)):
            selected.append(f"{suite}.{test_name}:*/{suite}.{test_name}/*")
    print(":".join(selected))


if __name__ == "__main__":
    main()
