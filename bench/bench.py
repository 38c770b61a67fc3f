"""Runs every workload for every tool that can do it and writes the results.

    bench.py run --inputs DIR --results DIR [--limit-bin PATH] [--quick]
    bench.py cell --tool NAME --workload ID --inputs DIR ...   (one measurement, internal)

Each (tool, workload) cell runs in a fresh child process, so no tool pays for
another's memory or warm caches, and a tool that does not finish is stopped
at the cell's time-out. A cell repeats its workload until its time budget or
its repetition cap is used up and reports every repetition; the tables show
medians. A first repetition under WARMUP_BELOW seconds is a warm-up (it
starts plinth's worker pool and loads NumPy) and is not counted.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

WARMUP_BELOW = 2.0


@dataclass(frozen=True)
class Workload:
    id: str
    title: str
    kind: str  # "read", "corpus" or "write"
    file: str = ""
    layout: str = "long"
    items_key: str = "items_long"
    budget: float = 10.0  # seconds of repetitions per cell
    max_reps: int = 15
    timeout: float = 90.0  # a cell still running then is stopped


WORKLOADS = [
    Workload(
        "a", "(a) read long layout, 100,000 intervals, 3 tiers", "read", "long.TextGrid", "long"
    ),
    Workload("b", "(b) read short layout, same TextGrid", "read", "short.TextGrid", "short"),
    Workload(
        "c",
        "(c) read corpus, 2,000 files of 2,000 intervals (long)",
        "corpus",
        items_key="items_corpus",
        budget=45.0,
        max_reps=7,
        timeout=240.0,
    ),
    Workload("d-long", "(d) write (a) in the long layout", "write", "long.TextGrid", "long"),
    Workload("d-short", "(d) write (a) in the short layout", "write", "long.TextGrid", "short"),
    Workload(
        "e",
        "(e) read point-tier-heavy file, 99,000 points + 1,000 intervals",
        "read",
        "points.TextGrid",
        "long",
        items_key="items_points",
    ),
]
QUICK = dict(budget=1.0, max_reps=3, timeout=60.0)


def tool_by_name(name: str):
    from peers import load_tools

    tools, _ = load_tools()
    for tool in tools:
        if tool.name == name:
            return tool
    raise SystemExit(f"no tool named {name!r}")


def corpus_paths(inputs: str) -> list[str]:
    with open(os.path.join(inputs, "corpus.txt"), encoding="utf-8") as f:
        return [line.strip() for line in f if line.strip()]


def measure(work, budget: float, max_reps: int, on_first=None) -> list[float]:
    times: list[float] = []
    warmed = False
    spent = 0.0
    while len(times) < max_reps and (spent < budget or not times):
        gc.collect()
        start = time.perf_counter()
        result = work()
        took = time.perf_counter() - start
        if on_first is not None:
            on_first(result)
            on_first = None
        del result
        spent += took
        if not warmed and took < WARMUP_BELOW:
            warmed = True
            continue
        warmed = True
        times.append(took)
    return times


def run_cell(args) -> dict:
    """One (tool, workload) measurement in this process; returns its record."""
    tool = tool_by_name(args.tool)
    workload = next(w for w in WORKLOADS if w.id == args.workload)
    record: dict = {"tool": tool.name, "workload": workload.id}
    scale = 1.0
    if workload.kind == "read":
        path = os.path.join(args.inputs, workload.file)
        work = lambda: tool.read(path, workload.layout)
    elif workload.kind == "corpus":
        paths = corpus_paths(args.inputs)
        subset = tool.extra.get("corpus_subset")
        if subset and subset < len(paths):
            # A loop over files costs the same per file: time a slice, scale up.
            scale = len(paths) / subset
            record["subset"] = subset
            paths = paths[:subset]
        work = lambda: tool.read_corpus(paths)
    else:
        source = os.path.join(args.inputs, workload.file)
        read_for_write = tool.extra.get("read_for_write", tool.read)
        loaded = read_for_write(source, "long")
        out_dir = tempfile.mkdtemp(prefix="plinth-bench-")
        out = os.path.join(out_dir, f"out-{workload.layout}.TextGrid")
        work = lambda: tool.write(loaded, out, workload.layout)
        work()
        record["bytes"] = os.path.getsize(out)
        record["output"] = out

    def count(result) -> None:
        if workload.kind != "write":
            record["items"] = round(tool.count(result) * scale)

    times = measure(work, args.budget, args.max_reps, count)
    record["times"] = [t * scale for t in times]
    return record


def cell_main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--workload", required=True)
    parser.add_argument("--inputs", required=True)
    parser.add_argument("--budget", type=float, required=True)
    parser.add_argument("--max-reps", type=int, required=True)
    args = parser.parse_args(argv)
    try:
        record = run_cell(args)
    except Exception as error:  # a tool that fails on an input is a result too
        record = {
            "tool": args.tool,
            "workload": args.workload,
            "error": f"{type(error).__name__}: {error}"[:300],
        }
    print("RESULT " + json.dumps(record), flush=True)
    return 0


def can_do(tool, workload: Workload) -> bool:
    if workload.kind == "read":
        return tool.read is not None and workload.layout in tool.read_layouts
    if workload.kind == "corpus":
        return tool.read_corpus is not None
    return (
        tool.write is not None and tool.read is not None and workload.layout in tool.write_layouts
    )


def spawn_cell(tool, workload: Workload, inputs: str, quick: bool) -> dict:
    budget = QUICK["budget"] if quick else workload.budget
    max_reps = QUICK["max_reps"] if quick else workload.max_reps
    timeout = QUICK["timeout"] if quick else workload.timeout
    if workload.kind == "read":
        timeout = tool.extra.get("read_timeout", timeout)
    command = [
        sys.executable,
        os.path.abspath(__file__),
        "cell",
        "--tool",
        tool.name,
        "--workload",
        workload.id,
        "--inputs",
        inputs,
        "--budget",
        str(budget),
        "--max-reps",
        str(max_reps),
    ]
    start = time.perf_counter()
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return {"tool": tool.name, "workload": workload.id, "timeout": timeout}
    for line in done.stdout.splitlines():
        if line.startswith("RESULT "):
            record = json.loads(line[len("RESULT ") :])
            record["wall"] = time.perf_counter() - start
            return record
    return {
        "tool": tool.name,
        "workload": workload.id,
        "error": f"exit {done.returncode}: {done.stderr.strip()[-300:]}",
    }


def praat_item_count(path: str):
    """What Praat makes of a written file: its item count, or why it refuses it."""
    try:
        import parselmouth
        from parselmouth.praat import call
    except ImportError:
        return None
    try:
        grid = parselmouth.read(path)
    except Exception as error:
        return str(error).splitlines()[0][:120]
    total = 0
    for tier in range(1, call(grid, "Get number of tiers") + 1):
        kind = "intervals" if call(grid, "Is interval tier", tier) else "points"
        total += call(grid, f"Get number of {kind}", tier)
    return total


def run_limit(limit_bin: str, workload: Workload, inputs: str, outputs: dict) -> dict | None:
    if not limit_bin or not os.path.exists(limit_bin):
        return None
    if workload.kind == "read":
        command = [limit_bin, "read", os.path.join(inputs, workload.file)]
    elif workload.kind == "corpus":
        command = [limit_bin, "--reps", "5", "read", "@" + os.path.join(inputs, "corpus.txt")]
    else:
        # The bytes plinth wrote for this layout, written again from memory.
        source = outputs.get(workload.id)
        if not source:
            return None
        command = [limit_bin, "write", source, source + ".limit"]
    done = subprocess.run(command, capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def machine_info() -> dict:
    cpu = "?"
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = "?"
    try:
        with open("/proc/meminfo", encoding="utf-8") as f:
            memory = f"{int(f.readline().split()[1]) / 2**20:.0f} GiB"
    except (OSError, ValueError, IndexError):
        pass
    return {
        "cpu": cpu,
        "cpus": len(os.sched_getaffinity(0)),
        "memory": memory,
        "kernel": platform.release(),
        "python": platform.python_version(),
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
    }


def git_commit() -> str:
    try:
        return subprocess.run(
            ["git", "-C", HERE, "rev-parse", "--short", "HEAD"],
            capture_output=True,
            text=True,
            check=True,
        ).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "?"


def run_main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--inputs", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--limit-bin", default="")
    parser.add_argument("--quick", action="store_true", help="few repetitions, for a smoke run")
    parser.add_argument("--only", default="", help="comma-separated workload ids")
    args = parser.parse_args(argv)
    known = [w.id for w in WORKLOADS]
    unknown = [i for i in args.only.split(",") if i and i not in known] if args.only else []
    if unknown:  # an empty run would overwrite the last results with nothing
        parser.error(f"unknown workload {', '.join(unknown)}; the workloads are {', '.join(known)}")

    from peers import load_tools
    import report

    tools, missing = load_tools()
    with open(os.path.join(args.inputs, "info.json"), encoding="utf-8") as f:
        info = json.load(f)
    for path in [os.path.join(args.inputs, w.file) for w in WORKLOADS if w.file]:
        with open(path, "rb") as f:  # into the page cache before anything is timed
            f.read()
    workloads = [w for w in WORKLOADS if not args.only or w.id in args.only.split(",")]
    started = time.perf_counter()
    load_at_start = os.getloadavg()[0]
    records, limits, outputs = [], {}, {}
    for workload in workloads:
        for tool in tools:
            if not can_do(tool, workload):
                continue
            if workload.kind == "write" and any(
                r["tool"] == tool.name and r["workload"] == "a" and "timeout" in r for r in records
            ):
                records.append(
                    {
                        "tool": tool.name,
                        "workload": workload.id,
                        "error": "not run: its reader did not finish (a)",
                    }
                )
                continue
            record = spawn_cell(tool, workload, args.inputs, args.quick)
            if "output" in record:
                record["praat_items"] = praat_item_count(record["output"])
            records.append(record)
            if "output" in record:
                outputs.setdefault(workload.id, record["output"])
            print(
                f"bench: {workload.id:8} {tool.name:40} {report.cell_summary(record)}", flush=True
            )
        limit = run_limit(args.limit_bin, workload, args.inputs, outputs)
        if limit:
            limits[workload.id] = limit
            print(
                f"bench: {workload.id:8} {'limit':40} {limit['median_s'] * 1e3:.3f} ms", flush=True
            )
    machine = machine_info()
    # Other processes on the machine slow every cell alike; the record says how busy it was.
    machine["load"] = [round(load_at_start, 2), round(os.getloadavg()[0], 2)]
    run = {
        "machine": machine,
        "commit": git_commit(),
        "inputs": info,
        "versions": {tool.name: tool.version() for tool in tools},
        "missing": missing,
        "quick": args.quick,
        "seconds": time.perf_counter() - started,
        "workloads": [w.__dict__ for w in workloads],
        "pure_python": {tool.name: tool.pure_python for tool in tools},
        "notes": {tool.name: tool.note for tool in tools if tool.note},
        "records": records,
        "limits": limits,
    }
    os.makedirs(os.path.join(args.results, "raw"), exist_ok=True)
    stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%dT%H%M%SZ")
    with open(os.path.join(args.results, "raw", f"run-{stamp}.json"), "w", encoding="utf-8") as f:
        json.dump(run, f, indent=1)
    for output in outputs.values():
        shutil.rmtree(os.path.dirname(output), ignore_errors=True)
    for record in records:
        if "output" in record:
            shutil.rmtree(os.path.dirname(record["output"]), ignore_errors=True)
    report.write_report(run, args.results)
    print(f"bench: done in {run['seconds']:.0f} s; see {os.path.join(args.results, 'results.md')}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "cell":
        sys.exit(cell_main(sys.argv[2:]))
    if len(sys.argv) > 1 and sys.argv[1] == "run":
        sys.exit(run_main(sys.argv[2:]))
    print(__doc__)
    sys.exit(2)
