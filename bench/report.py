"""Turns one bench run (the record bench.py keeps under results/raw/) into
results.md, a table of medians and ratios, and results.png, a bar chart.

    report.py RAW.json RESULTS_DIR    (re-renders a kept run)
"""

from __future__ import annotations

import json
import os
import statistics
import sys

LIMIT_NAME = "limit: page cache, count line breaks"
LIMIT_WRITE_NAME = "limit: write the bytes from memory"


def median(record: dict) -> float | None:
    times = record.get("times")
    return statistics.median(times) if times else None


def fmt_seconds(value: float | None) -> str:
    if value is None:
        return "—"
    if value >= 1:
        return f"{value:.2f} s"
    if value >= 1e-3:
        return f"{value * 1e3:.1f} ms"
    return f"{value * 1e6:.0f} µs"


def fmt_ratio(value: float | None) -> str:
    if value is None:
        return "—"
    if value >= 100:
        return f"{value:.0f}×"
    if value >= 10:
        return f"{value:.1f}×"
    return f"{value:.2f}×"


def cell_summary(record: dict) -> str:
    if "timeout" in record:
        return f"stopped after {record['timeout']:.0f} s"
    if "error" in record:
        return "failed: " + record["error"]
    value = median(record)
    extra = f", items {record['items']}" if "items" in record else ""
    return f"{fmt_seconds(value)} (median of {len(record['times'])}{extra})"


def cell_text(record: dict) -> str:
    if "timeout" in record:
        return f"> {record['timeout']:.0f} s (stopped)"
    if "error" in record:
        return "not run" if record["error"].startswith("not run") else "fails"
    text = fmt_seconds(median(record))
    if "subset" in record:
        text += " †"
    return text


def workload_rows(run: dict, workload: dict) -> list[dict]:
    return [r for r in run["records"] if r["workload"] == workload["id"]]


def best(rows: list[dict], keep) -> tuple[str, float] | tuple[None, None]:
    timed = [(median(r), r["tool"]) for r in rows if keep(r["tool"]) and median(r) is not None]
    if not timed:
        return None, None
    value, name = min(timed)
    return name, value


def is_plinth(name: str) -> bool:
    return name.startswith("plinth")


def summary_table(run: dict) -> list[str]:
    pure = run["pure_python"]
    lines = [
        "| workload | plinth, best form | fastest pure-Python peer | plinth's speed-up over it "
        "| Praat (parselmouth, Praat object) | limit | plinth / limit |",
        "|---|---|---|---|---|---|---|",
    ]
    for workload in run["workloads"]:
        rows = workload_rows(run, workload)
        p_name, p_time = best(rows, is_plinth)
        q_name, q_time = best(rows, lambda n: pure.get(n, False))
        praat = next((r for r in rows if r["tool"] == "parselmouth (Praat object)"), None)
        limit = run["limits"].get(workload["id"])
        l_time = limit["median_s"] if limit else None
        speedup = q_time / p_time if p_time and q_time else None
        distance = p_time / l_time if p_time and l_time else None
        p_label = f"{fmt_seconds(p_time)} ({p_name.removeprefix('plinth ')})" if p_name else "—"
        q_label = f"{fmt_seconds(q_time)} ({q_name})" if q_name else "—"
        lines.append(
            f"| {workload['title']} | {p_label} | {q_label} | {fmt_ratio(speedup)} "
            f"| {cell_text(praat) if praat else '—'} | {fmt_seconds(l_time)} "
            f"| {fmt_ratio(distance)} |"
        )
    return lines


def detail_table(run: dict, workload: dict) -> list[str]:
    pure = run["pure_python"]
    rows = workload_rows(run, workload)
    _, p_time = best(rows, is_plinth)
    _, q_time = best(rows, lambda n: pure.get(n, False))
    items_expected = run["inputs"].get(workload["items_key"])
    lines = [
        f"### {workload['title']}",
        "",
        "| tool | median | reps | items read | time / plinth | fastest pure-Python peer / time |",
        "|---|---|---|---|---|---|",
    ]
    for record in sorted(rows, key=lambda r: (median(r) is None, median(r) or 0)):
        value = median(record)
        items = record.get("items", "")
        if workload["kind"] != "write" and items != "" and items != items_expected:
            items = f"{items} (of {items_expected})"
        elif workload["kind"] == "write" and "bytes" in record:
            items = f"{record['bytes'] / 1e6:.1f} MB written"
            praat = record.get("praat_items")
            if isinstance(praat, int):
                items += f", Praat reads {praat} items back"
            elif praat:
                items += f", Praat refuses it: {praat}"
        reps = len(record.get("times", [])) or ""
        lines.append(
            f"| {record['tool']} | {cell_text(record)} | {reps} | {items} "
            f"| {fmt_ratio(value / p_time) if value and p_time else '—'} "
            f"| {fmt_ratio(q_time / value) if value and q_time else '—'} |"
        )
    limit = run["limits"].get(workload["id"])
    if limit:
        name = LIMIT_WRITE_NAME if limit["mode"] == "write" else LIMIT_NAME
        value = limit["median_s"]
        lines.append(
            f"| *{name}* | {fmt_seconds(value)} | {limit['reps']} "
            f"| {limit['bytes'] / 1e6:.1f} MB | "
            f"{fmt_ratio(value / p_time) if p_time else '—'} "
            f"| {fmt_ratio(q_time / value) if q_time else '—'} |"
        )
    failures = [r for r in rows if "error" in r]
    for record in failures:
        verb = "" if record["error"].startswith("not run") else "fails: "
        lines += ["", f"{record['tool']}: {verb}`{record['error']}`"]
    return lines + [""]


