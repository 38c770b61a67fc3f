"""praatio: openTextgrid to a Textgrid object, Textgrid.save."""

from praatio import textgrid

from peers import Tool


def _read(path, layout):
    return textgrid.openTextgrid(path, includeEmptyIntervals=True)


def _count(result):
    if isinstance(result, list):
        return sum(_count(one) for one in result)
    return sum(len(tier.entries) for tier in result.tiers)


def _write(result, path, layout):
    result.save(path, format=f"{layout}_textgrid", includeBlankSpaces=True)


TOOLS = [
    Tool(
        name="praatio",
        dist="praatio",
        pure_python=True,
        read=_read,
        read_corpus=lambda paths: [_read(p, "long") for p in paths],
        write=_write,
        count=_count,
        note="cannot read a time in exponent form, as Praat writes times under 0.0001 "
        "(ParsingError), and strips blanks from labels",
    )
]
