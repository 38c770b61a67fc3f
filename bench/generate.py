"""Seeded generator of the benchmark inputs.

Writes TextGrid files in Praat's own text layouts (LF line ends, UTF-8, the
shortest round-tripping decimal for every time, as Praat on Linux writes
them), so every peer reads the same bytes:

    long.TextGrid     100,000 intervals over 3 interval tiers, long layout
    short.TextGrid    the same TextGrid in the short layout
    points.TextGrid   a point-tier-heavy TextGrid (2 point tiers of 49,500
                      points and one interval tier of 1,000 intervals)
    corpus/NNNN.TextGrid   2,000 files of 2,000 intervals over 3 tiers, long
    corpus.txt        the corpus paths, one per line
    info.json         the item counts, for checking what each tool read

Usage: generate.py OUTDIR [--seed N] [--scale F]
--scale shrinks every count (0.01 gives a quick smoke-test set). A stamp file
keeps an OUTDIR generated with the same arguments from being written again.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import sys

WORDS = [
    "the",
    "a",
    "speech",
    "sound",
    "praat",
    "annotation",
    "tier",
    "interval",
    "vowel",
    "consonant",
    "stress",
    "pitch",
    "accent",
    "boundary",
    "silence",
    "utterance",
    "phrase",
    "syllable",
    "onset",
    "coda",
]
# Labels as annotators write them: ASCII, SAMPA, IPA (non-ASCII in UTF-8).
PHONES = [
    "a",
    "e",
    "i",
    "o",
    "u",
    "@",
    "E",
    "I",
    "O",
    "U",
    "p",
    "t",
    "k",
    "b",
    "d",
    "g",
    "s",
    "z",
    "S",
    "Z",
    "m",
    "n",
    "N",
    "l",
    "r",
    "j",
    "w",
    "h",
    "ʃ",
    "ə",
    "ɪ",
    "ŋ",
    "θ",
    "ð",
    "æ",
    "ɔː",
]
TONES = ["H*", "L*", "L+H*", "H-", "L-", "L%", "H%", "!H*", "%H"]


def fmt_time(value: float) -> str:
    """Praat's number form: the shortest round-tripping decimal, whole numbers bare."""
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def quote(text: str) -> str:
    return '"' + text.replace('"', '""') + '"'


def boundaries(rng: random.Random, count: int, tmax: float) -> list[float]:
    """count sorted times inside [0.001, tmax - 0.0001), at full double precision.

    Each time lies in its own slot of 0.0001 s, at most half-way into it, so
    neighbours are at least 0.00005 apart: no interval is too short for a
    strict reader (which needs more than 0.000001 s). Praat writes times under
    0.0001 in exponent form (5e-05), which praatio cannot read; keeping above
    0.001 lets every peer read every input.
    """
    slot = 1e-4
    slots = rng.sample(range(10, int(tmax / slot) - 1), count)
    return sorted((k + rng.uniform(0.0, 0.5)) * slot for k in slots)


def interval_tier(rng: random.Random, name: str, count: int, tmax: float, vocab: list[str]):
    inner = boundaries(rng, count - 1, tmax)
    times = [0.0] + inner + [tmax]
    items = []
    for i in range(count):
        # About one interval in five is left empty, as pauses are in real data.
        label = "" if rng.random() < 0.2 else rng.choice(vocab)
        items.append((times[i], times[i + 1], label))
    return (name, True, items)


def point_tier(rng: random.Random, name: str, count: int, tmax: float, vocab: list[str]):
    return (name, False, [(t, t, rng.choice(vocab)) for t in boundaries(rng, count, tmax)])


def long_layout(tmin: float, tmax: float, tiers) -> str:
    out = [
        'File type = "ooTextFile"',
        'Object class = "TextGrid"',
        "",
        f"xmin = {fmt_time(tmin)} ",
        f"xmax = {fmt_time(tmax)} ",
        "tiers? <exists> ",
        f"size = {len(tiers)} ",
        "item []: ",
    ]
    for number, (name, is_interval, items) in enumerate(tiers, 1):
        out.append(f"    item [{number}]:")
        out.append(
            '        class = "IntervalTier" ' if is_interval else '        class = "TextTier" '
        )
        out.append(f"        name = {quote(name)} ")
        out.append(f"        xmin = {fmt_time(tmin)} ")
        out.append(f"        xmax = {fmt_time(tmax)} ")
        if is_interval:
            out.append(f"        intervals: size = {len(items)} ")
            for i, (start, end, label) in enumerate(items, 1):
                out.append(f"        intervals [{i}]:")
                out.append(f"            xmin = {fmt_time(start)} ")
                out.append(f"            xmax = {fmt_time(end)} ")
                out.append(f"            text = {quote(label)} ")
        else:
            out.append(f"        points: size = {len(items)} ")
            for i, (time, _, label) in enumerate(items, 1):
                out.append(f"        points [{i}]:")
                out.append(f"            number = {fmt_time(time)} ")
                out.append(f"            mark = {quote(label)} ")
    return "\n".join(out) + "\n"


