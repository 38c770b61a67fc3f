"""Convert the checkout's sample files to one layout, fully typed.

    python examples/typed_usage.py [long|short] [OUTPUT_FOLDER]

The samples are found beside this folder (tests/data), so the example runs from
any working directory; the output goes to a temporary folder unless one is
given. `mypy --strict examples/typed_usage.py` checks it against plinth's stubs:
the layout words are literal types, so a typo such as "lnog" fails the check.
"""

from __future__ import annotations

import pathlib
import sys
import tempfile
from typing import Literal

import plinth

SAMPLES = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"

Layout = Literal["long", "short"]


def parse_layout(word: str) -> Layout:
    # Narrowing a free-form str to the literal type is what lets the call below
    # type-check; an unknown word stops here instead of writing the short layout.
    if word == "long":
        return "long"
    if word == "short":
        return "short"
    raise SystemExit(f"unknown layout {word!r}: use 'long' or 'short'")


def convert(sources: list[pathlib.Path], target: pathlib.Path, layout: Layout) -> int:
    """Writes every readable source into target in the given layout; returns the count."""
    written = 0
    batch = plinth.textgrids2data([str(path) for path in sources], True, "auto")
    for path, (tmin, tmax, tiers) in zip(sources, batch):
        if not tiers:  # unreadable, invalid, or without tiers
            continue
        plinth.data2textgrid(tiers, tmin, tmax, str(target / path.name), layout)
        written += 1
    return written


def total_interval_time(path: pathlib.Path) -> float:
    tmins, tmaxs, _labels, _tiers, is_intervals = plinth.textgrid2vectors(str(path), False, "auto")
    return float((tmaxs - tmins)[is_intervals].sum())


def main(argv: list[str]) -> int:
    layout = parse_layout(argv[1] if len(argv) > 1 else "short")
    sources = sorted(SAMPLES.glob("*.TextGrid"))
    if not sources:
        print(f"no sample files under {SAMPLES}", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as scratch:
        target = pathlib.Path(argv[2]) if len(argv) > 2 else pathlib.Path(scratch)
        target.mkdir(parents=True, exist_ok=True)
        written = convert(sources, target, layout)
        seconds = sum(
            total_interval_time(target / path.name)
            for path in sources
            if (target / path.name).exists()
        )
    print(
        f"plinth {plinth.__version__}: wrote {written} of {len(sources)} files in the "
        f"{layout} layout; {seconds:.3f} s of intervals"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
