"""Cost of the Python layer on a 100,000-interval TextGrid.

    python bench/bench_module.py [--items N] [--repeat R]

Times textgrid2data and textgrid2vectors on one generated file (long and short
layout) and sets them beside the time it takes CPython to build the very same
Python objects from values it already has: unpickling the result (every float,
str, tuple and list made anew, in C) and a list comprehension over parsed
Python lists. The difference is what reading, parsing and conversion cost on
top of the objects that any reader must create. To split that further, the
same file with a wrong declared tier count is read strictly: the call parses
the whole file, fails the final document check and raises, building no
result, so its time is the reading alone.

Stages beside the whole calls: "Python build only" is a whole read less the
reading alone (the objects made from the model); on the writing side,
data2textgrid with data that fail the final check (its last tier holds a
point with two different times) converts and checks everything and writes
nothing, so the whole call less that is "text + file only".

    python bench/bench_module.py --corpus build/bench-inputs/corpus.txt [--rounds R]
                                 [--python PYTHON ...]

times textgrids2vectors and textgrids2data over the listed files in fresh
processes confined by taskset to one CPU and to two in turn, and prints the
medians, their ratio, the peak memory and the context switches; with
--python (repeatable) the same for each interpreter's module side by side,
such as a build of another branch.
"""

from __future__ import annotations

import argparse
import os
import pickle
import platform
import random
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import plinth


def make_file(path: str, items: int, layout: str) -> None:
    rng = random.Random(20261208)
    bounds = [0.0]
    for _ in range(items):
        bounds.append(round(bounds[-1] + rng.uniform(0.01, 0.5), 6))
    labels = [
        "".join(rng.choice("abcdefghij ") for _ in range(rng.randint(0, 12))) for _ in range(items)
    ]
    tiers = [("words", True, [(bounds[i], bounds[i + 1], labels[i]) for i in range(items)])]
    plinth.data2textgrid(tiers, 0.0, bounds[-1], path, layout)


def with_wrong_tier_count(path: str, layout: str) -> str:
    with open(path, "rb") as handle:
        raw = handle.read()
    if layout == "long":
        raw = raw.replace(b"size = 1 \r\n", b"size = 2 \r\n", 1)
    else:
        lines = raw.split(b"\r\n")
        lines[6] = b"2"
        raw = b"\r\n".join(lines)
    bad = path + ".bad"
    with open(bad, "wb") as handle:
        handle.write(raw)
    return bad


def read_only(path: str, layout: str) -> None:
    try:
        plinth.textgrid2data(path, True, layout)
    except OSError:
        return
    raise RuntimeError("the damaged file was accepted")


