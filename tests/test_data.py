"""textgrid2data, textgrids2data and data2textgrid against files on disk."""

import math

import pytest

import plinth
from conftest import DATA_DIR, SAMPLE, write_textgrid

LAYOUTS = ["long", "short"]


def _expected(grid=SAMPLE):
    tmin, tmax, tiers = grid
    return (tmin, tmax, [(n, f, [tuple(i) for i in items]) for n, f, items in tiers])


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("file_type", ["auto", "layout"])
def test_read_both_layouts(tmp_path, layout, file_type):
    path = write_textgrid(tmp_path / "s.TextGrid", layout=layout)
    result = plinth.textgrid2data(path, True, layout if file_type == "layout" else "auto")
    assert result == _expected()


def test_result_types(sample_file):
    tmin, tmax, tiers = plinth.textgrid2data(sample_file, False, "long")
    assert type(tmin) is float and type(tmax) is float and type(tiers) is list
    for tier in tiers:
        assert type(tier) is tuple and len(tier) == 3
        name, flag, items = tier
        assert type(name) is str and flag in (True, False) and type(items) is list
        for item in items:
            assert type(item) is tuple and [type(v) for v in item] == [float, float, str]
    assert [t[1] for t in tiers] == [True, True, False]
    assert tiers[2][1] is False


def test_results_are_new_objects(sample_file):
    first = plinth.textgrid2data(sample_file, True, "auto")
    second = plinth.textgrid2data(sample_file, True, "auto")
    assert first == second and first[2] is not second[2]
    first[2].clear()
    assert plinth.textgrid2data(sample_file, True, "auto") == second


def test_empty_tier_kept(tmp_path):
    path = write_textgrid(
        tmp_path / "e.TextGrid", (0.0, 1.0, [("empty", True, []), ("p", False, [])])
    )
    assert plinth.textgrid2data(path, False, "long") == (
        0.0,
        1.0,
        [("empty", True, []), ("p", False, [])],
    )


def test_unicode_labels(tmp_path):
    grid = (0.0, 2.0, [("wörter", True, [(0.0, 1.0, "ça"), (1.0, 2.0, "日本語 🎉")])])
    path = write_textgrid(tmp_path / "u.TextGrid", grid)
    assert plinth.textgrid2data(path, True, "auto") == _expected(grid)


def test_repeated_labels_read_alike(tmp_path):
    # Equal labels share one str within a call: past the 2,048 kept, over 64
    # bytes, non-ASCII, a tier name equal to a label, and across two calls.
    words = [f"w{i % 3000}" for i in range(9000)] + ["é" * 40, "x" * 65, "x" * 65, "t", ""]
    items = [(float(i), float(i + 1), w) for i, w in enumerate(words)]
    grid = (0.0, float(len(items)), [("t", True, items), ("w7", True, items[:3])])
    path = write_textgrid(tmp_path / "r.TextGrid", grid)
    for _ in range(2):
        assert plinth.textgrid2data(path, True, "auto") == _expected(grid)
        columns = plinth.textgrid2vectors(path, True, "auto")
        assert columns[2] == words + words[:3]
        assert columns[3] == ["t"] * len(words) + ["w7"] * 3
    tiers = plinth.textgrids2data([path, path], True, "auto")
    assert tiers == [_expected(grid)] * 2


def test_missing_file_message(missing_file):
    with pytest.raises(OSError) as info:
        plinth.textgrid2data(missing_file, True, "auto")
    assert str(info.value) == (
        f"Failed to read TextGrid file {missing_file} because: No such file or directory (os error 2)"
    )
    assert info.value.args == (str(info.value),)
    assert (info.value.errno, info.value.strerror, info.value.filename) == (None, None, None)
    assert type(info.value) is FileNotFoundError


def test_path_shown_exactly_as_passed(sample_file, tmp_path):
    relative_ish = str(tmp_path) + "/./nope/../missing.TextGrid"
    with pytest.raises(OSError) as info:
        plinth.textgrid2data(relative_ish, True, "auto")
    assert str(info.value).startswith(f"Failed to read TextGrid file {relative_ish} because: ")


@pytest.mark.parametrize("word", ["LONG", "Long", "", "auto ", "txt"])
def test_unknown_file_type(sample_file, word):
    with pytest.raises(OSError) as info:
        plinth.textgrid2data(sample_file, True, word)
    assert (
        str(info.value)
        == f"Failed to read TextGrid file {sample_file} because: Unknown file type: {word}"
    )


def test_strict_failure_is_os_error_lenient_reads(tmp_path):
    # The declared tier count says 4 but only 3 tiers follow.
    path = write_textgrid(tmp_path / "bad.TextGrid")
    body = (tmp_path / "bad.TextGrid").read_text().replace("size = 3 ", "size = 4 ", 1)
    (tmp_path / "bad.TextGrid").write_text(body)
    with pytest.raises(OSError) as info:
        plinth.textgrid2data(path, True, "long")
    assert str(info.value) == (
        f"Failed to read TextGrid file {path} because: TextGrid size does not match number of tiers"
    )
    assert len(plinth.textgrid2data(path, False, "long")[2]) == 3


