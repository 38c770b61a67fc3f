"""Checks that the core's include arrows run one way.

The core's folders are floors, from the bottom: base, parallel, text, model,
formats, read, and on top write and arrow side by side. A unit (x.hpp with
its x.cpp) may include units of its own folder and of the floors below it,
never of a floor above nor of a folder beside it; and no units include each
other, round any number of arrows. A hook header (x_testing.hpp) is for the
tests and benchmarks: only the source that defines its hooks, in its own
folder, includes it. Prints each offending arrow and exits 1.

With --map, prints the folders and their units with line counts instead.
"""

import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent / "textgrid" / "src"
MODULE = Path(__file__).resolve().parent.parent / "src"
FLOORS = {
    "base": 0,
    "parallel": 1,
    "text": 2,
    "model": 3,
    "formats": 4,
    "read": 5,
    "write": 6,
    "arrow": 6,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def unit_of(path: str) -> str:
    """'text/numbers.hpp' -> 'text/numbers': a header and its source are one unit."""
    return path.rsplit(".", 1)[0]


def read_units() -> tuple[dict[str, set[str]], dict[str, int], list[str]]:
    """The arrows between units, each unit's line count, and the problems found."""
    arrows: dict[str, set[str]] = {}
    lines: dict[str, int] = {}
    problems = []
    for file in sorted(ROOT.glob("*/*.[ch]pp")):
        name = file.relative_to(ROOT).as_posix()
        unit = unit_of(name)
        if unit.split("/")[0] not in FLOORS:
            problems.append(f"{name}: folder not among {', '.join(FLOORS)}")
        text = file.read_text(encoding="utf-8")
        lines[unit] = lines.get(unit, 0) + text.count("\n")
        targets = arrows.setdefault(unit, set())
        for included in INCLUDE.findall(text):
            if included.endswith("_testing.hpp") and not (
                file.suffix == ".cpp" and included.split("/")[0] == unit.split("/")[0]
            ):
                problems.append(f'{name}: includes "{included}", a header for the tests only')
            if not (ROOT / included).is_file():
                problems.append(f'{name}: includes "{included}", not a file of the core')
            elif unit_of(included) != unit:
                targets.add(unit_of(included))
    for file in sorted(MODULE.glob("*.[ch]pp")):
        for included in INCLUDE.findall(file.read_text(encoding="utf-8")):
            if included.endswith("_testing.hpp"):
                problems.append(
                    f'src/{file.name}: includes "{included}", a header for the tests only'
                )
    return arrows, lines, problems


def against_floors(arrows: dict[str, set[str]]) -> list[str]:
    problems = []
    for unit, targets in sorted(arrows.items()):
        folder = unit.split("/")[0]
        for target in sorted(targets):
            other = target.split("/")[0]
            if other == folder or folder not in FLOORS or other not in FLOORS:
                continue
            if FLOORS[other] >= FLOORS[folder]:
                problems.append(f"{unit} -> {target}: {other}/ is not below {folder}/")
    return problems


def loops(arrows: dict[str, set[str]]) -> list[str]:
    """One loop per strongly connected group of units (Tarjan), as its arrows."""
    index: dict[str, int] = {}
    low: dict[str, int] = {}
    stack: list[str] = []
    on_stack: set[str] = set()
    groups: list[list[str]] = []

    def visit(unit: str) -> None:
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for target in sorted(arrows.get(unit, ())):
            if target not in index:
                visit(target)
                low[unit] = min(low[unit], low[target])
            elif target in on_stack:
                low[unit] = min(low[unit], index[target])
        if low[unit] == index[unit]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == unit:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for unit in sorted(arrows):
        if unit not in index:
            visit(unit)
    return [describe_loop(group, arrows) for group in groups]


def describe_loop(group: list[str], arrows: dict[str, set[str]]) -> str:
    """A path from the group's first unit round to itself, inside the group."""
    start = group[0]
    members = set(group)
    paths = {start: [start]}
    queue = [start]
    while queue:
        unit = queue.pop(0)
        for target in sorted(arrows.get(unit, ()) & members):
            if target == start:
                return "loop: " + " -> ".join(paths[unit] + [start])
            if target not in paths:
                paths[target] = paths[unit] + [target]
                queue.append(target)
    return "loop among: " + ", ".join(group)


def print_map(arrows: dict[str, set[str]], lines: dict[str, int]) -> None:
    for folder in sorted(FLOORS, key=lambda f: (FLOORS[f], f)):
        units = sorted(u for u in lines if u.split("/")[0] == folder)
        total = sum(lines[u] for u in units)
        print(f"{folder}/ ({total} lines)")
        for unit in units:
            includes = ", ".join(sorted(arrows[unit])) or "-"
            print(f"  {unit.split('/')[1]:<22} {lines[unit]:>4}  includes {includes}")


def main() -> int:
    arrows, lines, problems = read_units()
    if "--map" in sys.argv[1:]:
        print_map(arrows, lines)
        return 0
    problems += against_floors(arrows) + loops(arrows)
    for problem in problems:
        print(f"include arrows: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
