"""How the reading functions build their results: nothing for the collector to
walk during the build (and its state left alone), labels decoded alike on the
ASCII and the general way, one str per tier name."""

import gc

import pytest

import plinth
from conftest import write_textgrid

MANY = (
    0.0,
    3000.0,
    [
        ("words", True, [(float(i), float(i + 1), f"w{i}") for i in range(3000)]),
        ("tones", False, [(i + 0.5, i + 0.5, "H") for i in range(0, 3000, 7)]),
    ],
)

CALLS = [
    lambda path: plinth.textgrid2data(path, True, "auto"),
    lambda path: plinth.textgrids2data([path] * 45, True, "auto"),
    lambda path: plinth.textgrid2vectors(path, True, "auto"),
    lambda path: plinth.textgrids2vectors([path] * 45, True, "auto"),
]


@pytest.fixture
def many_file(tmp_path):
    return write_textgrid(tmp_path / "many.TextGrid", MANY)


@pytest.fixture
def low_gc_threshold():
    old = gc.get_threshold()
    gc.set_threshold(10)
    yield
    gc.set_threshold(*old)
    gc.enable()


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("enabled", [True, False])
def test_no_collection_during_the_build_and_state_restored(
    many_file, low_gc_threshold, call, enabled
):
    starts = []

    def count(phase, info):
        if phase == "start":
            starts.append(info["generation"])

    if call in CALLS[2:]:
        call(many_file)  # NumPy loaded first: its loading makes objects of its own

    gc.enable() if enabled else gc.disable()
    gc.callbacks.append(count)
    try:
        result = call(many_file)
    finally:
        gc.callbacks.remove(count)
    assert gc.isenabled() is enabled
    assert result
    if call in CALLS[2:]:  # the vector functions make no container per entry
        assert starts == []
        return
    # The structured results are built untracked (passes that the item tuples
    # start find none of it) and handed to the collector once complete.
    grids = result if isinstance(result, list) else [result]
    assert gc.is_tracked(result)
    for grid in grids:
        assert gc.is_tracked(grid) and gc.is_tracked(grid[2])
        for tier in grid[2]:
            assert gc.is_tracked(tier) and gc.is_tracked(tier[2])
            assert not any(gc.is_tracked(item) for item in tier[2])


@pytest.mark.parametrize("call", CALLS[::2])
def test_collector_state_kept_when_the_read_fails(tmp_path, call):
    assert gc.isenabled()
    with pytest.raises(OSError):
        call(str(tmp_path / "missing.TextGrid"))
    assert gc.isenabled()


# Lengths on both sides of the 8-byte words of the ASCII check, with the one
# non-ASCII character first, in the middle and last.
LABELS = [
    "",
    "a",
    "abcdefg",
    "abcdefgh",
    "abcdefghi",
    "x" * 16,
    "x" * 17,
    "é",
    "éabcdefgh",
    "abcdéfghij",
    "abcdefghijklmnopé",
    "a\x7f",
    "\x00nul",
    "日本語",
    "🎉" * 3,
]


@pytest.mark.parametrize("layout", ["long", "short"])
def test_labels_ascii_and_not_come_back_equal(tmp_path, layout):
    items = [(float(i), float(i + 1), label) for i, label in enumerate(LABELS)]
    path = write_textgrid(
        tmp_path / "l.TextGrid", (0.0, float(len(LABELS)), [("t", True, items)]), layout
    )
    read = [label for _, _, label in plinth.textgrid2data(path, True, "auto")[2][0][2]]
    assert read == LABELS
    assert all(type(label) is str for label in read)
    assert plinth.textgrid2vectors(path, True, "auto")[2] == LABELS
    # A str made the short way must hash and compare like any other.
    assert {label: i for i, label in enumerate(read)} == {
        label: i for i, label in enumerate(LABELS)
    }


def test_one_str_per_tier_name(many_file, tmp_path):
    names = plinth.textgrid2vectors(many_file, True, "auto")[3]
    words = [n for n in names if n == "words"]
    tones = [n for n in names if n == "tones"]
    assert len(words) == 3000 and len(tones) == 429
    assert all(n is words[0] for n in words) and all(n is tones[0] for n in tones)
    other = write_textgrid(tmp_path / "other.TextGrid", MANY, "short")
    names = plinth.textgrids2vectors([many_file, other], True, "auto")[3]
    assert names[0] is names[2999] and names[3429] is names[6428]
    assert names[:3429] == names[3429:]