# --- textgrids2data -------------------------------------------------------------


def test_batch_empty():
    assert plinth.textgrids2data([], True, "auto") == []


def test_batch_failed_file_in_the_middle(sample_file, sample_short_file, missing_file):
    result = plinth.textgrids2data((sample_file, missing_file, sample_short_file), True, "auto")
    assert result == [_expected(), (0.0, 0.0, []), _expected()]


def test_batch_same_path_twice(sample_file):
    a, b = plinth.textgrids2data([sample_file, sample_file], True, "auto")
    assert a == b == _expected() and a is not b


def test_batch_unknown_file_type_is_refused(sample_file):
    with pytest.raises(OSError, match="^Unknown file type: LONG$"):
        plinth.textgrids2data([sample_file], True, "LONG")


def test_batch_many_files_keeps_order(tmp_path):
    # Enough files to cross the parallel threshold on any machine here.
    paths = []
    for i in range(120):
        grid = (
            0.0,
            10.0,
            [(f"tier{i}", True, [(0.0, 1.0 + i / 100, f"x{i}"), (1.0 + i / 100, 10.0, "")])],
        )
        paths.append(
            write_textgrid(tmp_path / f"f{i}.TextGrid", grid, "long" if i % 2 else "short")
        )
    paths[7] = str(tmp_path / "missing.TextGrid")
    results = plinth.textgrids2data(paths, True, "auto")
    assert len(results) == 120
    assert results[7] == (0.0, 0.0, [])
    for i, result in enumerate(results):
        if i != 7:
            assert result[2][0][0] == f"tier{i}" and result[2][0][2][0][2] == f"x{i}"


# --- data2textgrid --------------------------------------------------------------


@pytest.mark.parametrize("layout", LAYOUTS)
def test_round_trip_through_data(tmp_path, sample_file, layout):
    tmin, tmax, tiers = plinth.textgrid2data(sample_file, True, "long")
    out = str(tmp_path / f"out_{layout}.TextGrid")
    assert plinth.data2textgrid(tiers, tmin, tmax, out, layout) is None
    assert plinth.textgrid2data(out, True, layout) == (tmin, tmax, tiers)
    assert plinth.textgrid2data(out, True, "auto") == (tmin, tmax, tiers)


@pytest.mark.parametrize(
    "word, long_layout",
    [
        ("long", True),
        ("short", False),
        ("Long", False),
        ("LONG", False),
        ("", False),
        ("long ", False),
    ],
)
def test_write_layout_word(tmp_path, word, long_layout):
    out = tmp_path / "o.TextGrid"
    plinth.data2textgrid(SAMPLE[2], SAMPLE[0], SAMPLE[1], str(out), word)
    raw = out.read_bytes()
    assert (b"item []:" in raw) is long_layout
    assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b"")
    assert plinth.textgrid2data(str(out), True, "long" if long_layout else "short") == _expected()


def test_tuples_accepted_like_lists(tmp_path):
    out = tmp_path / "o.TextGrid"
    data = tuple((n, f, tuple(items)) for n, f, items in SAMPLE[2])
    plinth.data2textgrid(data, 0.0, 2.5, str(out), "long")
    assert plinth.textgrid2data(str(out), True, "long") == _expected()


def test_bounds_computed_when_none(tmp_path):
    out = str(tmp_path / "o.TextGrid")
    plinth.data2textgrid(
        [("t", True, [(0.5, 1.0, "a"), (1.0, 3.0, "b")])], None, None, out, "short"
    )
    assert plinth.textgrid2data(out, True, "short") == (
        0.5,
        3.0,
        [("t", True, [(0.5, 1.0, "a"), (1.0, 3.0, "b")])],
    )


def test_int_bounds_are_floats(tmp_path):
    out = str(tmp_path / "o.TextGrid")
    plinth.data2textgrid([("t", True, [(0, 1, "a")])], 0, 2, out, "long")
    tmin, tmax, _ = plinth.textgrid2data(out, True, "long")
    assert (tmin, tmax) == (0.0, 2.0) and type(tmax) is float


def test_exact_float_round_trip(tmp_path):
    times = [0.0, 0.1, 1 / 3, math.pi, 7.000000000000001, 1e5 + 0.123456789]
    items = [(a, b, str(i)) for i, (a, b) in enumerate(zip(times, times[1:]))]
    out = str(tmp_path / "o.TextGrid")
    for layout in LAYOUTS:
        plinth.data2textgrid([("t", True, items)], 0.0, times[-1], out, layout)
        assert plinth.textgrid2data(out, True, "auto")[2][0][2] == items


