"""Property tests: what the writing functions write, the reading functions give back."""

import pathlib
import tempfile

import numpy as np
from hypothesis import given, settings, strategies as st

import plinth

# Texts the layouts carry unchanged: no quote, no line break, no control character.
TEXT = st.text(
    st.characters(blacklist_categories=("Cc", "Cs", "Zl", "Zp"), blacklist_characters='"\\'),
    max_size=12,
)
# Arbitrary doubles between a millisecond and a day, and round milliseconds.
TIME = st.one_of(
    st.floats(min_value=1e-3, max_value=1e5, allow_nan=False, allow_infinity=False),
    st.integers(0, 10**8).map(lambda ms: ms / 1000),
)


@st.composite
def tiers(draw, unique_names=False):
    result = []
    count = draw(st.integers(1, 4))
    names = draw(st.lists(TEXT, min_size=count, max_size=count, unique=unique_names))
    for name in names:
        is_interval = draw(st.booleans())
        times = []
        for time in sorted(draw(st.lists(TIME, min_size=2, max_size=12))):
            if not times or time - times[-1] > 1e-5:  # intervals must last over 1e-6 s
                times.append(time)
        if len(times) < 2:
            times = [0.0, 1.0]
        if is_interval:
            items = [(a, b, draw(TEXT)) for a, b in zip(times, times[1:])]
        else:
            items = [(t, t, draw(TEXT)) for t in times]
        result.append((name, is_interval, items))
    return result


def _bounds(data):
    starts = [i[0] for _, _, items in data for i in items]
    ends = [i[1] for _, _, items in data for i in items]
    return min(starts), max(ends) + 1.0


@settings(max_examples=60, deadline=None)
@given(data=tiers(), layout=st.sampled_from(["long", "short"]))
def test_data_round_trip(data, layout):
    tmin, tmax = _bounds(data)
    with tempfile.TemporaryDirectory() as folder:
        out = str(pathlib.Path(folder) / "o.TextGrid")
        plinth.data2textgrid(data, tmin, tmax, out, layout)
        assert plinth.textgrid2data(out, True, "auto") == (tmin, tmax, data)


@settings(max_examples=60, deadline=None)
@given(data=tiers(unique_names=True), layout=st.sampled_from(["long", "short"]))
def test_vectors_round_trip(data, layout):
    tmin, tmax = _bounds(data)
    with tempfile.TemporaryDirectory() as folder:
        first = str(pathlib.Path(folder) / "a.TextGrid")
        second = str(pathlib.Path(folder) / "b.TextGrid")
        plinth.data2textgrid(data, tmin, tmax, first, layout)
        columns = plinth.textgrid2vectors(first, True, "auto")
        assert len(columns[2]) == sum(len(items) for _, _, items in data)
        plinth.vectors2textgrid(*columns, tmin, tmax, second, layout)
        again = plinth.textgrid2vectors(second, True, "auto")
        # Distinct names and items in start order: the columns come back as they were.
        for got, want in zip(again, columns):
            assert (got == want) if isinstance(got, list) else np.array_equal(got, want)
        assert plinth.textgrid2data(second, True, "auto") == (tmin, tmax, data)
