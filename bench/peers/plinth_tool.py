"""plinth, both read forms: nested data and column vectors."""

import plinth

from peers import Tool

STRICT = True
FILE_TYPE = "auto"


def _count_data(result):
    if isinstance(result, list):
        return sum(_count_data(one) for one in result)
    return sum(len(items) for _, _, items in result[2])


def _count_vectors(result):
    return len(result[2])


def _write_data(result, path, layout):
    tmin, tmax, tiers = result
    plinth.data2textgrid(tiers, tmin, tmax, path, layout)


def _read_vectors_for_write(path, layout):
    # The writer needs the global bounds too; the columns do not carry them.
    tmin, tmax, _ = plinth.textgrid2data(path, STRICT, FILE_TYPE)
    return plinth.textgrid2vectors(path, STRICT, FILE_TYPE) + (tmin, tmax)


def _write_vectors(result, path, layout):
    tmins, tmaxs, labels, names, flags, tmin, tmax = result
    plinth.vectors2textgrid(tmins, tmaxs, labels, names, flags, tmin, tmax, path, layout)


def _corpus_loop(paths):
    return [plinth.textgrid2data(p, STRICT, FILE_TYPE) for p in paths]


TOOLS = [
    Tool(
        name="plinth textgrid2data",
        dist="plinth-textgrid",
        pure_python=False,
        read=lambda path, layout: plinth.textgrid2data(path, STRICT, FILE_TYPE),
        read_corpus=lambda paths: plinth.textgrids2data(paths, STRICT, FILE_TYPE),
        write=_write_data,
        count=_count_data,
        note="corpus through textgrids2data; write through data2textgrid",
    ),
    Tool(
        name="plinth textgrid2vectors",
        dist="plinth-textgrid",
        pure_python=False,
        read=lambda path, layout: plinth.textgrid2vectors(path, STRICT, FILE_TYPE),
        read_corpus=lambda paths: plinth.textgrids2vectors(paths, STRICT, FILE_TYPE),
        write=_write_vectors,
        count=_count_vectors,
        extra={"read_for_write": _read_vectors_for_write},
        note="corpus through textgrids2vectors; write through vectors2textgrid",
    ),
    Tool(
        name="plinth textgrid2data, one call per file",
        dist="plinth-textgrid",
        pure_python=False,
        read_corpus=_corpus_loop,
        count=_count_data,
        note="the corpus read file by file, for the batch speed-up",
    ),
]
