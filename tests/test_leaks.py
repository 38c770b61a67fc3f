"""Memory stays flat over thousands of calls, on success and on every error path."""

import gc
import os
import sys

import pytest

import plinth
from conftest import write_textgrid

PAGE = os.sysconf("SC_PAGE_SIZE")

# Under AddressSanitizer freed memory sits in quarantine, so the RSS grows.
pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="memory is not returned under AddressSanitizer",
)


def _rss() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def _assert_flat(call, rounds: int, max_blocks: int = 200, max_rss: int = 8 << 20):
    for _ in range(rounds // 10):  # warm caches, interned names, NumPy
        call()
    gc.collect()
    blocks, rss = sys.getallocatedblocks(), _rss()
    for _ in range(rounds):
        call()
    gc.collect()
    grown_blocks, grown_rss = sys.getallocatedblocks() - blocks, _rss() - rss
    assert grown_blocks < max_blocks, f"{grown_blocks} Python blocks kept"
    assert grown_rss < max_rss, f"{grown_rss} bytes of RSS kept"


@pytest.fixture(scope="module")
def big_file(tmp_path_factory):
    # Big enough that a lost core buffer per call shows in the RSS.
    n = 1000
    items = [(i / 10, (i + 1) / 10, f"label{i}") for i in range(n)]
    grid = (0.0, n / 10, [("t", True, items), ("p", False, [(0.05, 0.05, "x")])])
    return write_textgrid(tmp_path_factory.mktemp("leaks") / "big.TextGrid", grid)


def _raises(kind, call):
    def run():
        try:
            call()
        except kind:
            return
        raise AssertionError("no exception")

    return run


def test_read_functions_do_not_leak(big_file):
    _assert_flat(lambda: plinth.textgrid2data(big_file, True, "long"), 1500)
    _assert_flat(lambda: plinth.textgrid2vectors(big_file, True, "long"), 1500)
    _assert_flat(lambda: plinth.textgrids2data([big_file, big_file], True, "auto"), 700)
    _assert_flat(lambda: plinth.textgrids2vectors([big_file, big_file], True, "auto"), 700)
    _assert_flat(lambda: plinth.textgrid2table(big_file, True, "long"), 1500)
    _assert_flat(lambda: plinth.textgrids2table([big_file, "missing"], True, "auto").failed, 700)


def test_exported_tables_do_not_leak(big_file):
    pa = pytest.importorskip("pyarrow")
    pl = pytest.importorskip("polars")
    table = plinth.textgrids2table([big_file] * 30, True, "auto")
    _assert_flat(lambda: pa.table(plinth.textgrids2table([big_file] * 3, True, "auto")), 700)
    # polars keeps a few hundred blocks of its own now and then (one CI run kept
    # 233 over 700 calls); a table lost per call would keep at least 700.
    _assert_flat(lambda: pl.DataFrame(table), 700, max_blocks=450)
    # Capsules that nobody consumes: a stream keeps its table, so one lost shows.
    _assert_flat(lambda: plinth.textgrid2table(big_file, True, "long").__arrow_c_stream__(), 1500)
    _assert_flat(lambda: table.__arrow_c_schema__(), 12000)


def test_write_functions_do_not_leak(big_file, tmp_path):
    out = str(tmp_path / "o.TextGrid")
    data = plinth.textgrid2data(big_file, True, "long")
    columns = plinth.textgrid2vectors(big_file, True, "long")
    _assert_flat(lambda: plinth.data2textgrid(data[2], data[0], data[1], out, "long"), 700)
    _assert_flat(lambda: plinth.vectors2textgrid(*columns, data[0], data[1], out, "short"), 700)


def test_error_paths_do_not_leak(big_file, tmp_path):
    missing = str(tmp_path / "missing.TextGrid")
    bad_dir = str(tmp_path / "no" / "o.TextGrid")
    tiers = plinth.textgrid2data(big_file, True, "long")[2]
    cases = [
        _raises(TypeError, lambda: plinth.textgrid2data(big_file, True)),
        _raises(TypeError, lambda: plinth.textgrid2data(big_file, True, "long", x=1)),
        _raises(TypeError, lambda: plinth.textgrid2data(big_file, 1, "long")),
        _raises(TypeError, lambda: plinth.textgrids2data([big_file, b"x"], True, "long")),
        _raises(OSError, lambda: plinth.textgrid2data(missing, True, "auto")),
        _raises(OSError, lambda: plinth.textgrid2vectors(big_file, True, "LONG")),
        _raises(OSError, lambda: plinth.textgrid2table(missing, True, "auto")),
        _raises(TypeError, lambda: plinth.textgrids2table([big_file, b"x"], True, "long")),
        _raises(ValueError, lambda: plinth.textgrids2table(iter([big_file]), encoding="cp-1252")),
        _raises(ZeroDivisionError, lambda: plinth.textgrids2table(str(1 // i) for i in (1, 0))),
        _raises(OSError, lambda: plinth.textgrid2table(missing + "\udce9")),
        _raises(
            ValueError,
            lambda: plinth.data2textgrid(
                tiers + [("x", True, [(1.0, 2.0)])], None, None, bad_dir, "long"
            ),
        ),
        _raises(
            TypeError,
            lambda: plinth.data2textgrid(
                tiers + [("x", True, [[1.0, 2.0, ""]])], None, None, bad_dir, "long"
            ),
        ),
        _raises(OSError, lambda: plinth.data2textgrid(tiers, 0.0, 1000.0, bad_dir, "long")),
        _raises(OSError, lambda: plinth.data2textgrid(tiers, 5.0, 1.0, bad_dir, "long")),
        _raises(
            OSError,
            lambda: plinth.vectors2textgrid(
                [0.0], [1.0], [], ["t"], [True], None, None, bad_dir, "long"
            ),
        ),
        _raises(
            TypeError,
            lambda: plinth.vectors2textgrid(
                [0.0] * 500,
                [1.0] * 500,
                ["a"] * 500,
                ["t"] * 500,
                [True] * 499 + [1],
                None,
                None,
                bad_dir,
                "long",
            ),
        ),
    ]
    for case in cases:
        _assert_flat(case, 2000)
