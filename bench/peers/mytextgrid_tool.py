"""mytextgrid: read_textgrid (long layout only) to a TextGrid object, TextGrid.write."""

import mytextgrid

from peers import Tool


def _read(path, layout):
    return mytextgrid.read_textgrid(path, encoding="utf-8")


def _count(result):
    if isinstance(result, list):
        return sum(_count(one) for one in result)
    return sum(len(tier) for tier in result.tiers)


def _write(result, path, layout):
    result.write(path, format_=layout)


TOOLS = [
    Tool(
        name="mytextgrid",
        dist="mytextgrid",
        pure_python=True,
        read=_read,
        read_corpus=lambda paths: [_read(p, "long") for p in paths],
        write=_write,
        count=_count,
        read_layouts=("long",),
        # Each boundary is inserted by a linear search: quadratic in the
        # tier length. The corpus is timed on a slice and scaled up.
        extra={"corpus_subset": 50, "read_timeout": 45.0},
        note="reads the long layout only; builds tiers in quadratic time, with "
        "times as 16-digit decimals",
    )
]
