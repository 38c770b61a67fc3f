"""plinth.Table as a Python object: pickled with its buffers, and shown with
its counts, schema and first rows."""

from __future__ import annotations

import concurrent.futures
import multiprocessing
import pickle
import subprocess
import sys

import pytest

import plinth
from conftest import DATA_DIR, write_textgrid

pa = pytest.importorskip("pyarrow")

SAMPLES = sorted(str(p) for p in DATA_DIR.glob("*.TextGrid"))
# Markup in a tier name and a label, a label one past the cut and one at it, a
# line break, a tab and an empty label; the quotes doubled as in the file.
GRID = (
    0.0,
    3.0,
    [
        (
            "words <&>",
            True,
            [(0.0, 1.0, 'a <b> & ""c""'), (1.0, 2.5, "ʃ" * 25), (2.5, 3.0, "two\nlines")],
        ),
        ("tones", False, [(0.5, 0.5, "H*" + "-" * 22), (1.25, 1.25, "L\t%"), (2.0, 2.0, "")]),
    ],
)


def _corpus(tmp_path, count: int) -> list[str]:
    return [
        write_textgrid(tmp_path / f"{i}.TextGrid", GRID, ("long", "short")[i % 2])
        for i in range(count)
    ]


def _tables(tmp_path) -> list[plinth.Table]:
    return [
        plinth.textgrid2table(_corpus(tmp_path, 1)[0], True, "auto"),
        plinth.textgrid2table(SAMPLES[0], True, "auto"),  # no rows
        plinth.textgrids2table([*SAMPLES, str(tmp_path / "missing"), str(tmp_path)], True, "auto"),
        plinth.textgrids2table(_corpus(tmp_path, 120), True, "auto"),  # on the workers
    ]


def _expect_same(got, want: plinth.Table) -> None:
    assert type(got) is plinth.Table
    got_arrow, want_arrow = pa.table(got), pa.table(want)
    assert got_arrow.equals(want_arrow) and got_arrow.schema == want_arrow.schema
    assert [c.num_chunks for c in got_arrow.columns] == [c.num_chunks for c in want_arrow.columns]
    assert (got.failed, len(got), repr(got), str(got)) == (
        want.failed,
        len(want),
        repr(want),
        str(want),
    )


@pytest.mark.parametrize("protocol", [0, pickle.HIGHEST_PROTOCOL])
def test_pickle_round_trip(tmp_path, protocol):
    for table in _tables(tmp_path):
        _expect_same(pickle.loads(pickle.dumps(table, protocol)), table)
        # The files and tiers tables come with the table, and alone.
        back = pickle.loads(pickle.dumps(table, protocol))
        for part in ("files", "tiers"):
            _expect_same(getattr(back, part), getattr(table, part))
            _expect_same(
                pickle.loads(pickle.dumps(getattr(table, part), protocol)), getattr(table, part)
            )


def test_a_table_comes_back_from_worker_processes(tmp_path):
    paths = _corpus(tmp_path, 30) + [str(tmp_path / "missing")]
    spawn = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=spawn) as pool:
        tables = list(
            pool.map(plinth.textgrids2table, [paths, paths[:1]], [False] * 2, ["auto"] * 2)
        )
    _expect_same(tables[0], plinth.textgrids2table(paths, False, "auto"))
    _expect_same(tables[1], plinth.textgrids2table(paths[:1], False, "auto"))


def test_unpickling_needs_no_arrow_library(tmp_path):
    table = _tables(tmp_path)[2]
    (tmp_path / "table.pickle").write_bytes(pickle.dumps(table))
    script = (
        "import pickle, sys\n"
        "sys.modules.update(pyarrow=None, polars=None, nanoarrow=None)\n"
        f"table = pickle.loads(open({str(tmp_path / 'table.pickle')!r}, 'rb').read())\n"
        "print(str(table))\n"
        "sys.stdout.buffer.write(pickle.dumps(table))\n"
    )
    out = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True).stdout
    shown = str(table).encode() + b"\n"
    assert out.startswith(shown)
    _expect_same(pickle.loads(out[len(shown) :]), table)


