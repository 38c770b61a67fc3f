"""The result arrays: dtypes, shape, ownership by PySliceContainer, zero copy."""

import gc
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import plinth
from conftest import write_textgrid


@pytest.fixture
def vectors(sample_file):
    return plinth.textgrid2vectors(sample_file, True, "long")


@pytest.fixture
def batch(sample_file):
    return plinth.textgrids2vectors([sample_file, sample_file], True, "long")


ARRAY_COLUMNS = [(0, np.float64, 8), (1, np.float64, 8), (4, np.bool_, 1)]


@pytest.mark.parametrize(
    "source, position, dtype, size",
    [("vectors", *column) for column in ARRAY_COLUMNS]
    + [("batch", *column) for column in ARRAY_COLUMNS + [(5, np.uint32, 4)]],
)
def test_array_layout(request, source, position, dtype, size):
    result = request.getfixturevalue(source)
    array = result[position]
    assert type(array) is np.ndarray
    assert array.dtype == dtype and array.ndim == 1 and array.strides == (size,)
    assert array.shape == (len(result[2]),)
    assert array.flags.writeable and not array.flags.owndata
    assert type(array.base).__name__ == "PySliceContainer"
    assert type(array.base).__module__ == "plinth"


def test_each_array_has_its_own_container(batch):
    bases = [batch[i].base for i in (0, 1, 4, 5)]
    assert len({id(b) for b in bases}) == 4
    assert len({a.ctypes.data for a in (batch[0], batch[1], batch[4], batch[5])}) == 4


def test_bool_column_is_one_byte_zero_or_one(vectors):
    assert vectors[4].view(np.uint8).tolist() == [1, 1, 1, 1, 1, 0, 0]


def test_writing_changes_only_that_array(sample_file):
    first = plinth.textgrid2vectors(sample_file, True, "long")
    second = plinth.textgrid2vectors(sample_file, True, "long")
    first[0][:] = -1.0
    first[4][:] = False
    assert second[0].tolist() == [0.0, 1.0, 1.75, 0.0, 1.25, 0.5, 2.0]
    assert second[4].tolist() == [True] * 5 + [False] * 2
    assert not np.shares_memory(first[0], second[0])
    assert not np.shares_memory(first[0], first[1])
    assert plinth.textgrid2vectors(sample_file, True, "long")[0][0] == 0.0


def test_view_keeps_buffer_alive(sample_file):
    tmins = plinth.textgrid2vectors(sample_file, True, "long")[0]
    view = tmins[2:]
    del tmins
    gc.collect()
    # Churn the allocator so a freed buffer would likely be reused.
    junk = [plinth.textgrid2vectors(sample_file, True, "long") for _ in range(50)]
    for columns in junk:
        columns[0][:] = 99.0
    assert view.tolist() == [1.75, 0.0, 1.25, 0.5, 2.0]
    assert type(view.base.base).__name__ == "PySliceContainer"


def test_container_type_is_private_and_closed(vectors):
    container_type = type(vectors[0].base)
    assert not hasattr(plinth, "PySliceContainer")
    with pytest.raises(TypeError):
        container_type()
    assert container_type is type(vectors[1].base)


def test_empty_arrays(tmp_path):
    path = write_textgrid(tmp_path / "e.TextGrid", (0.0, 1.0, [("a", True, [])]))
    tmins, tmaxs, _, _, flags = plinth.textgrid2vectors(path, True, "long")
    for array, dtype in ((tmins, np.float64), (tmaxs, np.float64), (flags, np.bool_)):
        assert array.shape == (0,) and array.dtype == dtype and array.flags.writeable
        assert type(array.base).__name__ == "PySliceContainer"
        assert (array + 1).shape == (0,)


def test_result_arrays_usable_by_numpy(vectors):
    tmins, tmaxs, _, _, flags = vectors
    durations = tmaxs - tmins
    assert durations[flags].sum() == pytest.approx(5.0)
    assert np.array_equal(np.sort(tmins), sorted(tmins.tolist()))


def _run(code: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )


def test_numpy_not_imported_at_module_import():
    result = _run("""
        import sys, plinth
        assert 'numpy' not in sys.modules
        plinth.textgrids2data([], True, 'auto')
        assert 'numpy' not in sys.modules
        plinth.textgrids2vectors([], True, 'auto')
        assert 'numpy' in sys.modules
        print('ok')
    """)
    assert result.stdout.strip() == "ok", result.stderr


def test_numpy_unavailable_is_internal_fault():
    result = _run("""
        import sys
        sys.modules['numpy'] = None          # makes "import numpy" fail
        import plinth
        try:
            try:
                plinth.textgrids2vectors([], True, 'auto')
            except Exception:
                print('caught by except Exception')
        except BaseException as fault:
            kind = type(fault)
            print(kind.__module__ + '.' + kind.__name__, kind is plinth.InternalError)
            print(str(fault))
            print(type(fault.__cause__).__name__)
        assert plinth.textgrids2data([], True, 'auto') == []   # still usable
        del sys.modules['numpy']
        print(len(plinth.textgrids2vectors([], True, 'auto')))  # a later call may load it
    """)
    lines = result.stdout.splitlines()
    assert lines[0] == "plinth.InternalError True", result.stderr
    assert lines[1].startswith("Failed to access NumPy array API capsule")
    assert "numpy" in lines[1]
    assert lines[2] == "ModuleNotFoundError"
    assert lines[3] == "6"
