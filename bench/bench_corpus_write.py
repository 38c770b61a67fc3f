"""A corpus written back from a table: table2textgrids against the loops.

    python bench/bench_corpus_write.py [--files N] [--intervals M] [--praatio-python PY]

Builds (seeded) the items table of N files of M intervals in two interval
tiers, then measures writing every file in the long layout, each workload in
a fresh process so that peak memory is the workload's own:

- table: plinth.table2textgrids(table, paths) (gaps filled, the default)
- loop: the Python loop people wrote before: polars partition_by("file_id"),
  then plinth.vectors2textgrid per file
- praatio: a Textgrid of IntervalTiers per file, saved as "long_textgrid",
  from per-file Python lists made beforehand (not timed); run with
  --praatio-python, the interpreter of a venv that has praatio
  (python3 -m venv build/peer-venv && build/peer-venv/bin/pip install praatio)

Times are the best of R runs (praatio: one run); peak memory is the growth of
the process's peak resident set (VmHWM, reset before the call) over one table2textgrids call, against the
size of its input table (Arrow buffers). Only ratios are printed as results:
the machine is shared and absolute times move with its load.
"""

from __future__ import annotations

import argparse
import json
import os
import pickle
import random
import subprocess
import sys
import tempfile
import time


def make_table(files: int, intervals: int):
    import pyarrow as pa

    rng = random.Random(20261209)
    columns = {"file_id": [], "tier": [], "is_interval": [], "tmin": [], "tmax": [], "label": []}
    for f in range(files):
        for name, count in (("words", intervals // 2), ("phones", intervals - intervals // 2)):
            start = 0.0
            for _ in range(count):
                end = round(start + rng.uniform(0.01, 0.3), 6)
                label = "".join(rng.choice("abcdefghij") for _ in range(rng.randint(1, 8)))
                for column, value in zip(columns, (f, name, True, start, end, label)):
                    columns[column].append(value)
                start = end
    return pa.table(columns)


def run_table(table, paths):
    import plinth

    failed = plinth.table2textgrids(table, paths)
    assert not failed, failed


def run_loop(table, paths):
    import plinth
    import polars as pl

    frame = pl.from_arrow(table)
    for (file_id,), part in frame.partition_by("file_id", as_dict=True).items():
        plinth.vectors2textgrid(
            part["tmin"].to_numpy(),
            part["tmax"].to_numpy(),
            part["label"].to_list(),
            part["tier"].to_list(),
            part["is_interval"].to_numpy(),
            None,
            None,
            paths[file_id],
            "long",
        )


def run_praatio(grids, paths):
    from praatio import textgrid

    for grid, path in zip(grids, paths):
        tg = textgrid.Textgrid()
        for name, entries in grid:
            tg.addTier(textgrid.IntervalTier(name, entries, 0.0, entries[-1][1]))
        tg.save(path, format="long_textgrid", includeBlankSpaces=True)


def resident(field: str) -> int:
    """A size in bytes from /proc/self/status (VmRSS now, VmHWM its peak)."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise SystemExit(f"no {field} in /proc/self/status")


def child(name: str, folder: str, repeat: int, mode: str) -> None:
    with open(os.path.join(folder, "paths.json")) as handle:
        paths = json.load(handle)
    if name == "praatio":
        with open(os.path.join(folder, "grids.pickle"), "rb") as handle:
            data, run = pickle.load(handle), run_praatio
    else:
        from pyarrow import feather

        data = feather.read_table(os.path.join(folder, "items.arrow"))
        run = run_table if name == "table" else run_loop
        import plinth  # noqa: F401
        import polars  # noqa: F401  (imported before timing, as a notebook has it)
    if mode == "peak":
        # The pool started on a few rows first; then the peak is reset (Linux
        # keeps the loading's peak otherwise), so the call's own growth is measured.
        run(data.slice(0, 10), paths)
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
        before = resident("VmRSS")
        run(data, paths)
        print(json.dumps({"peak": resident("VmHWM") - before, "input": data.nbytes}))
        return
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run(data, paths)
        times.append(time.perf_counter() - start)
    print(json.dumps({"best": min(times)}))


def spawn(python: str, name: str, folder: str, repeat: int, mode: str) -> dict:
    out = subprocess.run(
        [python, __file__, "--child", name, folder, str(repeat), mode],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return json.loads(out.strip().splitlines()[-1])


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=5000)
    parser.add_argument("--intervals", type=int, default=200)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--praatio-python", default=None)
    parser.add_argument("--child", nargs=4, metavar=("NAME", "FOLDER", "REPEAT", "MODE"))
    args = parser.parse_args()
    if args.child:
        name, folder, repeat, mode = args.child
        child(name, folder, int(repeat), mode)
        return

    from pyarrow import feather

    table = make_table(args.files, args.intervals)
    with tempfile.TemporaryDirectory(prefix="plinth-bench-corpus-") as folder:
        os.mkdir(os.path.join(folder, "out"))
        paths = [os.path.join(folder, "out", f"f{f:05d}.TextGrid") for f in range(args.files)]
        with open(os.path.join(folder, "paths.json"), "w") as handle:
            json.dump(paths, handle)
        feather.write_feather(
            table, os.path.join(folder, "items.arrow"), compression="uncompressed"
        )
        times = {
            "table": spawn(sys.executable, "table", folder, args.repeat, "time")["best"],
            "loop": spawn(sys.executable, "loop", folder, args.repeat, "time")["best"],
        }
        if args.praatio_python:
            grids = [[] for _ in range(args.files)]
            rows = zip(
                *(table[c].to_pylist() for c in ("file_id", "tier", "tmin", "tmax", "label"))
            )
            for file_id, tier, tmin, tmax, label in rows:
                tiers = grids[file_id]
                if not tiers or tiers[-1][0] != tier:
                    tiers.append((tier, []))
                tiers[-1][1].append((tmin, tmax, label))
            with open(os.path.join(folder, "grids.pickle"), "wb") as handle:
                pickle.dump(grids, handle)
            times["praatio"] = spawn(args.praatio_python, "praatio", folder, 1, "time")["best"]
        peak = spawn(sys.executable, "table", folder, 1, "peak")

    print(f"corpus: {args.files} files x {args.intervals} intervals, {table.num_rows} rows")
    print(f"loop over vectors2textgrid / table2textgrids: {times['loop'] / times['table']:.1f}x")
    if "praatio" in times:
        print(f"praatio / table2textgrids: {times['praatio'] / times['table']:.1f}x")
    print(
        f"peak memory of table2textgrids / its input table: {peak['peak'] / peak['input']:.2f}x "
        f"({peak['peak'] / 2**20:.0f} MiB over {peak['input'] / 2**20:.0f} MiB)"
    )


if __name__ == "__main__":
    main()