def best(call, repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def write_stages(data, folder: str, repeat: int) -> list[tuple[str, float, float]]:
    tmin, tmax, tiers = data
    failing = tiers + [("bad", False, [(tmin, tmax, "x")])]
    out = os.path.join(folder, "written.TextGrid")

    def checks_only(layout):
        try:
            plinth.data2textgrid(failing, tmin, tmax, out, layout)
        except OSError:
            return
        raise RuntimeError("the failing data were accepted")

    rows = []
    for layout in ("long", "short"):
        t_whole = best(lambda: plinth.data2textgrid(tiers, tmin, tmax, out, layout), repeat)
        t_checks = best(lambda: checks_only(layout), repeat)
        rows.append((layout, t_whole, t_checks))
    return rows


_CORPUS_CALL = """
import resource, sys, time, plinth
paths = open(sys.argv[1]).read().split()
function = getattr(plinth, sys.argv[2])
times = []
for _ in range(int(sys.argv[3])):
    start = time.perf_counter()
    result = function(paths, True, "auto")
    times.append(time.perf_counter() - start)
    del result
usage = resource.getrusage(resource.RUSAGE_SELF)
print(min(times), usage.ru_maxrss * 1024, usage.ru_nvcsw + usage.ru_nivcsw)
"""

CPU_SETS = {"1 CPU": "0", "2 CPUs": "0,1"}


def corpus_cpus(listing: str, rounds: int, pythons: list[str]) -> None:
    """textgrids2vectors and textgrids2data confined to 1 and to 2 CPUs.

    Each call runs in a fresh process under `taskset` (the module sizes its
    pool from the affinity mask), the interpreters, functions and CPU sets
    alternating round by round, so that a change of load hits all alike.
    """
    functions = ("textgrids2vectors", "textgrids2data")
    runs: dict[tuple[str, str, str], list[tuple[float, int, int]]] = {}
    load_start = os.getloadavg()[0]
    for _ in range(rounds):
        for python in pythons:
            for function in functions:
                for cpus, mask in CPU_SETS.items():
                    out = subprocess.run(
                        ["taskset", "-c", mask, python, "-c", _CORPUS_CALL, listing, function, "3"],
                        check=True,
                        capture_output=True,
                        text=True,
                    ).stdout
                    best, peak, switches = out.split()
                    runs.setdefault((python, function, cpus), []).append(
                        (float(best), int(peak), int(switches))
                    )
    files = len(open(listing).read().split())
    print(
        f"{files} files, best of 3 calls per process, median of {rounds} processes; "
        f"load average {load_start:.2f} -> {os.getloadavg()[0]:.2f}"
    )
    print(
        "| interpreter | function | 1 CPU s | 2 CPUs s | 1 CPU / 2 CPUs | peak MB (2 CPUs) "
        "| context switches per process (2 CPUs) |"
    )
    print("|---|---|---|---|---|---|---|")
    for python in pythons:
        for function in functions:
            one = statistics.median(r[0] for r in runs[(python, function, "1 CPU")])
            two_runs = runs[(python, function, "2 CPUs")]
            two = statistics.median(r[0] for r in two_runs)
            peak = statistics.median(r[1] for r in two_runs) / 2**20
            switches = statistics.median(r[2] for r in two_runs)
            print(
                f"| {python} | {function} | {one:.3f} | {two:.3f} | {one / two:.2f}x "
                f"| {peak:.0f} | {switches:.0f} |"
            )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument(
        "--corpus", help="a file listing TextGrid paths: time the batch on 1 and 2 CPUs"
    )
    parser.add_argument(
        "--python",
        action="append",
        help="with --corpus: an interpreter to time (repeatable; default: this one)",
    )
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    if args.corpus:
        corpus_cpus(args.corpus, args.rounds, args.python or [sys.executable])
        return

    print(f"plinth module bench: {args.items} intervals, best of {args.repeat}")
    print(
        f"CPython {platform.python_version()}, NumPy {np.__version__}, "
        f"{platform.machine()}, {os.cpu_count()} CPU(s)"
    )
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for layout in ("long", "short"):
            path = os.path.join(folder, f"bench_{layout}.TextGrid")
            make_file(path, args.items, layout)
            data = plinth.textgrid2data(path, True, layout)
            vectors = plinth.textgrid2vectors(path, True, layout)

            bad = with_wrong_tier_count(path, layout)
            t_read = best(lambda: read_only(bad, layout), args.repeat)
            t_data = best(lambda: plinth.textgrid2data(path, True, layout), args.repeat)
            t_vectors = best(lambda: plinth.textgrid2vectors(path, True, layout), args.repeat)

            # Baselines: the same objects from values already at hand.
            pickled_data = pickle.dumps(data, protocol=pickle.HIGHEST_PROTOCOL)
            t_unpickle_data = best(lambda: pickle.loads(pickled_data), args.repeat)
            tmins, tmaxs, labels = (vectors[0].tolist(), vectors[1].tolist(), vectors[2])
            name, flag = data[2][0][0], data[2][0][1]

            def comprehension():
                items = [(a + 0.0, b + 0.0, s) for a, b, s in zip(tmins, tmaxs, labels)]
                return (0.0, tmaxs[-1], [(name, flag, items)])

            t_comprehension = best(comprehension, args.repeat)
            pickled_vectors = pickle.dumps(
                (vectors[2], vectors[3]), protocol=pickle.HIGHEST_PROTOCOL
            )
            raw = (vectors[0].tobytes(), vectors[1].tobytes(), vectors[4].tobytes())

            def vector_objects():
                np.frombuffer(raw[0]).copy(), np.frombuffer(raw[1]).copy()
                np.frombuffer(raw[2], dtype=np.bool_).copy()
                return pickle.loads(pickled_vectors)

            t_vector_objects = best(vector_objects, args.repeat)
            size = os.path.getsize(path)
            rows.append(
                (
                    layout,
                    size,
                    t_read,
                    t_data,
                    t_unpickle_data,
                    t_comprehension,
                    t_vectors,
                    t_vector_objects,
                )
            )
            if layout == "long":
                writes = write_stages(data, folder, args.repeat)

    print()
    print(
        "| layout | file MB | reading alone ms | textgrid2data ms | same objects by unpickling ms "
        "| by comprehension ms | data beyond reading + unpickling ms | textgrid2vectors ms "
        "| same objects (2 lists + 3 arrays) ms | vectors beyond reading + objects ms |"
    )
    print("|---|---|---|---|---|---|---|---|---|---|")
    for layout, size, t_read, t_data, t_unpickle, t_comp, t_vec, t_vec_obj in rows:
        print(
            f"| {layout} | {size / 1e6:.1f} | {t_read * 1e3:.1f} | {t_data * 1e3:.1f} | "
            f"{t_unpickle * 1e3:.1f} | {t_comp * 1e3:.1f} | "
            f"{(t_data - t_read - t_unpickle) * 1e3:+.1f} | {t_vec * 1e3:.1f} | "
            f"{t_vec_obj * 1e3:.1f} | {(t_vec - t_read - t_vec_obj) * 1e3:+.1f} |"
        )

    print()
    print(
        "Stages of a read: reading alone, and the Python build only (whole call less reading alone)"
    )
    print()
    print(
        "| layout | reading alone ms | textgrid2data ms | its Python build only ms | textgrid2vectors ms "
        "| its Python build only ms |"
    )
    print("|---|---|---|---|---|---|")
    for layout, size, t_read, t_data, t_unpickle, t_comp, t_vec, t_vec_obj in rows:
        print(
            f"| {layout} | {t_read * 1e3:.1f} | {t_data * 1e3:.1f} | {(t_data - t_read) * 1e3:.1f} | "
            f"{t_vec * 1e3:.1f} | {(t_vec - t_read) * 1e3:.1f} |"
        )

    print()
    print(
        "Stages of data2textgrid (the long file's data): conversion and checks only (data that fail "
        "the final check), and the text + file only (whole call less that)"
    )
    print()
    print(
        "| written layout | data2textgrid ms | conversion and checks only ms | text + file only ms |"
    )
    print("|---|---|---|---|")
    for layout, t_whole, t_checks in writes:
        print(
            f"| {layout} | {t_whole * 1e3:.1f} | {t_checks * 1e3:.1f} | {(t_whole - t_checks) * 1e3:.1f} |"
        )


if __name__ == "__main__":
    sys.exit(main())
