"""Lists the C++ functions of the core and the module longer than a limit.

Counts braces on clang-formatted code: a brace opened where a namespace,
class or the file itself encloses it, after a header with a parameter list
that is no control statement, opens a function body (lambdas and local
blocks count towards the function around them). A function's length runs
from the first line of its header to the line of its closing brace.
Prints "LINES  FILE:LINE  NAME", longest first.

    python3 scripts/function_lengths.py [--over N]   (N: 80 by default)
"""

import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FOLDERS = [ROOT / "textgrid" / "src", ROOT / "src"]
CONTROL = re.compile(r"^(if|for|while|switch|catch|do|else|try)\b")
NAME = re.compile(r"((?:[\w:]*operator\s*(?:\(\)|[^\s(\w]+))|[\w:~]+)\s*\($")


def code_only(text: str) -> str:
    """The text with comments, string and character literals blanked, so
    that only real braces and parentheses remain; line breaks are kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == "#" and text[text.rfind("\n", 0, i) + 1 : i].strip() == "":
            while i < n and text[i] != "\n":  # a preprocessor line
                if text.startswith("\\\n", i):
                    out.append("\n")
                    i += 1
                i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
        elif c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum()):
            # A quote after a digit or letter is a digit separator (1'000).
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def functions(path: Path) -> list[tuple[int, int, str]]:
    """(first line, last line, name) of every function body in `path`."""
    code = code_only(path.read_text(encoding="utf-8"))
    found = []
    # One entry per open brace: "function" (a body), "scope" (a namespace, a
    # class, a block) or "init" (braces inside a header: a default argument,
    # a member's initializer, which leave the header going on).
    stack: list[tuple[str, int, str]] = []
    header_start = 0  # offset where the text before the next brace began
    line = 1
    parentheses = 0
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        elif c in "()":
            parentheses += 1 if c == "(" else -1
        elif c == ";":
            header_start = i + 1
        elif c == "}":
            kind, first, name = stack.pop() if stack else ("scope", line, "")
            if kind == "function":
                found.append((first, line, name))
            if kind != "init":
                header_start = i + 1
        elif c == "{":
            inside_function = any(kind == "function" for kind, _, _ in stack)
            if not inside_function and (
                parentheses > 0
                or any(kind == "init" for kind, _, _ in stack)
                or code[i - 1 : i].isalnum()
                or code[i - 1 : i] in ("_", ">", "=")
                or code[header_start:i].rstrip().endswith("=")
            ):
                stack.append(("init", line, ""))
                continue
            header = code[header_start:i].strip()
            header = re.sub(r"^(public|private|protected)\s*:", "", header).strip()
            is_function = (
                not inside_function
                and ")" in header
                and not CONTROL.match(header)
                and not re.match(r"^(namespace|class|struct|union|enum|extern)\b", header)
                and not header.startswith("#")
            )
            name = ""
            if is_function:
                match = NAME.search(header[: header.find("(")] + "(")
                name = match.group(1) if match else "?"
                name += "()" if name.endswith("operator") else ""
            first = line - code[header_start:i].lstrip("\n ").count("\n")
            stack.append(("function" if is_function else "scope", first, name))
            header_start = i + 1
    return found


def main() -> int:
    limit = 80
    args = sys.argv[1:]
    if args[:1] == ["--over"] and len(args) == 2:
        limit = int(args[1])
    elif args:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    long_ones = []
    for folder in FOLDERS:
        for path in sorted(folder.rglob("*.[ch]pp")):
            for first, last, name in functions(path):
                length = last - first + 1
                if length > limit:
                    long_ones.append((length, path.relative_to(ROOT).as_posix(), first, name))
    for length, file, first, name in sorted(long_ones, key=lambda f: (-f[0], f[1], f[2])):
        print(f"{length:5}  {file}:{first}  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
