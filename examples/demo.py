"""Summarise every TextGrid file of a folder through plinth.

    python examples/demo.py [FOLDER]

FOLDER defaults to the sample files of the checkout (tests/data beside this
folder), so the demo runs from any working directory.

For each file: its layout, whether it passes strict validation, its time range
and its tiers (kind, item count, first labels). Then the whole folder is read
again in one textgrids2vectors call, as a corpus pipeline would.
"""

from __future__ import annotations

import pathlib
import sys

import plinth

SAMPLES = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"


def layout_of(path: pathlib.Path) -> str:
    # The same marker the reader's "auto" mode looks for; Praat writes UTF-16
    # (with a byte-order mark) when a label is not ASCII.
    raw = path.read_bytes()
    text = (
        raw.decode("utf-16")
        if raw[:2] in (b"\xff\xfe", b"\xfe\xff")
        else raw.decode("utf-8", "replace")
    )
    return "long" if "item []" in text else "short"


def summarise(path: pathlib.Path) -> None:
    try:
        tmin, tmax, tiers = plinth.textgrid2data(str(path), True, "auto")
        verdict = "valid"
    except OSError as strict_error:
        try:
            tmin, tmax, tiers = plinth.textgrid2data(str(path), False, "auto")
        except OSError as error:
            print(f"{path.name}: unreadable ({error})")
            return
        verdict = (
            f"read leniently; strict reading says: {str(strict_error).split(' because: ')[-1]}"
        )
    print(f"{path.name}: {layout_of(path)} layout, {verdict}")
    print(f"  time range {tmin:g} .. {tmax:g} s, {len(tiers)} tier(s)")
    for name, is_interval, items in tiers:
        kind = "interval tier" if is_interval else "point tier"
        labels = [label for _, _, label in items if label.strip()][:4]
        shown = ", ".join(repr(label) for label in labels)
        print(
            f"  - {name!r}: {kind}, {len(items)} item(s)"
            + (f"; first labels {shown}" if shown else "")
        )


def main(argv: list[str]) -> int:
    folder = pathlib.Path(argv[1]) if len(argv) > 1 else SAMPLES
    paths = sorted(p for p in folder.rglob("*") if p.suffix.lower() == ".textgrid" and p.is_file())
    if not paths:
        print(f"No .TextGrid files under {folder}", file=sys.stderr)
        return 1
    for path in paths:
        summarise(path)

    tmins, tmaxs, labels, tier_names, is_intervals, file_ids = plinth.textgrids2vectors(
        [str(p) for p in paths], False, "auto"
    )
    durations = tmaxs - tmins
    print()
    print(
        f"Corpus: {len(paths)} file(s), {len(labels)} item(s), "
        f"{int(is_intervals.sum())} in interval tiers, "
        f"{len(set(file_ids.tolist()))} file(s) with items"
    )
    if is_intervals.any():
        print(f"  total labelled interval time {durations[is_intervals].sum():.3f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
