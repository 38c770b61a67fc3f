"""Interoperability with Praat itself (praat-parselmouth embeds it).

Praat -> plinth: TextGrids are built with Praat's own commands and saved with
"Save as text file" / "Save as short text file" under each of Praat's output
encodings; plinth must read exactly the tiers, times and labels that Praat
reports for the object it saved ("Get label of interval", ...).

Praat's chronological and binary layouts, which only "auto" reads, and the
samples under tests/data (ELAN's headings among them) are read through all
four reading functions to what Praat reads.

plinth -> Praat: files that plinth writes in both layouts must be read by
Praat to exactly the same tiers, times and labels, documents without tiers
included; Praat runs in a child process there, so that a crash fails the test.

The known differences between the two (Praat's reader turning CR and other
line separators into LF, dropping NUL and a leading U+FEFF, filling empty
interval tiers, merging points at one time, refusing long number tokens;
plinth's strict check refusing what Praat allows) are pinned by the tests at the end, so a change on either side shows.
"""

from __future__ import annotations

import contextlib
import inspect
import json
import os
import subprocess
import sys
import tempfile
import textwrap

import pytest

parselmouth = pytest.importorskip(
    "parselmouth",
    reason="praat-parselmouth (Praat itself) cannot be imported here; "
    "the Praat interoperability tests need it (pip install praat-parselmouth)",
)
from parselmouth.praat import call  # noqa: E402

from hypothesis import HealthCheck, assume, given, settings, strategies as st  # noqa: E402

import plinth  # noqa: E402

PRAAT_DEFAULT_ENCODING = "try ASCII, then UTF-16"
# Praat's default writes a file with any non-ASCII text as UTF-16 with a BOM.
ENCODINGS = [PRAAT_DEFAULT_ENCODING, "UTF-8", "UTF-16"]
SAVE = {
    "long": "Save as text file",
    "short": "Save as short text file",
    "chronological": "Save as chronological text file",
    "binary": "Save as binary file",
}
# The layouts that only "auto" reads.
AUTO_ONLY = ["chronological", "binary"]
DATA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


@pytest.fixture
def praat_encoding(request):
    call("Text writing preferences", request.param)
    yield request.param
    call("Text writing preferences", PRAAT_DEFAULT_ENCODING)


def praat_without_tiers(tmin, tmax):
    """Praat refuses to remove a TextGrid's last tier, but reads a file without tiers."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "no-tiers.TextGrid")
        with open(path, "w") as f:
            f.write(
                f'File type = "ooTextFile"\nObject class = "TextGrid"\n\nxmin = {tmin!r}\n'
                f"xmax = {tmax!r}\ntiers? <exists>\nsize = 0\nitem []:\n"
            )
        return parselmouth.read(path)


def praat_build(tmin, tmax, tiers):
    """A TextGrid made by Praat's own commands; interval tiers must cover [tmin, tmax]."""
    if not tiers:
        return praat_without_tiers(tmin, tmax)
    names = " ".join(f"t{i}" for i in range(len(tiers)))
    points = " ".join(f"t{i}" for i, (_, is_interval, _) in enumerate(tiers) if not is_interval)
    grid = call("Create TextGrid", tmin, tmax, names, points)
    for number, (name, is_interval, items) in enumerate(tiers, 1):
        call(grid, "Set tier name", number, name)
        if is_interval:
            for start, _, _ in items[1:]:
                call(grid, "Insert boundary", number, start)
            for index, (_, _, label) in enumerate(items, 1):
                call(grid, "Set interval text", number, index, label)
        else:
            for time, _, label in items:
                call(grid, "Insert point", number, time, label)
    return grid


def praat_contents(grid):
    """What Praat reports for a TextGrid, in the form of plinth.textgrid2data."""
    tiers = []
    for tier in range(1, call(grid, "Get number of tiers") + 1):
        name = call(grid, "Get tier name", tier)
        if call(grid, "Is interval tier", tier):
            items = [
                (
                    call(grid, "Get start time of interval", tier, i),
                    call(grid, "Get end time of interval", tier, i),
                    call(grid, "Get label of interval", tier, i),
                )
                for i in range(1, call(grid, "Get number of intervals", tier) + 1)
            ]
            tiers.append((name, True, items))
        else:
            items = []
            for i in range(1, call(grid, "Get number of points", tier) + 1):
                time = call(grid, "Get time of point", tier, i)
                items.append((time, time, call(grid, "Get label of point", tier, i)))
            tiers.append((name, False, items))
    return (call(grid, "Get start time"), call(grid, "Get end time"), tiers)


