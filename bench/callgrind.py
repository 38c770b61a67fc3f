"""Instructions per interval of the module's calls, counted by callgrind.

    python bench/callgrind.py SO_DIR OUT.md [--work DIR] [--only NAME,...]

SO_DIR is a folder holding a built plinth*.so (put first on PYTHONPATH; the
child checks that it imported that file). The 100,000-interval TextGrid of
workload (a) is made with generate.py's own functions and seed, byte for byte
its long.TextGrid, and written in the long and the short layout.

Each workload runs in its own process under

    valgrind --tool=callgrind --instr-atstart=no

so nothing is counted until the child asks for it. The child imports plinth,
reads its inputs and makes the call once unmeasured (numpy's import, interned
names, the thread pool's start and the first page faults fall there), runs a
full garbage collection, and then, through a three-line helper compiled here
against <valgrind/callgrind.h>, starts instrumentation (every thread: the
pool's workers are counted too), makes the one call, keeps its result, and
stops instrumentation. The total is callgrind's "totals" line. The window's
own cost (the ctypes return and call around it and an empty call in the same
place, a few hundred instructions) is measured by the "empty" workload and
taken off every row. The count is of guest instructions (Ir), so it does not
depend on the machine's load; PYTHONHASHSEED is fixed.

Workloads (strict, "auto", as bench/peers/plinth_tool.py reads):
    textgrid2data(long), textgrid2vectors(long), textgrid2table(long) (the
    call, which builds the Arrow buffers; no consumer), data2textgrid long
    (the data of textgrid2data(long) written to a new file), and
    textgrid2data(short).

Prints a Markdown table (workload, instructions, per interval) and writes it
to OUT.md. Each valgrind run takes well under a minute on this machine.
"""

from __future__ import annotations

import argparse
import ctypes
import datetime
import gc
import os
import platform
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SEED = 20261208  # generate.py's default
INTERVALS = 100_000

HELPER = r"""
#include <valgrind/callgrind.h>
void window_open(void) { CALLGRIND_START_INSTRUMENTATION; }
void window_close(void) { CALLGRIND_STOP_INSTRUMENTATION; }
"""

WORKLOADS = [
    "empty",
    "textgrid2data(long)",
    "textgrid2vectors(long)",
    "textgrid2table(long)",
    "data2textgrid long",
    "textgrid2data(short)",
]


def make_inputs(work: str) -> None:
    sys.path.insert(0, HERE)
    import generate

    rng = random.Random(SEED)
    tmin, tmax, tiers = generate.three_tiers(rng, INTERVALS)
    assert sum(len(t[2]) for t in tiers) == INTERVALS
    generate.write(os.path.join(work, "long.TextGrid"), generate.long_layout(tmin, tmax, tiers))
    generate.write(os.path.join(work, "short.TextGrid"), generate.short_layout(tmin, tmax, tiers))


def make_helper(work: str) -> str:
    source = os.path.join(work, "window.c")
    library = os.path.join(work, "window.so")
    with open(source, "w", encoding="utf-8") as f:
        f.write(HELPER)
    subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", library, source], check=True)
    return library


def child(name: str, work: str, helper: str, so_dir: str) -> None:
    import plinth

    where = os.path.realpath(os.path.dirname(plinth.__file__))
    if where != os.path.realpath(so_dir):
        sys.exit(f"callgrind: imported plinth from {where}, not {so_dir}")
    window = ctypes.CDLL(helper)
    long_path = os.path.join(work, "long.TextGrid")
    short_path = os.path.join(work, "short.TextGrid")
    calls = {
        "empty": (tuple, ()),
        "textgrid2data(long)": (plinth.textgrid2data, (long_path, True, "auto")),
        "textgrid2vectors(long)": (plinth.textgrid2vectors, (long_path, True, "auto")),
        "textgrid2table(long)": (plinth.textgrid2table, (long_path, True, "auto")),
        "textgrid2data(short)": (plinth.textgrid2data, (short_path, True, "auto")),
    }
    if name == "data2textgrid long":
        tmin, tmax, tiers = plinth.textgrid2data(long_path, True, "auto")
        out = tempfile.mkdtemp(dir=work)
        plinth.data2textgrid(tiers, tmin, tmax, os.path.join(out, "warm.TextGrid"), "long")
        fn, args = (
            plinth.data2textgrid,
            (tiers, tmin, tmax, os.path.join(out, "new.TextGrid"), "long"),
        )
    else:
        fn, args = calls[name]
        warm = fn(*args)
        del warm
    gc.collect()
    window.window_open()
    result = fn(*args)
    window.window_close()
    del result


