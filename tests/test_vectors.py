"""textgrid2vectors, textgrids2vectors and vectors2textgrid."""

import numpy as np
import pytest

import plinth
from conftest import SAMPLE, write_textgrid

TWO_TIERS = (
    0.0,
    3.0,
    [
        ("w", True, [(0.0, 1.0, "a"), (1.0, 2.0, "b"), (2.0, 3.0, "c")]),
        ("p", True, [(0.0, 1.5, "x"), (1.5, 3.0, "y")]),
    ],
)


def _columns(grid):
    tmins, tmaxs, labels, names, flags = [], [], [], [], []
    for name, flag, items in grid[2]:
        for a, b, label in items:
            (
                tmins.append(a),
                tmaxs.append(b),
                labels.append(label),
                names.append(name),
                flags.append(flag),
            )
    return tmins, tmaxs, labels, names, flags


def _as_lists(result):
    return [list(c) if isinstance(c, list) else c.tolist() for c in result]


@pytest.mark.parametrize("layout", ["long", "short"])
def test_two_interval_tiers(tmp_path, layout):
    path = write_textgrid(tmp_path / "t.TextGrid", TWO_TIERS, layout)
    result = plinth.textgrid2vectors(path, True, "auto")
    assert type(result) is tuple and len(result) == 5
    assert _as_lists(result) == list(_columns(TWO_TIERS))
    assert result[4].all()


def test_points_have_equal_bounds(sample_file):
    tmins, tmaxs, labels, names, flags = plinth.textgrid2vectors(sample_file, True, "long")
    points = [i for i, n in enumerate(names) if n == "tones"]
    assert (tmins[points] == tmaxs[points]).all() and not flags[points].any()
    assert labels[points[0] :] == ["H", "L"]


def test_empty_tiers_give_empty_columns(tmp_path):
    path = write_textgrid(tmp_path / "e.TextGrid", (0.0, 1.0, [("a", True, []), ("b", False, [])]))
    tmins, tmaxs, labels, names, flags = plinth.textgrid2vectors(path, True, "long")
    assert (len(tmins), len(tmaxs), len(flags)) == (0, 0, 0)
    assert (tmins.dtype, tmaxs.dtype, flags.dtype) == (np.float64, np.float64, np.bool_)
    assert labels == [] and names == []


def test_missing_file(missing_file):
    with pytest.raises(OSError) as info:
        plinth.textgrid2vectors(missing_file, False, "short")
    assert str(info.value) == (
        f"Failed to read TextGrid file {missing_file} because: No such file or directory (os error 2)"
    )


def test_unknown_file_type(sample_file):
    with pytest.raises(OSError, match="because: Unknown file type: LONG$"):
        plinth.textgrid2vectors(sample_file, False, "LONG")


# --- textgrids2vectors ----------------------------------------------------------


def test_batch_empty():
    result = plinth.textgrids2vectors([], True, "auto")
    assert len(result) == 6 and all(len(c) == 0 for c in result)
    assert [result[i].dtype for i in (0, 1, 4, 5)] == [np.float64, np.float64, np.bool_, np.uint32]


def test_batch_file_ids_skip_failed_file(tmp_path, missing_file):
    three = write_textgrid(tmp_path / "three.TextGrid", (0.0, 3.0, [TWO_TIERS[2][0]]))
    two = write_textgrid(tmp_path / "two.TextGrid", (0.0, 3.0, [TWO_TIERS[2][1]]), "short")
    result = plinth.textgrids2vectors([three, missing_file, two], True, "auto")
    assert result[5].tolist() == [0, 0, 0, 2, 2]
    assert result[2] == ["a", "b", "c", "x", "y"] and result[3] == ["w"] * 3 + ["p"] * 2
    assert result[0].tolist() == [0.0, 1.0, 2.0, 0.0, 1.5]


def test_batch_same_path_twice(tmp_path):
    path = write_textgrid(tmp_path / "t.TextGrid", TWO_TIERS)
    result = plinth.textgrids2vectors([path, path], True, "auto")
    assert result[5].tolist() == [0] * 5 + [1] * 5
    assert result[2] == ["a", "b", "c", "x", "y"] * 2


def test_batch_matches_single_calls(tmp_path):
    paths = [
        write_textgrid(
            tmp_path / f"{i}.TextGrid", TWO_TIERS if i % 3 else SAMPLE, "long" if i % 2 else "short"
        )
        for i in range(60)
    ]
    batch = plinth.textgrids2vectors(paths, True, "auto")
    singles = [plinth.textgrid2vectors(p, True, "auto") for p in paths]
    for column in range(5):
        joined = [
            v
            for s in singles
            for v in (s[column] if isinstance(s[column], list) else s[column].tolist())
        ]
        got = batch[column] if isinstance(batch[column], list) else batch[column].tolist()
        assert got == joined
    assert batch[5].tolist() == [i for i, s in enumerate(singles) for _ in s[2]]


