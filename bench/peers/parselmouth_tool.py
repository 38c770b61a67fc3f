"""praat-parselmouth (Praat itself): parselmouth.read to a Praat TextGrid;
to_tgt() for Python values; Praat's own "Save as (short) text file"."""

import parselmouth
from parselmouth.praat import call

from peers import Tool

# Praat writes non-ASCII texts as UTF-16 by default; the inputs are UTF-8.
call("Text writing preferences", "UTF-8")


def _count_praat(result):
    if isinstance(result, list):
        return sum(_count_praat(one) for one in result)
    total = 0
    for tier in range(1, call(result, "Get number of tiers") + 1):
        if call(result, "Is interval tier", tier):
            total += call(result, "Get number of intervals", tier)
        else:
            total += call(result, "Get number of points", tier)
    return total


def _count_tgt(result):
    if isinstance(result, list):
        return sum(_count_tgt(one) for one in result)
    return sum(len(tier) for tier in result.tiers)


def _write(result, path, layout):
    if layout == "long":
        result.save_as_text_file(path)
    else:
        result.save_as_short_text_file(path)


TOOLS = [
    Tool(
        name="parselmouth (Praat object)",
        dist="praat-parselmouth",
        pure_python=False,
        read=lambda path, layout: parselmouth.read(path),
        read_corpus=lambda paths: [parselmouth.read(p) for p in paths],
        write=_write,
        count=_count_praat,
        note="a Praat object, not Python values",
    ),
    Tool(
        name="parselmouth + to_tgt (Python values)",
        dist="praat-parselmouth",
        pure_python=False,
        read=lambda path, layout: parselmouth.read(path).to_tgt(),
        read_corpus=lambda paths: [parselmouth.read(p).to_tgt() for p in paths],
        count=_count_tgt,
        note="to_tgt leaves out empty intervals",
    ),
]