def instructions(out_file: str) -> int:
    with open(out_file, encoding="utf-8") as f:
        for line in f:
            if line.startswith("totals:"):  # "summary:" is written before the counts, as 0
                return int(line.split()[1])
    sys.exit(f"callgrind: no totals in {out_file}")


def run(name: str, work: str, helper: str, so_dir: str) -> int:
    slug = re.sub(r"\W+", "_", name).strip("_")
    out_file = os.path.join(work, f"callgrind.{slug}.out")
    env = dict(os.environ, PYTHONPATH=os.path.abspath(so_dir), PYTHONHASHSEED="0")
    command = [
        "valgrind",
        "--tool=callgrind",
        "--instr-atstart=no",
        f"--callgrind-out-file={out_file}",
        sys.executable,
        os.path.abspath(__file__),
        "--child",
        name,
        "--work",
        work,
        "--helper",
        helper,
        so_dir,
        "-",
    ]
    done = subprocess.run(command, check=False, env=env, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.stderr.write(done.stderr)
        sys.exit(f"callgrind: {name} failed ({done.returncode})")
    return instructions(out_file)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("so_dir")
    parser.add_argument("out")
    parser.add_argument(
        "--work", help="folder for the inputs and callgrind files (default: a temporary one)"
    )
    parser.add_argument("--only", help="comma-separated workload names")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    parser.add_argument("--helper", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(args.child, args.work, args.helper, args.so_dir)
        return 0
    if not any(n.startswith("plinth") and n.endswith(".so") for n in os.listdir(args.so_dir)):
        sys.exit(f"callgrind: no plinth*.so in {args.so_dir}")
    names = WORKLOADS[1:]
    if args.only:
        names = [n.strip() for n in args.only.split(",")]
        unknown = [n for n in names if n not in WORKLOADS]
        if unknown:
            sys.exit(f"callgrind: unknown workload {unknown}; known: {WORKLOADS}")
    work = args.work or tempfile.mkdtemp(prefix="plinth-callgrind-")
    os.makedirs(work, exist_ok=True)
    make_inputs(work)
    helper = make_helper(work)
    empty = run("empty", work, helper, args.so_dir)
    so = [n for n in os.listdir(args.so_dir) if n.startswith("plinth") and n.endswith(".so")]
    commit = subprocess.run(
        ["git", "-C", args.so_dir, "describe", "--always", "--dirty"],
        check=False,
        capture_output=True,
        text=True,
    ).stdout.strip()
    lines = [
        (
            f"callgrind instructions (Ir) of one call, {INTERVALS:,} intervals over 3 tiers "
            f"(seed {SEED}); module {os.path.join(os.path.abspath(args.so_dir), so[0])} "
            f"(checkout {commit or 'unknown'}); Python {platform.python_version()}; "
            f"{datetime.date.today()}; window cost {empty:,} taken off each row."
        ),
        "",
        "| Workload | Instructions | Per interval |",
        "|---|---:|---:|",
    ]
    for name in names:
        if name == "empty":
            continue
        count = run(name, work, helper, args.so_dir) - empty
        lines.append(f"| {name} | {count:,} | {count / INTERVALS:,.1f} |")
        print(lines[-1], flush=True)
    text = "\n".join(lines) + "\n"
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(text)
    print(text, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