# --- vectors2textgrid -----------------------------------------------------------


@pytest.mark.parametrize("layout", ["long", "short"])
def test_round_trip_through_vectors(tmp_path, sample_file, layout):
    columns = plinth.textgrid2vectors(sample_file, True, "long")
    out = str(tmp_path / "o.TextGrid")
    assert plinth.vectors2textgrid(*columns, 0.0, 2.5, out, layout) is None
    assert plinth.textgrid2data(out, True, layout) == plinth.textgrid2data(
        sample_file, True, "long"
    )
    assert _as_lists(plinth.textgrid2vectors(out, True, "auto")) == _as_lists(columns)


@pytest.mark.parametrize("word, long_layout", [("long", True), ("short", False), ("LONG", False)])
def test_write_layout_word(tmp_path, word, long_layout):
    out = tmp_path / "o.TextGrid"
    plinth.vectors2textgrid(*_columns(TWO_TIERS), 0.0, 3.0, str(out), word)
    assert (b"item []:" in out.read_bytes()) is long_layout


def test_grouping_and_sorting(tmp_path):
    out = str(tmp_path / "o.TextGrid")
    # B's first entry makes it a point tier; its later True flags are not consulted.
    plinth.vectors2textgrid(
        [2.0, 0.0, 1.0, 1.0],
        [2.0, 1.0, 1.0, 1.0],
        ["x", "a", "y", "z"],
        ["B", "A", "B", "B"],
        [False, True, True, True],
        0.0,
        3.0,
        out,
        "long",
    )
    _, _, tiers = plinth.textgrid2data(out, True, "long")
    assert [(n, f) for n, f, _ in tiers] == [("B", False), ("A", True)]
    assert [label for _, _, label in tiers[0][2]] == ["y", "z", "x"]


def test_unequal_lengths_write_nothing(tmp_path):
    out = tmp_path / "o.TextGrid"
    with pytest.raises(OSError) as info:
        plinth.vectors2textgrid(
            [0.0, 1.0], [1.0, 2.0], ["a"], ["t", "t"], [True, True], 0.0, 2.0, str(out), "long"
        )
    assert (
        str(info.value)
        == "Failed to create TextGrid because: Input vectors must have the same length"
    )
    assert type(info.value) is OSError and info.value.errno is None
    assert not out.exists()


def test_empty_columns_no_bounds_fail(tmp_path):
    with pytest.raises(
        OSError,
        match="^Failed to create TextGrid because: Time bounds should be non-negative in TextGrid$",
    ):
        plinth.vectors2textgrid([], [], [], [], [], None, None, str(tmp_path / "o"), "long")


def test_numpy_columns_accepted(tmp_path):
    out = str(tmp_path / "o.TextGrid")
    plinth.vectors2textgrid(
        np.array([0.0, 1.0]),
        np.array([1.0, 2.0], dtype=np.float32),
        np.array(["a", "b"]),
        np.array(["t", "t"]),
        np.array([True, True]),
        np.float64(0.0),
        np.int32(2),
        out,
        "short",
    )
    assert plinth.textgrid2data(out, True, "short") == (
        0.0,
        2.0,
        [("t", True, [(0.0, 1.0, "a"), (1.0, 2.0, "b")])],
    )


def test_missing_output_directory(tmp_path):
    target = tmp_path / "none" / "o.TextGrid"
    with pytest.raises(OSError) as info:
        plinth.vectors2textgrid(*_columns(TWO_TIERS), 0.0, 3.0, str(target), "long")
    assert "No such file or directory (os error 2)" in str(info.value)
    assert not str(info.value).startswith("Failed to create TextGrid because: ")
    assert not target.parent.exists()


@pytest.mark.parametrize(
    "make",
    [
        lambda c: c,  # lists
        lambda c: [np.array(c[0]), np.array(c[1]), c[2], c[3], np.array(c[4])],
        lambda c: [
            np.repeat(c[0], 2)[::2],
            np.repeat(c[1], 2)[::2],
            c[2],
            c[3],  # strided views
            np.repeat(c[4], 2)[::2],
        ],
        lambda c: [
            np.array(c[0], dtype=">f8"),
            np.array(c[1], dtype=np.float32),
            tuple(c[2]),
            np.array(c[3]),
            tuple(np.array(c[4])),
        ],
        lambda c: [memoryview(np.array(c[0])), range(0, 0) if not c[1] else c[1], c[2], c[3], c[4]],
    ],
)
def test_column_forms_give_the_same_file(tmp_path, make):
    columns = list(_columns(TWO_TIERS))
    reference, out = tmp_path / "ref.TextGrid", tmp_path / "o.TextGrid"
    plinth.vectors2textgrid(*columns, 0.0, 3.0, str(reference), "long")
    plinth.vectors2textgrid(*make(columns), 0.0, 3.0, str(out), "long")
    assert out.read_bytes() == reference.read_bytes()
