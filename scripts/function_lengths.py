#!/usr/bin/env python3
"""Lengths of the C++ functions in source files, for scripts/check-idiom.sh.

A function's length runs from the first line of its signature to its closing brace.
The scanner matches braces after taking out comments, string and character literals
(raw strings too) and preprocessor lines; lambdas and local classes count as part of the
function that holds them, and braces that initialise (`x{1}`, `= {...}`, `f({..})`) are
no function bodies.

    scripts/function_lengths.py [--max N] FILE...   prints "file:line: name (N lines)"
                                                    for each function over N (default 80)
"""

import re
import sys

_TOKEN = re.compile(
    r"""
    (?P<newline>\n)
  | (?P<space>[ \t\r\f\v]+)
  | (?P<linecomment>//[^\n]*)
  | (?P<blockcomment>/\*.*?(\*/|\Z))
  | (?P<raw>(?:u8|u|U|L)?R"(?P<delim>[^()\\\s]{0,16})\()
  | (?P<string>(?:u8|u|U|L)?"(?:\\.|[^"\\\n])*")
  | (?P<char>(?:u8|u|U|L)?'(?:\\.|[^'\\\n])+')
  | (?P<word>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<number>\.?[0-9](?:[0-9A-Za-z_.']|[eEpP][+-])*)
  | (?P<scope>::)
  | (?P<arrow>->)
  | (?P<punct>.)
    """,
    re.VERBOSE | re.DOTALL,
)


def tokens(text):
    """(kind, value, line) for each significant token; comments, literals' contents and
    preprocessor lines are left out, a literal becomes one token."""
    line = 1
    at = 0
    line_start = True  # only blanks since the last line break
    while at < len(text):
        match = _TOKEN.match(text, at)
        kind = match.lastgroup
        value = match.group(0)
        if kind == "raw":
            end = text.find(")" + match.group("delim") + '"', match.end())
            end = len(text) if end < 0 else end + len(match.group("delim")) + 2
            value = text[at:end]
            yield ("literal", '""', line)
            line += value.count("\n")
            at = end
            line_start = False
            continue
        if kind == "punct" and value == "#" and line_start:
            # A preprocessor line, with its continuations.
            end = at
            while True:
                end = text.find("\n", end)
                if end < 0:
                    end = len(text)
                    break
                if text[end - 1] != "\\":
                    break
                end += 1
            line += text.count("\n", at, end)
            at = end
            continue
        at = match.end()
        if kind == "newline":
            line += 1
            line_start = True
            continue
        line += value.count("\n")
        if kind in ("space", "linecomment", "blockcomment"):
            continue
        line_start = False
        if kind in ("string", "char"):
            yield ("literal", value[:1], line)
        else:
            yield (kind, value, line)


_SCOPE_WORDS = {"class", "struct", "union", "enum", "namespace"}
_QUALIFIERS = {"const", "noexcept", "override", "final", "mutable", "volatile", "try"}
_ACCESS = {"public", "private", "protected", "signals", "slots", "Q_SIGNALS", "Q_SLOTS"}
_NO_SEMICOLON_MACROS = {"Q_OBJECT", "Q_GADGET"}


def functions(text):
    """(name, first line, last line) of each function defined in `text`, outermost only."""
    found = []
    stack = []  # the open braces: (kind, first line, name), kind "scope", "function" or "init"
    head = []   # the tokens since the last ';', '{' or '}' at a scope level
    parens = 0
    for kind, value, line in tokens(text):
        if stack and stack[-1][0] != "scope":
            if value == "{":
                stack.append(("init", line, None))
            elif value == "}":
                opened = stack.pop()
                if opened[0] == "function":
                    found.append((opened[2], opened[1], line))
                elif not stack or stack[-1][0] == "scope":
                    head.append((kind, value, line))  # a braced initialiser ends in the head
            continue
        if value == "{":
            brace = _classify(head, parens)
            if brace == "init":
                stack.append(("init", line, None))
                continue
            stack.append((brace, head[0][2] if head else line, _name(head)))
        elif value == ";" and parens > 0:
            head.append((kind, value, line))
            continue
        elif value == ":" and head and all(v in _ACCESS for _, v, _ in head):
            pass  # "public:", "private slots:"
        elif value not in ("}", ";") and value not in _NO_SEMICOLON_MACROS:
            parens += value == "("
            parens -= value == ")" and parens > 0
            head.append((kind, value, line))
            continue
        elif value == "}" and stack:
            stack.pop()
        head, parens = [], 0
    return found


def _classify(head, parens):
    """What a '{' at a scope level opens, given the tokens before it."""
    words = [v for _, v, _ in head]
    if parens > 0 or not words:
        return "init"
    if "(" not in words:
        return "scope"  # a class, namespace, enum, extern "C", or a braced variable
    if "=" in words[: words.index("(")] and "operator" not in words:
        return "init"  # a variable's initialiser
    if words[-1] in (")", "}") or words[-1] in _QUALIFIERS:
        return "function"
    last_paren = len(words) - 1 - words[::-1].index(")")
    if "->" in words[last_paren:]:
        return "function"  # a trailing return type
    return "init"  # a member initialiser in a constructor's list, `m_{...}`


def _name(head):
    words = [v for _, v, _ in head]
    if "(" not in words:
        return "?"
    if "operator" in words:
        at = words.index("operator")
        start = at
        while start >= 2 and words[start - 1] == "::":
            start -= 2
        return "".join(words[start : words.index("(", at + 2)])
    at = words.index("(") - 1
    if re.fullmatch(r"(TYPED_)?TEST(_F|_P)?", words[at]):
        close = words.index(")", at)
        return words[at] + "(" + "".join(words[at + 1 : close]).lstrip("(") + ")"
    start = at
    if start >= 1 and words[start - 1] == "~":
        start -= 1
    while start >= 2 and words[start - 1] == "::":
        start -= 2
    return "".join(words[start : at + 1])


def main(arguments):
    limit = 80
    if arguments[:1] == ["--max"]:
        limit = int(arguments[1])
        arguments = arguments[2:]
    status = 0
    for path in arguments:
        with open(path, encoding="utf-8", errors="replace") as source:
            text = source.read()
        for name, first, last in functions(text):
            length = last - first + 1
            if length > limit:
                print(f"{path}:{first}: {name} ({length} lines)")
                status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
