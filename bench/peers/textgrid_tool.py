"""textgrid (python-textgrid): TextGrid.read to a TextGrid object, TextGrid.write (long only)."""

import textgrid

from peers import Tool

# Its default rounds every time to 5 decimals; ask for the times as written.
ROUND_DIGITS = 17


def _read(path, layout):
    grid = textgrid.TextGrid()
    grid.read(path, round_digits=ROUND_DIGITS, encoding="utf-8")
    return grid


def _count(result):
    if isinstance(result, list):
        return sum(_count(one) for one in result)
    return sum(len(tier) for tier in result.tiers)


def _write(result, path, layout):
    with open(path, "w", encoding="utf-8") as f:
        result.write(f)


TOOLS = [
    Tool(
        name="textgrid",
        dist="TextGrid",
        pure_python=True,
        read=_read,
        read_corpus=lambda paths: [_read(p, "long") for p in paths],
        write=_write,
        count=_count,
        write_layouts=("long",),
        note="reads both layouts, writes the long layout only; rounds times to 5 "
        "decimals on reading unless asked (here: 17 digits) and to 16 significant "
        "digits on writing",
    )
]