def test_bytes_not_from_a_table_are_refused(tmp_path):
    table = plinth.textgrid2table(_corpus(tmp_path, 1)[0], True, "auto")
    make, (data, failed) = table.__reduce__()
    assert make == plinth.Table._from_pickle and failed == {}
    cases = [
        # What is wrong with the bytes is told as the decoder says it.
        ((data[:-1], {}), ValueError, "the bytes end inside batch 0"),
        ((data, []), TypeError, "failed must map file positions to messages"),
        ((data, {1: "past the one file"}), TypeError, "failed must map file positions to messages"),
        ((data, {-1: "x"}), TypeError, "failed must map file positions to messages"),
        ((data, {0: b"x"}), TypeError, "failed must map file positions to messages"),
    ]
    for args, kind, message in cases:
        with pytest.raises(kind) as info:
            plinth.Table._from_pickle(*args)
        assert str(info.value) == f"Table._from_pickle: {message}"
    with pytest.raises(TypeError, match="^a bytes-like object is required, not 'str'$"):
        plinth.Table._from_pickle("text", {})
    with pytest.raises(TypeError, match="^_from_pickle expected 2 arguments, got 1$"):
        plinth.Table._from_pickle(data)
    # Any buffer does, and the failed dict is copied.
    failed = {0: "kept"}
    again = plinth.Table._from_pickle(memoryview(data), failed)
    failed.clear()
    assert again.failed == {0: "kept"} and pa.table(again).equals(pa.table(table))


def test_str_html_and_pretty_show_counts_schema_and_first_rows(tmp_path, monkeypatch):
    _corpus(tmp_path, 1)
    monkeypatch.chdir(tmp_path)  # short paths, the same on every machine
    table = plinth.textgrids2table(["0.TextGrid", "missing"], True, "auto")
    assert str(table) == (
        "plinth.Table: 6 rows, 2 files, 1 failed, 1 batch\n"
        "schema:\n"
        "  file_id: uint32\n"
        "  path: dictionary<values=string, indices=int32>\n"
        "  tier_id: uint32\n"
        "  tier: dictionary<values=string, indices=int32>\n"
        "  is_interval: bool\n"
        "  tmin: double\n"
        "  tmax: double\n"
        "  label: string\n"
        "first 5 of 6 rows:\n"
        "  file_id  path        tier_id  tier       is_interval  tmin  tmax  label\n"
        '        0  0.TextGrid        0  words <&>  true            0     1  a <b> & "c"\n'
        "        0  0.TextGrid        0  words <&>  true            1   2.5  " + "ʃ" * 23 + "…\n"
        "        0  0.TextGrid        0  words <&>  true          2.5     3  two\\nlines\n"
        "        0  0.TextGrid        1  tones      false         0.5   0.5  H*" + "-" * 22 + "\n"
        "        0  0.TextGrid        1  tones      false        1.25  1.25  L\\t%"
    )
    cells = "</td><td>"
    assert table._repr_html_() == (
        "<div><p><b>plinth.Table</b>: 6 rows, 2 files, 1 failed, 1 batch</p>\n<table>\n<thead>\n"
        "<tr><th>file_id</th><th>path</th><th>tier_id</th><th>tier</th><th>is_interval</th>"
        "<th>tmin</th><th>tmax</th><th>label</th></tr>\n"
        "<tr><td><i>uint32</i></td><td><i>dictionary&lt;values=string, indices=int32&gt;</i></td>"
        "<td><i>uint32</i></td><td><i>dictionary&lt;values=string, indices=int32&gt;</i></td>"
        "<td><i>bool</i></td><td><i>double</i></td><td><i>double</i></td><td><i>string</i></td>"
        "</tr>\n</thead>\n<tbody>\n"
        f"<tr><td>0{cells}0.TextGrid{cells}0{cells}words &lt;&amp;&gt;{cells}true{cells}0{cells}1{cells}"
        "a &lt;b&gt; &amp; &quot;c&quot;</td></tr>\n"
        f"<tr><td>0{cells}0.TextGrid{cells}0{cells}words &lt;&amp;&gt;{cells}true{cells}1{cells}2.5{cells}"
        + "ʃ"
        * 23
        + "…</td></tr>\n"
        f"<tr><td>0{cells}0.TextGrid{cells}0{cells}words &lt;&amp;&gt;{cells}true{cells}2.5{cells}3{cells}"
        "two\\nlines</td></tr>\n"
        f"<tr><td>0{cells}0.TextGrid{cells}1{cells}tones{cells}false{cells}0.5{cells}0.5{cells}H*{'-' * 22}</td></tr>\n"
        f"<tr><td>0{cells}0.TextGrid{cells}1{cells}tones{cells}false{cells}1.25{cells}1.25{cells}L\\t%</td></tr>\n"
        "</tbody>\n</table>\n<p>first 5 of 6 rows</p>\n</div>"
    )

    class Printer:  # IPython's, as far as _repr_pretty_ uses it
        def __init__(self):
            self.texts = []

        def text(self, text):
            self.texts.append(text)

    printer = Printer()
    assert table._repr_pretty_(printer, False) is None and printer.texts == [str(table)]
    # A table of no rows shows no rows part; the one-line repr stays.
    empty = plinth.textgrid2table(SAMPLES[0], True, "auto")
    assert str(empty).splitlines()[0] == "plinth.Table: 0 rows, 1 file, 0 failed, 0 batches"
    assert str(empty).endswith("\n  label: string")
    assert "<tbody>\n</tbody>\n</table>\n</div>" in empty._repr_html_()