class PraatChild:
    """Praat in a child process that opens the files it is given, one at a time, and
    answers with what it holds: a crash of Praat fails the test, not the run."""

    SCRIPT = textwrap.dedent("""
        import json, sys
        import parselmouth
        from parselmouth.praat import call
        {contents}
        for line in sys.stdin:
            try:
                answer = {{"ok": praat_contents(parselmouth.read(line[:-1]))}}
            except parselmouth.PraatError as error:
                answer = {{"error": str(error)}}
            print(json.dumps(answer), flush=True)
        """)

    def __init__(self):
        self.process = None

    def read(self, path):
        """What Praat holds after opening `path`; raises parselmouth.PraatError if
        Praat refuses the file, fails the test if Praat dies."""
        if self.process is None:
            script = self.SCRIPT.format(contents=inspect.getsource(praat_contents))
            self.process = subprocess.Popen(
                [sys.executable, "-c", script],
                stdin=subprocess.PIPE,
                stdout=subprocess.PIPE,
                text=True,
                encoding="utf-8",
            )
        self.process.stdin.write(path + "\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        if not line:
            status = self.process.wait()
            self.process = None
            pytest.fail(f"Praat died (exit status {status}) opening {path}")
        answer = json.loads(line)
        if "error" in answer:
            raise parselmouth.PraatError(answer["error"])
        tmin, tmax, tiers = answer["ok"]
        return (
            tmin,
            tmax,
            [(name, flag, [tuple(item) for item in items]) for name, flag, items in tiers],
        )

    def close(self):
        if self.process is not None:
            self.process.stdin.close()
            self.process.wait()


@pytest.fixture(scope="module")
def praat_child():
    child = PraatChild()
    yield child
    child.close()


def as_vectors(contents):
    """The columns plinth.textgrid2vectors gives for a TextGrid's contents."""
    rows = [
        (start, end, label, name, is_interval)
        for name, is_interval, items in contents[2]
        for start, end, label in items
    ]
    return (
        [r[0] for r in rows],
        [r[1] for r in rows],
        [r[2] for r in rows],
        [r[3] for r in rows],
        [r[4] for r in rows],
    )


def vector_lists(result):
    tmins, tmaxs, labels, names, flags = result
    return (tmins.tolist(), tmaxs.tolist(), labels, names, flags.tolist())


# TextGrids that Praat can build: interval tiers cover the whole range.
PRAAT_CASES = {
    "interval_and_point_tiers": (
        0.0,
        3.0,
        [
            ("words", True, [(0.0, 1.0, "hello"), (1.0, 2.0, ""), (2.0, 3.0, "world")]),
            ("tones", False, [(0.5, 0.5, "H*"), (2.5, 2.5, "L%")]),
        ],
    ),
    "empty_labels_and_an_empty_point_tier": (
        0.0,
        2.0,
        [
            ("w", True, [(0.0, 1.0, ""), (1.0, 2.0, "")]),
            ("p", False, [(1.0, 1.0, "")]),
            ("nothing", False, []),
        ],
    ),
    "non_ascii": (
        0.0,
        2.0,
        [
            ("wörter", True, [(0.0, 1.0, "ʃøn"), (1.0, 2.0, "日本語 😀 ɔː")]),
            ("トーン", False, [(1.0, 1.0, "é")]),
        ],
    ),
    "double_quotes": (
        0.0,
        7.0,
        [
            (
                "q",
                True,
                [
                    (0.0, 1.0, '"hEl@U'),
                    (1.0, 2.0, 'say "hi"'),
                    (2.0, 3.0, 'trail"'),
                    (3.0, 4.0, '"'),
                    (4.0, 5.0, '""'),
                    (5.0, 6.0, '"a" "b"'),
                    (6.0, 7.0, 'a\\"b'),
                ],
            ),
            ('the "name"', False, [(0.5, 0.5, '"'), (1.5, 1.5, 'x""y')]),
        ],
    ),
    "line_breaks": (
        0.0,
        6.0,
        [
            (
                "lb",
                True,
                [
                    (0.0, 1.0, "line1\nline2"),
                    (1.0, 2.0, "\n"),
                    (2.0, 3.0, "a\n\nb\n"),
                    (3.0, 4.0, 'ends in a quote\n"'),
                    (4.0, 5.0, '"\n"'),
                    (5.0, 6.0, "  indented\n\tand tabbed  "),
                ],
            ),
            ("p", False, [(1.0, 1.0, "p\nq"), (2.0, 2.0, "\n\n")]),
        ],
    ),
    "texts_that_look_like_layout": (
        0.0,
        6.0,
        [
            (
                "item []:",
                True,
                [
                    (0.0, 1.0, "item []: "),
                    (1.0, 2.0, "x\nitem []:\ny"),
                    (2.0, 3.0, "x\n    intervals [2]:\n        xmin = 7 "),
                    (3.0, 4.0, 'File type = "ooTextFile"'),
                    (4.0, 5.0, "3"),
                    (5.0, 6.0, '"IntervalTier"\n<exists>'),
                ],
            ),
            ("size = 1", False, [(1.0, 1.0, '\nclass = "TextTier"\n')]),
        ],
    ),
    "awkward_times": (
        0.0,
        100000.5,
        [
            (
                "t",
                True,
                [
                    (0.0, 1.5e-05, "a"),
                    (1.5e-05, 0.1 + 0.2, "b"),
                    (0.1 + 0.2, 1 / 3, "c"),
                    (1 / 3, 12345.678901234567, "d"),
                    (12345.678901234567, 99999.99999999999, "e"),
                    (99999.99999999999, 100000.5, "f"),
                ],
            ),
            ("p", False, [(5e-05, 5e-05, "x"), (2 / 3, 2 / 3, "y"), (100000.5, 100000.5, "end")]),
        ],
    ),
}


def praat_file(tmp_path, case, layout):
    """Praat's file of a case, and what Praat holds for it."""
    grid = praat_build(*PRAAT_CASES[case])
    path = str(tmp_path / f"{case}.TextGrid")
    call(grid, SAVE[layout], path)
    expected = praat_contents(grid)
    assert expected[2] == PRAAT_CASES[case][2]  # Praat holds what the case says
    return path, expected


@pytest.mark.parametrize("praat_encoding", ENCODINGS, indirect=True)
@pytest.mark.parametrize("layout", ["long", "short"])
@pytest.mark.parametrize("case", sorted(PRAAT_CASES))
def test_plinth_reads_what_praat_writes(tmp_path, case, layout, praat_encoding):
    path, expected = praat_file(tmp_path, case, layout)
    for strict in (True, False):
        assert plinth.textgrid2data(path, strict, layout) == expected, strict
    assert vector_lists(plinth.textgrid2vectors(path, True, layout)) == as_vectors(expected)


@pytest.mark.parametrize("praat_encoding", ENCODINGS, indirect=True)
@pytest.mark.parametrize("layout", ["long", "short", *AUTO_ONLY])
@pytest.mark.parametrize("case", sorted(PRAAT_CASES))
def test_plinth_detects_the_layout_of_what_praat_writes(tmp_path, case, layout, praat_encoding):
    path, expected = praat_file(tmp_path, case, layout)
    for strict in (True, False):
        assert plinth.textgrid2data(path, strict, "auto") == expected, strict
    assert vector_lists(plinth.textgrid2vectors(path, False, "auto")) == as_vectors(expected)


def read_four_ways(path, strict):
    """What each of the four reading functions gives for one file with "auto", checked
    to agree, in the structured form."""
    data = plinth.textgrid2data(path, strict, "auto")
    assert plinth.textgrids2data([path], strict, "auto") == [data]
    assert vector_lists(plinth.textgrid2vectors(path, strict, "auto")) == as_vectors(data)
    columns = plinth.textgrids2vectors([path], strict, "auto")
    assert vector_lists(columns[:5]) == as_vectors(data)
    assert columns[5].tolist() == [0] * len(columns[0])
    return data


SAMPLES = sorted(name for name in os.listdir(DATA_DIR) if name.startswith("praat_"))


@pytest.mark.parametrize("strict", [True, False])
@pytest.mark.parametrize("name", SAMPLES)
def test_praat_samples_read_as_praat_reads_them(name, strict):
    """Every file that Praat wrote into tests/data (make_samples.py), ELAN's headings
    included, reads to what Praat itself reads from it."""
    path = os.path.join(DATA_DIR, name)
    assert read_four_ways(path, strict) == praat_contents(parselmouth.read(path))


def test_samples_cover_every_layout():
    for layout in ["long", "short", "elan_long", *AUTO_ONLY]:
        assert any(name.endswith(f"_{layout}.TextGrid") for name in SAMPLES), layout
    assert any("utf16_chronological" in name for name in SAMPLES)
    with open(os.path.join(DATA_DIR, "praat_utf16_chronological.TextGrid"), "rb") as f:
        assert f.read(2) == b"\xfe\xff"


def test_praat_default_writes_utf16_for_non_ascii(tmp_path):
    """The UTF-16 path above is really taken: Praat's default output has a BOM."""
    grid = praat_build(*PRAAT_CASES["non_ascii"])
    path = str(tmp_path / "u.TextGrid")
    call(grid, SAVE["long"], path)
    with open(path, "rb") as f:
        assert f.read(2) in (b"\xfe\xff", b"\xff\xfe")


@pytest.mark.parametrize("layout", ["long", "short"])
def test_plinth_reads_a_praat_corpus_in_one_batch(tmp_path, layout):
    paths, expected = [], []
    for case in sorted(PRAAT_CASES):
        grid = praat_build(*PRAAT_CASES[case])
        paths.append(str(tmp_path / f"{case}.TextGrid"))
        call(grid, SAVE[layout], paths[-1])
        expected.append(praat_contents(grid))
    assert plinth.textgrids2data(paths, True, layout) == expected
    result = plinth.textgrids2vectors(paths, True, layout)
    per_file = [as_vectors(e) for e in expected]
    assert vector_lists(result[:5]) == tuple(
        sum(map(list, column), []) for column in zip(*per_file)
    )
    assert result[5].tolist() == [i for i, v in enumerate(per_file) for _ in v[0]]


# What only plinth writes: interval tiers with gaps, not starting at the range start.
PLINTH_CASES = dict(PRAAT_CASES)
del PLINTH_CASES["empty_labels_and_an_empty_point_tier"]  # empty tiers are not written
PLINTH_CASES["gaps"] = (
    0.0,
    10.0,
    [
        ("gappy", True, [(1.0, 2.0, "a"), (3.0, 4.5, "b"), (4.5, 5.0, ""), (9.0, 9.5, 'q"')]),
        ("dense", True, [(0.0, 10.0, "all")]),
        ("p", False, [(0.0, 0.0, "at start"), (10.0, 10.0, "at end")]),
    ],
)
PLINTH_CASES["no_tiers"] = (0.0, 1.5, [])
PLINTH_CASES["positional_numbers"] = (
    0.0,
    1e20,
    [
        ("t", True, [(0.0, 2.5e-06, ""), (2.5e-06, 1e15, "big"), (1e15, 1e20, "bigger")]),
        ("p", False, [(1.25e-20, 1.25e-20, "tiny"), (1e-07, 1e-07, "0.0000001")]),
    ],
)


def plinth_write(writer, contents, path, layout):
    tmin, tmax, tiers = contents
    if writer == "data2textgrid":
        plinth.data2textgrid(tiers, tmin, tmax, path, layout)
    else:
        plinth.vectors2textgrid(*as_vectors(contents), tmin, tmax, path, layout)


@pytest.mark.parametrize("writer", ["data2textgrid", "vectors2textgrid"])
@pytest.mark.parametrize("layout", ["long", "short"])
@pytest.mark.parametrize("case", sorted(PLINTH_CASES))
def test_praat_reads_what_plinth_writes(tmp_path, praat_child, case, layout, writer):
    contents = PLINTH_CASES[case]
    path = str(tmp_path / f"{case}.TextGrid")
    plinth_write(writer, contents, path, layout)
    assert praat_child.read(path) == contents


@pytest.mark.parametrize("layout", ["long", "short"])
def test_praat_crashes_on_the_absent_form_plinth_no_longer_writes(tmp_path, praat_child, layout):
    """Praat 6.1.38 dies opening "<absent>" tiers; plinth writes "<exists>" and 0 instead."""
    path = str(tmp_path / "none.TextGrid")
    plinth.data2textgrid([], 0.0, 1.5, path, layout)
    with open(path, "rb") as f:
        written = f.read()
    assert written.count(b"<exists>") == 1 and b"<absent>" not in written
    with open(path, "wb") as f:
        f.write(written.replace(b"<exists>", b"<absent>"))
    assert plinth.textgrid2data(path, True, "auto") == (0.0, 1.5, [])
    # SIGSEGV; under AddressSanitizer, which catches the fault, SIGABRT.
    with pytest.raises(pytest.fail.Exception, match=r"Praat died \(exit status -(11|6)\)"):
        praat_child.read(path)


@pytest.mark.parametrize("layout", ["long", "short"])
@pytest.mark.parametrize("case", sorted(set(PRAAT_CASES) & set(PLINTH_CASES)))
def test_a_round_trip_through_plinth_is_invisible_to_praat(tmp_path, case, layout):
    """Praat's file -> plinth -> plinth's file -> Praat -> Praat's file: same bytes."""
    call("Text writing preferences", "UTF-8")
    try:
        first, again = str(tmp_path / "praat.TextGrid"), str(tmp_path / "praat-again.TextGrid")
        call(praat_build(*PRAAT_CASES[case]), SAVE[layout], first)
        tmin, tmax, tiers = plinth.textgrid2data(first, True, layout)
        plinth.data2textgrid(tiers, tmin, tmax, str(tmp_path / "plinth.TextGrid"), layout)
        call(parselmouth.read(str(tmp_path / "plinth.TextGrid")), SAVE[layout], again)
    finally:
        call("Text writing preferences", PRAAT_DEFAULT_ENCODING)
    with open(first, "rb") as a, open(again, "rb") as b:
        assert a.read() == b.read()


@pytest.mark.parametrize("praat_encoding", ENCODINGS, indirect=True)
@pytest.mark.parametrize("layout", ["long", "short"])
def test_plinth_reads_gaps_that_praat_kept(tmp_path, layout, praat_encoding):
    """Praat keeps the gaps of a file it reads, and writes them out again."""
    contents = PLINTH_CASES["gaps"]
    plinth.data2textgrid(
        contents[2], contents[0], contents[1], str(tmp_path / "in.TextGrid"), "long"
    )
    grid = parselmouth.read(str(tmp_path / "in.TextGrid"))
    call(grid, SAVE[layout], str(tmp_path / "out.TextGrid"))
    for strict, file_type in [(True, layout), (False, layout), (True, "auto")]:
        assert plinth.textgrid2data(str(tmp_path / "out.TextGrid"), strict, file_type) == contents


# Randomized: any label text, any doubles as times, both directions.

# Any text but CR, which Praat's reader turns into LF, NUL, which it drops, and a
# leading U+FEFF, which it drops too (see the tests below).
LABEL = st.text(
    st.characters(blacklist_categories=("Cs",), blacklist_characters="\x00\r"), max_size=12
).filter(lambda text: not text.startswith("\ufeff"))


@st.composite
def praat_grids(draw, label=LABEL, min_time=0.0):
    """A TextGrid that Praat can build: contiguous interval tiers, distinct point times,
    intervals longer than plinth's strict check needs."""
    tmax = draw(st.floats(0.01, 1e5))
    times = st.floats(min_time, tmax, exclude_min=True, exclude_max=True)
    tiers = []
    for _ in range(draw(st.integers(0, 3))):
        name = draw(label)
        if draw(st.booleans()):
            bounds = [0.0]
            for time in sorted(draw(st.sets(times, max_size=6))):
                if time - bounds[-1] > 2e-6 and tmax - time > 2e-6:
                    bounds.append(time)
            bounds.append(tmax)
            items = [(bounds[i], bounds[i + 1], draw(label)) for i in range(len(bounds) - 1)]
            tiers.append((name, True, items))
        else:
            points = sorted(draw(st.sets(times, max_size=6)))
            tiers.append((name, False, [(t, t, draw(label)) for t in points]))
    return (0.0, tmax, tiers)


RANDOM = settings(
    max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
)


@RANDOM
@given(
    grid=praat_grids(),
    layout=st.sampled_from(["long", "short", *AUTO_ONLY]),
    encoding=st.sampled_from(ENCODINGS),
    file_type=st.sampled_from(["auto", None]),
)
def test_random_praat_files_read_as_praat_holds_them(tmp_path, grid, layout, encoding, file_type):
    praat = praat_build(*grid)
    path = str(tmp_path / "random.TextGrid")
    call("Text writing preferences", encoding)
    try:
        call(praat, SAVE[layout], path)
    finally:
        call("Text writing preferences", PRAAT_DEFAULT_ENCODING)
    word = "auto" if layout in AUTO_ONLY else file_type or layout
    assert plinth.textgrid2data(path, True, word) == praat_contents(praat)


@RANDOM
@given(grid=praat_grids(), layout=st.sampled_from(AUTO_ONLY), encoding=st.sampled_from(ENCODINGS))
def test_random_chronological_and_binary_files_through_every_reader(
    tmp_path, grid, layout, encoding
):
    praat = praat_build(*grid)
    path = str(tmp_path / "random.TextGrid")
    call("Text writing preferences", encoding)
    try:
        call(praat, SAVE[layout], path)
    finally:
        call("Text writing preferences", PRAAT_DEFAULT_ENCODING)
    for strict in (True, False):
        assert read_four_ways(path, strict) == praat_contents(praat)


@RANDOM
@given(
    grid=praat_grids(min_time=1e-20),
    layout=st.sampled_from(["long", "short"]),
    writer=st.sampled_from(["data2textgrid", "vectors2textgrid"]),
)
def test_random_plinth_files_read_by_praat(tmp_path, praat_child, grid, layout, writer):
    """Times from 1e-20 on: smaller ones make number tokens Praat refuses (see below).
    Documents without tiers included."""
    grid = (grid[0], grid[1], [tier for tier in grid[2] if tier[2]])  # empty tiers are left out
    if writer == "vectors2textgrid":  # columns group entries by tier name
        assume(len({name for name, _, _ in grid[2]}) == len(grid[2]))
    path = str(tmp_path / "random.TextGrid")
    plinth_write(writer, grid, path, layout)
    assert praat_child.read(path) == grid


# Known differences, pinned.


@pytest.mark.parametrize("text", ["a\r\nb", "a\rb", "end\r"])
@pytest.mark.parametrize("layout", ["long", "short"])
def test_cr_in_a_label_is_kept_by_plinth_and_turned_into_lf_by_praat(tmp_path, text, layout):
    """Praat's reader turns CR LF and a lone CR inside a text into LF (so does it
    FF, NEL, LS and PS in UTF-16 files); plinth gives back the bytes as written."""
    contents = (0.0, 1.0, [("w", True, [(0.0, 1.0, text)])])
    path = str(tmp_path / "cr.TextGrid")
    plinth.data2textgrid(contents[2], 0.0, 1.0, path, layout)
    assert plinth.textgrid2data(path, True, "auto") == contents
    praat_text = call(parselmouth.read(path), "Get label of interval", 1, 1)
    assert praat_text == text.replace("\r\n", "\n").replace("\r", "\n")
    # Praat's own file holds the CR too: plinth reads what Praat held, not what Praat rereads.
    grid = praat_build(*contents)
    call(grid, SAVE[layout], path)
    assert plinth.textgrid2data(path, True, "auto") == contents


@pytest.mark.parametrize(
    "text, praat_text",
    [
        ("a\x00b", "ab"),
        ("\x00", ""),
        ("\ufeffab", "ab"),
        ("\ufeff\ufeff", "\ufeff"),
        ("a\ufeffb", "a\ufeffb"),
    ],
)
@pytest.mark.parametrize("layout", ["long", "short"])
def test_nul_and_a_leading_bom_are_kept_by_plinth_and_dropped_by_praat(
    tmp_path, text, praat_text, layout
):
    """Praat drops every NUL of a text file (with a warning) and a U+FEFF at the start of a
    label or name; plinth keeps both, elsewhere U+FEFF is kept by both."""
    contents = (0.0, 1.0, [(text, True, [(0.0, 1.0, text)]), ("p", False, [(0.5, 0.5, text)])])
    path = str(tmp_path / "nul.TextGrid")
    plinth.data2textgrid(contents[2], 0.0, 1.0, path, layout)
    assert plinth.textgrid2data(path, True, "auto") == contents
    with pytest.warns(parselmouth.PraatWarning) if "\x00" in text else contextlib.nullcontext():
        praat = praat_contents(parselmouth.read(path))
    assert praat == (
        0.0,
        1.0,
        [(praat_text, True, [(0.0, 1.0, praat_text)]), ("p", False, [(0.5, 0.5, praat_text)])],
    )


def test_praat_does_not_recognise_its_own_chronological_file_without_tiers(tmp_path):
    path = str(tmp_path / "none.TextGrid")
    call(praat_without_tiers(0.0, 1.25), SAVE["chronological"], path)
    assert read_four_ways(path, True) == (0.0, 1.25, [])
    with pytest.raises(parselmouth.PraatError, match="not recognized"):
        parselmouth.read(path)


EMPTY_INTERVAL_TIER = (
    'File type = "ooTextFile"\r\nObject class = "TextGrid"\r\n\r\nxmin = 0 \r\nxmax = 2 \r\n'
    "tiers? <exists> \r\nsize = 1 \r\nitem []: \r\n    item [1]:\r\n"
    '        class = "IntervalTier" \r\n        name = "p" \r\n        xmin = 0 \r\n'
    "        xmax = 2 \r\n        intervals: size = 0 \r\n"
)


def test_praat_fills_an_empty_interval_tier(tmp_path):
    """An interval tier without intervals reads as such in plinth, as one empty interval in Praat."""
    path = str(tmp_path / "empty.TextGrid")
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(EMPTY_INTERVAL_TIER)
    assert plinth.textgrid2data(path, True, "long") == (0.0, 2.0, [("p", True, [])])
    assert praat_contents(parselmouth.read(path)) == (0.0, 2.0, [("p", True, [(0.0, 2.0, "")])])


def test_praat_keeps_one_of_two_points_at_the_same_time(tmp_path):
    path = str(tmp_path / "same.TextGrid")
    tiers = [("p", False, [(1.0, 1.0, "a"), (1.0, 1.0, "b")])]
    plinth.data2textgrid(tiers, 0.0, 2.0, path, "short")
    assert plinth.textgrid2data(path, True, "short") == (0.0, 2.0, tiers)
    assert praat_contents(parselmouth.read(path)) == (0.0, 2.0, [("p", False, [(1.0, 1.0, "a")])])


@pytest.mark.parametrize("time", [1e-39, 1.2345678901234567e-30, 1e41])
def test_praat_refuses_number_tokens_over_40_characters(tmp_path, time):
    """plinth writes every time positionally; Praat reads at most 40 characters a number."""
    path = str(tmp_path / "tiny.TextGrid")
    plinth.data2textgrid([("p", False, [(time, time, "x")])], 0.0, 1.0, path, "long")
    assert plinth.textgrid2data(path, True, "long")[2] == [("p", False, [(time, time, "x")])]
    with pytest.raises(parselmouth.PraatError):
        parselmouth.read(path)


def test_plinth_strict_refuses_intervals_praat_allows(tmp_path):
    """Praat allows an interval of 0.0000005 s; plinth's strict check needs more than 0.000001."""
    grid = call("Create TextGrid", 0.0, 2.0, "w", "")
    call(grid, "Insert boundary", 1, 1.0)
    call(grid, "Insert boundary", 1, 1.0000005)
    path = str(tmp_path / "short-interval.TextGrid")
    call(grid, SAVE["long"], path)
    assert plinth.textgrid2data(path, False, "auto") == praat_contents(grid)
    with pytest.raises(OSError) as error:
        plinth.textgrid2data(path, True, "auto")
    assert str(error.value) == (
        f"Failed to read TextGrid file {path} because: "
        "tmin should be less than tmax in item 1 in tier w"
    )


def test_plinth_strict_refuses_negative_times_praat_allows(tmp_path):
    grid = call("Create TextGrid", -1.0, 1.0, "w", "")
    path = str(tmp_path / "negative.TextGrid")
    call(grid, SAVE["short"], path)
    assert plinth.textgrid2data(path, False, "auto") == praat_contents(grid)
    with pytest.raises(OSError) as error:
        plinth.textgrid2data(path, True, "auto")
    assert str(error.value) == (
        f"Failed to read TextGrid file {path} because: "
        "Time bounds should be non-negative in TextGrid"
    )


def test_plinth_refuses_latin1_files_that_praat_writes_on_request(tmp_path):
    """With "try ISO Latin-1, then UTF-16" Praat writes Latin-1, which plinth does not decode."""
    call("Text writing preferences", "try ISO Latin-1, then UTF-16")
    try:
        path = str(tmp_path / "latin1.TextGrid")
        call(praat_build(0.0, 1.0, [("w", True, [(0.0, 1.0, "ö")])]), SAVE["long"], path)
    finally:
        call("Text writing preferences", PRAAT_DEFAULT_ENCODING)
    with open(path, "rb") as f:
        assert b'"\xf6"' in f.read()
    with pytest.raises(OSError) as error:
        plinth.textgrid2data(path, False, "auto")
    assert str(error.value) == (
        f"Failed to read TextGrid file {path} because: stream did not contain valid UTF-8"
    )
    # The table functions say where, and offer the encodings that read it as Praat does.
    with open(path, "rb") as f:
        offset = f.read().index(b"\xf6")
    with pytest.raises(OSError) as error:
        plinth.textgrid2table(path)
    assert str(error.value) == (
        f"Failed to read TextGrid file {path} because: stream did not contain valid UTF-8 "
        f'(first invalid byte at offset {offset}; for 8-bit files pass encoding="praat", '
        '"latin-1" or "cp1252")'
    )
    assert plinth.textgrids2table([path]).failed == {0: str(error.value)}
    pa = pytest.importorskip("pyarrow")
    for encoding in ("praat", "latin-1", "cp1252"):
        assert pa.table(plinth.textgrid2table(path, encoding=encoding))["label"].to_pylist() == [
            "ö"
        ]


# Forms that Praat reads but no longer writes (or writes only on other systems),
# each pinned by the smallest file that shows it.

OLD_HEADER = 'File type = "ooTextFile"\nObject class = "TextGrid"\n\n'
OLD_FORMS = {
    # Praat 4 and the textgrid package write a point's time under "time".
    "point time under another key": OLD_HEADER
    + "xmin = 0\nxmax = 2\ntiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n"
    '        class = "TextTier"\n        name = "p"\n        xmin = 0\n        xmax = 2\n'
    "        points: size = 1\n        points [1]:\n            time = 0.25\n"
    '            text = "a"\n',
    # Corpus converters leave out "item []:" when there are no tiers.
    "long layout without tiers": OLD_HEADER + "xmin = 0\nxmax = 2.5\ntiers? <exists>\nsize = 0\n",
    # The free text form of Praat's manual: several values a line, "!" comments.
    "free text form": '"ooTextFile"\n"TextGrid"\n0 2.3 ! time domain of TextGrid\n<exists>\n'
    '2 tiers\n"IntervalTier" "Mary" ! type and name of tier 1\n0 2.3 ! time domain of tier 1\n'
    '1 interval coming\n0 2.3 "hi" ! interval 1\n"TextTier" "bell" 0 2.3 1 0.9 "ding"\n',
    "free text form on two lines": '"ooTextFile"\n"TextGrid" 0 1 <exists> 1 "IntervalTier" "a" '
    '0 1 1 0 1 "x"\n',
    "free text form with one value a line": '"ooTextFile"\n"TextGrid"\n0 ! start\n1 ! end\n'
    "<exists>\n0\n",
}


@pytest.mark.parametrize("name", sorted(OLD_FORMS))
def test_forms_praat_reads_but_no_longer_writes(tmp_path, name):
    path = str(tmp_path / "old.TextGrid")
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(OLD_FORMS[name])
    assert read_four_ways(path, True) == praat_contents(parselmouth.read(path))


@pytest.mark.parametrize(
    "text, message",
    [
        ('0 "x" 2.3\n', "Found a text on line 3 where the end time of the TextGrid should be"),
        (
            '0 1 <exists> 1 "IntervalTier" "a" 0 1 2 0 1 "x"\n',
            "Unexpected end of file after line 3: expected the start time of item 1 of tier 0",
        ),
    ],
)
def test_free_text_form_refused_where_praat_refuses_it(tmp_path, text, message):
    path = str(tmp_path / "free.TextGrid")
    with open(path, "w", encoding="utf-8") as f:
        f.write('"ooTextFile"\n"TextGrid"\n' + text)
    with pytest.raises(parselmouth.PraatError):
        parselmouth.read(path)
    with pytest.raises(OSError) as error:
        plinth.textgrid2data(path, False, "auto")
    assert str(error.value) == f"Failed to read TextGrid file {path} because: {message}"


@pytest.mark.parametrize("encoding", ["utf-8", "utf-16-be", "utf-16-le"])
@pytest.mark.parametrize("layout", ["long", "short", "chronological"])
def test_lone_cr_line_ends_read_as_praat_reads_them(tmp_path, layout, encoding):
    """Old Mac line ends, in Praat's own file: Praat saves them there and reads them back."""
    path = str(tmp_path / "cr.TextGrid")
    call("Text writing preferences", "UTF-8")
    try:
        call(praat_build(*PRAAT_CASES["non_ascii"]), SAVE[layout], path)
    finally:
        call("Text writing preferences", PRAAT_DEFAULT_ENCODING)
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read().replace("\n", "\r")
    mark = b"" if encoding == "utf-8" else "\ufeff".encode(encoding)
    with open(path, "wb") as f:
        f.write(mark + text.encode(encoding))
    expected = praat_contents(parselmouth.read(path))
    assert expected == PRAAT_CASES["non_ascii"]
    for file_type in ["auto"] + ([layout] if layout != "chronological" else []):
        assert plinth.textgrid2data(path, True, file_type) == expected, file_type


def test_praat_reads_8bit_files_as_latin1(tmp_path):
    """Praat's reading of a file that is not UTF-8, which plinth's "praat" encoding
    follows: ISO Latin-1 for every byte, 0x80 to 0x9F as the C1 controls (not as
    Windows-1252's letters)."""
    path = str(tmp_path / "8bit.TextGrid")
    body = bytes(range(0x80, 0x100))
    with open(path, "wb") as f:
        f.write(
            OLD_HEADER.encode()
            + b"xmin = 0\nxmax = 1\ntiers? <exists>\nsize = 1\nitem []:\n    item [1]:\n"
            + b'        class = "TextTier"\n        name = "'
            + body
            + b'"\n        xmin = 0\n        xmax = 1\n        points: size = 1\n'
            + b'        points [1]:\n            number = 0.5\n            mark = "'
            + body
            + b'"\n'
        )
    grid = parselmouth.read(path)
    assert call(grid, "Get tier name", 1) == body.decode("latin-1")
    assert call(grid, "Get label of point", 1, 1) == body.decode("latin-1")
    pa = pytest.importorskip("pyarrow")
    unassigned = {0x81, 0x8D, 0x8F, 0x90, 0x9D}
    expected = {
        "praat": body.decode("latin-1"),
        "latin-1": body.decode("latin-1"),
        "cp1252": "".join(chr(b) if b in unassigned else bytes([b]).decode("cp1252") for b in body),
    }
    for encoding, label in expected.items():
        table = pa.table(plinth.textgrids2table([path], encoding=encoding))
        assert table["tier"].to_pylist() == [label] and table["label"].to_pylist() == [label]