def short_layout(tmin: float, tmax: float, tiers) -> str:
    out = [
        'File type = "ooTextFile"',
        'Object class = "TextGrid"',
        "",
        fmt_time(tmin),
        fmt_time(tmax),
        "<exists>",
        str(len(tiers)),
    ]
    for name, is_interval, items in tiers:
        out.append('"IntervalTier"' if is_interval else '"TextTier"')
        out += [quote(name), fmt_time(tmin), fmt_time(tmax), str(len(items))]
        for start, end, label in items:
            if is_interval:
                out += [fmt_time(start), fmt_time(end), quote(label)]
            else:
                out += [fmt_time(start), quote(label)]
    return "\n".join(out) + "\n"


def split(total: int, parts: int) -> list[int]:
    return [total // parts + (1 if i < total % parts else 0) for i in range(parts)]


def three_tiers(rng: random.Random, intervals: int):
    """A words/syllables/phones TextGrid of about 0.05 s per interval."""
    counts = split(intervals, 3)
    tmax = round(max(counts) * 0.05, 3)
    names = [("words", WORDS), ("syllables", WORDS), ("phones", PHONES)]
    tiers = [interval_tier(rng, name, n, tmax, vocab) for (name, vocab), n in zip(names, counts)]
    return 0.0, tmax, tiers


def write(path: str, text: str) -> None:
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def generate(outdir: str, seed: int, scale: float) -> dict:
    def scaled(n: int) -> int:
        return max(3, int(round(n * scale)))

    rng = random.Random(seed)
    os.makedirs(os.path.join(outdir, "corpus"), exist_ok=True)
    tmin, tmax, tiers = three_tiers(rng, scaled(100_000))
    write(os.path.join(outdir, "long.TextGrid"), long_layout(tmin, tmax, tiers))
    write(os.path.join(outdir, "short.TextGrid"), short_layout(tmin, tmax, tiers))

    points = scaled(49_500)
    ptmax = round(points * 0.02, 3)
    ptiers = [
        interval_tier(rng, "phrases", scaled(1_000), ptmax, WORDS),
        point_tier(rng, "tones", points, ptmax, TONES),
        point_tier(rng, "events", points, ptmax, PHONES),
    ]
    write(os.path.join(outdir, "points.TextGrid"), long_layout(0.0, ptmax, ptiers))

    files = scaled(2_000)
    paths = []
    for k in range(files):
        ctmin, ctmax, ctiers = three_tiers(rng, scaled(2_000))
        path = os.path.join(outdir, "corpus", f"{k:04d}.TextGrid")
        write(path, long_layout(ctmin, ctmax, ctiers))
        paths.append(os.path.abspath(path))
    write(os.path.join(outdir, "corpus.txt"), "\n".join(paths) + "\n")
    return {
        "seed": seed,
        "scale": scale,
        "files": files,
        "items_long": sum(len(t[2]) for t in tiers),
        "items_points": sum(len(t[2]) for t in ptiers),
        "items_corpus": files * sum(split(scaled(2_000), 3)),
    }


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--scale", type=float, default=1.0)
    args = parser.parse_args(argv)
    stamp_path = os.path.join(args.outdir, "stamp.json")
    want = {"seed": args.seed, "scale": args.scale, "version": 3}
    try:
        with open(stamp_path, encoding="utf-8") as f:
            if json.load(f) == want:
                print(f"generate: {args.outdir} is up to date")
                return 0
    except (OSError, ValueError):
        pass
    info = generate(args.outdir, args.seed, args.scale)
    with open(os.path.join(args.outdir, "info.json"), "w", encoding="utf-8") as f:
        json.dump(info, f)
    with open(stamp_path, "w", encoding="utf-8") as f:
        json.dump(want, f)
    print(f"generate: wrote {args.outdir}: {info}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
