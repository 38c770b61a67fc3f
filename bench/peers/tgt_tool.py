"""tgt: tgt.io.read_textgrid to a TextGrid object, tgt.io.write_to_file."""

import tgt

from peers import Tool


def _read(path, layout):
    return tgt.io.read_textgrid(path, encoding="utf-8", include_empty_intervals=True)


def _count(result):
    if isinstance(result, list):
        return sum(_count(one) for one in result)
    return sum(len(tier) for tier in result.tiers)


def _write(result, path, layout):
    tgt.io.write_to_file(result, path, format=layout, encoding="utf-8")


TOOLS = [
    Tool(
        name="tgt",
        dist="tgt",
        pure_python=True,
        read=_read,
        read_corpus=lambda paths: [_read(p, "long") for p in paths],
        write=_write,
        count=_count,
        note="drops every line that holds only a double quote before parsing, so a "
        "multi-line label can shift what follows",
    )
]