def subset_note(run: dict) -> str:
    subsets = sorted({r["subset"] for r in run["records"] if "subset" in r})
    if not subsets:
        return ""
    files = run["inputs"]["files"]
    return (
        f"† measured on the first {', '.join(map(str, subsets))} files of the corpus and "
        f"scaled to {files:,} (the tool reads file by file, at a steady cost per file). "
    )


def write_markdown(run: dict, path: str) -> None:
    machine = run["machine"]
    inputs = run["inputs"]
    lines = [
        "# Benchmark results",
        "",
        f"Run on {machine['date']} by `make bench` (bench/run.sh), plinth at commit "
        f"`{run['commit']}`{' (quick run: few repetitions)' if run['quick'] else ''}; "
        f"the whole run took {run['seconds'] / 60:.1f} minutes.",
        "",
        f"Machine: {machine['cpu']}, {machine['cpus']} CPUs available, {machine['memory']} "
        f"memory, Linux {machine['kernel']}, CPython {machine['python']}"
        + (
            f"; load average {machine['load'][0]} at the start and {machine['load'][1]} "
            "at the end of the run (other processes share the machine)"
            if "load" in machine
            else ""
        )
        + ".",
        "",
        "Versions: "
        + ", ".join(
            f"{name} {version}"
            for name, version in sorted(
                set((n.split(" ")[0], v) for n, v in run["versions"].items())
            )
        )
        + ".",
        "",
    ]
    if run["missing"]:
        lines += [
            "Not measured (did not import): "
            + "; ".join(f"{name} ({why})" for name, why in run["missing"].items())
            + ".",
            "",
        ]
    lines += [
        f"Inputs: generated by bench/generate.py with seed {inputs['seed']} (scale "
        f"{inputs['scale']}), in Praat's own layouts (byte-identical to what Praat writes "
        "for the same TextGrid with UTF-8 output), times at full double precision, one "
        "label in five empty, some labels non-ASCII. Every file is in the page cache "
        "before it is timed.",
        "",
        "Each cell runs in its own process; its figure is the median of its repetitions "
        '("reps"; slow tools get fewer). plinth reads with strict=True and file_type '
        '"auto". Peers read through their natural path into their own objects, empty '
        "intervals included; writes start from the tool's own object of (a). "
        '"time / plinth" divides by the fastest plinth form of the workload; "fastest '
        'pure-Python peer / time" is the speed-up over the fastest of praatio, tgt, '
        "textgrid and mytextgrid. " + subset_note(run) + "The limit rows are bench/"
        "limit_baseline.cpp: reading the same bytes from the page cache and counting every "
        "line break, or writing the bytes plinth wrote from memory to the file.",
        "",
        "## Summary",
        "",
    ]
    lines += summary_table(run) + ["", "## Per workload", ""]
    for workload in run["workloads"]:
        lines += detail_table(run, workload)
    if run["notes"]:
        lines += ["## Notes on the tools", ""]
        lines += [f"- {name}: {note}." for name, note in run["notes"].items()]
        lines.append("")
    lines += ["![bar chart of the medians](results.png)", ""]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


def write_chart(run: dict, path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    workloads = run["workloads"]
    fig, axes = plt.subplots(len(workloads), 1, figsize=(9, 2.2 + 1.0 * len(workloads) * 2.2))
    if len(workloads) == 1:
        axes = [axes]
    for axis, workload in zip(axes, workloads):
        rows = [(median(r), r["tool"]) for r in workload_rows(run, workload) if median(r)]
        limit = run["limits"].get(workload["id"])
        if limit:
            rows.append((limit["median_s"], "limit"))
        rows.sort(reverse=True)
        colours = [
            "#999999"
            if n == "limit"
            else "#d62728"
            if is_plinth(n)
            else "#1f77b4"
            if run["pure_python"].get(n)
            else "#2ca02c"
            for _, n in rows
        ]
        axis.barh([n for _, n in rows], [v for v, _ in rows], color=colours)
        axis.set_xscale("log")
        if rows:
            axis.set_xlim(right=max(v for v, _ in rows) * 5)  # room for the value labels
        axis.set_title(workload["title"], fontsize=9, loc="left")
        axis.tick_params(axis="y", labelsize=7)
        axis.tick_params(axis="x", labelsize=7)
        for y, (value, _) in enumerate(rows):
            axis.text(value, y, " " + fmt_seconds(value), va="center", fontsize=6)
    axes[-1].set_xlabel("median seconds (log scale); red: plinth, blue: pure Python, green: Praat")
    fig.suptitle(
        f"plinth benchmarks, {run['machine']['date']}, {run['machine']['cpus']} CPUs", fontsize=10
    )
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def write_report(run: dict, results_dir: str) -> None:
    os.makedirs(results_dir, exist_ok=True)
    write_markdown(run, os.path.join(results_dir, "results.md"))
    write_chart(run, os.path.join(results_dir, "results.png"))


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        write_report(json.load(f), sys.argv[2])