def test_empty_data_no_bounds_fails_and_writes_nothing(tmp_path):
    out = tmp_path / "o.TextGrid"
    with pytest.raises(OSError) as info:
        plinth.data2textgrid([], None, None, str(out), "long")
    assert (
        str(info.value)
        == "Failed to create TextGrid because: Time bounds should be non-negative in TextGrid"
    )
    assert type(info.value) is OSError and info.value.errno is None
    assert not out.exists()


def test_failed_build_leaves_existing_file_untouched(tmp_path):
    out = tmp_path / "o.TextGrid"
    out.write_bytes(b"keep me")
    with pytest.raises(OSError, match="^Failed to create TextGrid because: "):
        plinth.data2textgrid(
            [("t", True, [(0.0, 2.0, "a"), (1.0, 3.0, "b")])], 0.0, 3.0, str(out), "long"
        )
    assert out.read_bytes() == b"keep me"


def test_empty_data_with_bounds_writes_no_tiers(tmp_path):
    out = str(tmp_path / "o.TextGrid")
    plinth.data2textgrid([], 0.0, 5.0, out, "long")
    assert plinth.textgrid2data(out, True, "long") == (0.0, 5.0, [])


def test_tier_without_items_left_out(tmp_path):
    out = str(tmp_path / "o.TextGrid")
    plinth.data2textgrid(
        [("empty", True, []), ("t", False, [(1.0, 1.0, "p")])], 0.0, 2.0, out, "long"
    )
    assert plinth.textgrid2data(out, True, "long") == (0.0, 2.0, [("t", False, [(1.0, 1.0, "p")])])


def test_single_point_without_bounds_fails(tmp_path):
    with pytest.raises(OSError) as info:
        plinth.data2textgrid(
            [("p", False, [(1.0, 1.0, "x")])], None, None, str(tmp_path / "o"), "long"
        )
    assert str(info.value).startswith(
        "Failed to create TextGrid because: tmin should be less than tmax in "
    )


def test_missing_output_directory(tmp_path):
    target = tmp_path / "no" / "such" / "o.TextGrid"
    with pytest.raises(OSError) as info:
        plinth.data2textgrid(SAMPLE[2], 0.0, 2.5, str(target), "long")
    assert "No such file or directory (os error 2)" in str(info.value)
    assert not str(info.value).startswith("Failed to create TextGrid because: ")
    assert info.value.errno is None
    assert not target.parent.exists()


@pytest.mark.parametrize(
    "label", ['say "hi"', '"', 'end"', '"start', 'back\\slash"', "x = y", "  padded  "]
)
@pytest.mark.parametrize("layout", LAYOUTS)
def test_awkward_labels_round_trip(tmp_path, label, layout):
    out = str(tmp_path / "o.TextGrid")
    plinth.data2textgrid([(label, True, [(0.0, 1.0, label)])], 0.0, 1.0, out, layout)
    assert plinth.textgrid2data(out, True, layout) == (
        0.0,
        1.0,
        [(label, True, [(0.0, 1.0, label)])],
    )


# --- files written by Praat itself ----------------------------------------------

UNICODE_SAMPLE = (
    0.0,
    1.5,
    [
        (
            "ipa",
            True,
            [(0.0, 0.75, "h\u025b\u02c8lo\u028a"), (0.75, 1.5, "\u4f60\u597d \U0001f600")],
        ),
        ("tones", False, [(0.5, 0.5, "H*\u00a0L%")]),
    ],
)


@pytest.mark.parametrize(
    "name", ["praat_utf8_long", "praat_utf8_short", "praat_utf16_long", "praat_utf16_short"]
)
@pytest.mark.parametrize("file_type", ["auto", "layout"])
def test_praat_unicode_samples(name, file_type):
    path = str(DATA_DIR / f"{name}.TextGrid")
    word = name.rsplit("_", 1)[1] if file_type == "layout" else "auto"
    assert plinth.textgrid2data(path, True, word) == UNICODE_SAMPLE


def test_praat_quote_samples_agree_across_layouts():
    long_path, short_path = (
        str(DATA_DIR / f"praat_quotes_{kind}.TextGrid") for kind in ("long", "short")
    )
    from_long = plinth.textgrid2data(long_path, True, "auto")
    assert from_long == plinth.textgrid2data(short_path, True, "auto")
    assert [(n, f, len(items)) for n, f, items in from_long[2]] == [
        ("words", True, 4),
        ("phones", True, 2),
        ("events", False, 3),
    ]


def test_praat_samples_in_one_batch():
    paths = sorted(str(p) for p in DATA_DIR.glob("praat_*.TextGrid"))
    result = plinth.textgrids2data(paths, True, "auto")
    assert result == [plinth.textgrid2data(p, True, "auto") for p in paths]
    assert all(tiers for path, (_, _, tiers) in zip(paths, result) if "notiers" not in path)
