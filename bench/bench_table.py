"""A corpus to a DataFrame: textgrids2table against textgrids2vectors.

    python bench/bench_table.py [--files N] [--intervals M] [--repeat R]

Generates N files of M intervals (seeded, long layout, two interval tiers)
and measures, each in a fresh process so that peak memory is the workload's
own:

- table: polars.DataFrame(plinth.textgrids2table(paths, False, "auto"))
- vectors: plinth.textgrids2vectors(paths, False, "auto") and a pandas
  DataFrame of its six columns
- textgrids2table alone with PLINTH_NUM_THREADS=1 and =2

Times are medians of R runs after one warm-up run (files in the page cache);
peak memory is the growth of the process's peak resident set over one call.
Only ratios are printed as results: the machine is shared and absolute
times move with its load. As other jobs take CPUs from the two-thread run,
the threads' own CPU times also give its critical path (the calling
thread's work plus the busiest worker's), which is what two CPUs of its own
would take.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import resource
import statistics
import subprocess
import sys
import tempfile
import time


def make_corpus(folder: str, files: int, intervals: int) -> list[str]:
    import plinth

    rng = random.Random(20261208)
    paths = []
    for f in range(files):
        tiers = []
        for name, count in (("words", intervals // 2), ("phones", intervals - intervals // 2)):
            bounds = [0.0]
            for _ in range(count):
                bounds.append(round(bounds[-1] + rng.uniform(0.01, 0.3), 6))
            labels = [
                "".join(rng.choice("abcdefghij") for _ in range(rng.randint(1, 8)))
                for _ in range(count)
            ]
            tiers.append(
                (name, True, [(bounds[i], bounds[i + 1], labels[i]) for i in range(count)])
            )
        path = os.path.join(folder, f"f{f:05d}.TextGrid")
        end = max(t[2][-1][1] for t in tiers)
        plinth.data2textgrid(tiers, 0.0, end, path, "long")
        paths.append(path)
    return paths


def workload(name: str):
    import plinth

    if name == "table":
        import polars as pl

        return lambda paths: pl.DataFrame(plinth.textgrids2table(paths, False, "auto"))
    if name == "vectors":
        import pandas as pd

        def run(paths):
            tmins, tmaxs, labels, tiers, flags, ids = plinth.textgrids2vectors(paths, False, "auto")
            return pd.DataFrame(
                {
                    "file_id": ids,
                    "tier": tiers,
                    "is_interval": flags,
                    "tmin": tmins,
                    "tmax": tmaxs,
                    "label": labels,
                }
            )

        return run
    if name == "table_only":
        return lambda paths: plinth.textgrids2table(paths, False, "auto")
    raise SystemExit(f"unknown workload {name}")


def thread_cpu() -> dict[int, float]:
    """CPU seconds (user + system) of every thread of this process, by id."""
    ticks = os.sysconf("SC_CLK_TCK")
    out = {}
    for tid in os.listdir("/proc/self/task"):
        try:
            with open(f"/proc/self/task/{tid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        out[int(tid)] = (int(fields[11]) + int(fields[12])) / ticks
    return out


def child(name: str, listing: str, repeat: int, mode: str) -> None:
    with open(listing) as handle:
        paths = handle.read().split("\n")
    run = workload(name)
    if mode == "peak":
        # Everything imported, the pool started on a tiny call; then one call.
        import plinth

        plinth.textgrids2table(paths[:1], False, "auto")
        with open("/proc/self/statm") as statm:
            before = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        result = run(paths)
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
        print(json.dumps({"peak": peak - before, "rows": len(result)}))
        return
    run(paths)
    times = []
    cpu_start, wall_start = time.process_time(), time.perf_counter()
    threads_start = thread_cpu()
    for _ in range(repeat):
        start = time.perf_counter()
        result = run(paths)
        times.append(time.perf_counter() - start)
        del result
    # CPU time over wall time: near the worker count when the work spreads,
    # even while other jobs keep the machine busy.
    cpu_per_wall = (time.process_time() - cpu_start) / (time.perf_counter() - wall_start)
    # The critical path on dedicated CPUs: the calling thread's own work and
    # the busiest worker's (the caller only waits while the workers read).
    spent = {tid: cpu - threads_start.get(tid, 0.0) for tid, cpu in thread_cpu().items()}
    main = spent.pop(os.getpid(), 0.0)
    critical = (main + max(spent.values(), default=0.0)) / repeat
    print(
        json.dumps(
            {
                "median": statistics.median(times),
                "times": times,
                "cpu_per_wall": cpu_per_wall,
                "critical": critical,
            }
        )
    )


def spawn(name: str, listing: str, repeat: int, mode: str, threads: str | None = None) -> dict:
    env = dict(os.environ)
    if threads is not None:
        env["PLINTH_NUM_THREADS"] = threads
    out = subprocess.run(
        [sys.executable, __file__, "--child", name, listing, str(repeat), mode],
        env=env,
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return json.loads(out.strip().splitlines()[-1])


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--intervals", type=int, default=500)
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--child", nargs=4, metavar=("NAME", "LISTING", "REPEAT", "MODE"))
    args = parser.parse_args()
    if args.child:
        name, listing, repeat, mode = args.child
        child(name, listing, int(repeat), mode)
        return

    with tempfile.TemporaryDirectory(prefix="plinth-bench-table-") as folder:
        paths = make_corpus(folder, args.files, args.intervals)
        listing = os.path.join(folder, "paths.txt")
        with open(listing, "w") as handle:
            handle.write("\n".join(paths))
        load_start = os.getloadavg()[0]
        # Side by side, alternating, so that a change of load hits both.
        table, vectors, one, two, spread, critical_one, critical_two = [], [], [], [], [], [], []
        for _ in range(3):
            table.append(spawn("table", listing, args.repeat, "time")["median"])
            vectors.append(spawn("vectors", listing, args.repeat, "time")["median"])
            run = spawn("table_only", listing, args.repeat, "time", "1")
            one.append(run["median"])
            critical_one.append(run["critical"])
            run = spawn("table_only", listing, args.repeat, "time", "2")
            two.append(run["median"])
            spread.append(run["cpu_per_wall"])
            critical_two.append(run["critical"])
        table_peak = spawn("table", listing, 1, "peak")
        vectors_peak = spawn("vectors", listing, 1, "peak")
        load_end = os.getloadavg()[0]

    t, v, s1, s2 = (statistics.median(x) for x in (table, vectors, one, two))
    print(
        f"corpus: {args.files} files x {args.intervals} intervals, "
        f"{table_peak['rows']} rows; load average {load_start:.2f} -> {load_end:.2f}"
    )
    print(f"time, vectors+pandas / table+polars:   {v / t:.2f}x")
    print(
        f"peak memory, table+polars / vectors+pandas: "
        f"{table_peak['peak'] / vectors_peak['peak']:.2f}"
    )
    print(
        f"textgrids2table time, 1 thread / 2 threads: {s1 / s2:.2f}x "
        f"(CPU time / wall time on 2 threads: {statistics.median(spread):.2f})"
    )
    # What two dedicated CPUs would give, from the threads' CPU times: robust
    # to other jobs on the machine, blind to memory-bandwidth contention.
    print(
        f"textgrids2table critical path, 1 thread / 2 threads: "
        f"{statistics.median(critical_one) / statistics.median(critical_two):.2f}x"
    )


if __name__ == "__main__":
    main()
