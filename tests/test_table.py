"""textgrid2table and textgrids2table: Arrow tables into pyarrow, polars, pandas and DuckDB."""

from __future__ import annotations

import ctypes
import gc
import os
import pathlib

import numpy as np
import pytest

import plinth
from conftest import DATA_DIR, write_textgrid

pa = pytest.importorskip("pyarrow")
pl = pytest.importorskip("polars")

SAMPLES = sorted(str(p) for p in DATA_DIR.glob("*.TextGrid"))
COLUMNS = ["tmin", "tmax", "label", "tier", "is_interval"]


def _vectors_as_lists(columns) -> list[list]:
    return [c if isinstance(c, list) else c.tolist() for c in columns]


def _via_pyarrow(table) -> dict[str, list]:
    return pa.table(table).to_pydict()


def _via_polars(table) -> dict[str, list]:
    return pl.DataFrame(table).to_dict(as_series=False)


CONSUMERS = [pytest.param(_via_pyarrow, id="pyarrow"), pytest.param(_via_polars, id="polars")]


def _expect_vectors(got: dict[str, list], vectors) -> None:
    want = _vectors_as_lists(vectors)
    assert [got[name] for name in COLUMNS] == want[:5]
    if len(want) == 6:
        assert got["file_id"] == want[5]


@pytest.mark.parametrize("consume", CONSUMERS)
@pytest.mark.parametrize("path", SAMPLES, ids=lambda p: pathlib.Path(p).name)
def test_one_sample_equals_its_vectors(path, consume):
    table = plinth.textgrid2table(path, True, "auto")
    got = consume(table)
    assert list(got) == ["tier_id", "tier", "is_interval", "tmin", "tmax", "label"]
    _expect_vectors(got, plinth.textgrid2vectors(path, True, "auto"))
    assert len(table) == len(got["label"]) and table.failed == {}


def _corpus_with_failures(tmp_path) -> tuple[list[str], dict[int, str]]:
    """The samples, an empty file, a file without items, a missing file, a
    folder and a file that only the lenient reader takes, interleaved."""
    empty = tmp_path / "empty.TextGrid"
    empty.write_bytes(b"")
    no_items = write_textgrid(tmp_path / "no_items.TextGrid", (0.0, 1.0, [("a", True, [])]))
    overlap = (0.0, 2.0, [("w", True, [(0.0, 1.5, "a"), (1.0, 2.0, "b")])])
    paths = [
        SAMPLES[0],
        str(empty),
        no_items,
        str(tmp_path / "missing.TextGrid"),
        SAMPLES[1],
        str(tmp_path),
        write_textgrid(tmp_path / "overlap.TextGrid", overlap),
        *SAMPLES[2:],
    ]
    failed = {}
    for position, path in enumerate(paths):
        try:
            plinth.textgrid2table(path, True, "auto")
        except OSError as error:
            failed[position] = str(error)
    return paths, failed


@pytest.mark.parametrize("consume", CONSUMERS)
def test_batch_with_failed_and_empty_files_equals_the_vectors(tmp_path, consume):
    paths, failed = _corpus_with_failures(tmp_path)
    assert sorted(failed) == [1, 3, 5, 6]
    table = plinth.textgrids2table(paths, True, "auto")
    _expect_vectors(consume(table), plinth.textgrids2vectors(paths, True, "auto"))
    # Exactly the failed positions, with the message textgrid2table raises;
    # each access gives a new dict.
    assert table.failed == failed
    table.failed.clear()
    assert table.failed == failed
    assert (
        failed[3]
        == f"Failed to read TextGrid file {paths[3]} because: No such file or directory (os error 2)"
    )
    assert failed[5].endswith("because: Is a directory (os error 21)")
    # The file without items gives no rows and no failure.
    assert 2 not in table.failed and 2 not in pa.table(table)["file_id"].to_pylist()


def test_many_files_come_as_batches_in_file_order(tmp_path):
    paths = []
    for i in range(120):  # past the parallel threshold: read on the workers
        grid = (
            0.0,
            3.0,
            [
                (f"w{i % 4}", True, [(0.0, 1.0, f"a{i}"), (1.0, 3.0, "")]),
                ("p", False, [(0.5, 0.5, "x")] * (i % 2)),
            ],
        )
        paths.append(write_textgrid(tmp_path / f"{i}.TextGrid", grid, ("long", "short")[i % 2]))
    table = plinth.textgrids2table(paths, True, "auto")
    arrow = pa.table(table)
    _expect_vectors(arrow.to_pydict(), plinth.textgrids2vectors(paths, True, "auto"))
    # No concatenation: one chunk per batch, each with its own dictionary of
    # the names of its files, every name stored once.
    tiers = arrow["tier"]
    assert tiers.num_chunks == arrow["label"].num_chunks > 1
    for chunk in tiers.chunks:
        names = chunk.dictionary.to_pylist()
        assert len(names) == len(set(names))
        assert set(names) == set(chunk.to_pylist())
    assert len(table) == arrow.num_rows == 300


def test_types_and_dictionary_encoding():
    table = plinth.textgrids2table(SAMPLES, True, "auto")
    tier = pa.dictionary(pa.int32(), pa.utf8())
    assert pa.schema(table) == pa.schema(
        [
            pa.field("file_id", pa.uint32(), nullable=False),
            pa.field("path", tier, nullable=False),
            pa.field("tier_id", pa.uint32(), nullable=False),
            pa.field("tier", tier, nullable=False),
            pa.field("is_interval", pa.bool_(), nullable=False),
            pa.field("tmin", pa.float64(), nullable=False),
            pa.field("tmax", pa.float64(), nullable=False),
            pa.field("label", pa.utf8(), nullable=False),
        ]
    )
    assert pa.table(table).schema == pa.schema(table)
    one = plinth.textgrid2table(SAMPLES[0], True, "auto")
    assert pa.schema(one).names == ["tier_id", "tier", "is_interval", "tmin", "tmax", "label"]
    assert pl.DataFrame(table).dtypes == [
        pl.UInt32,
        pl.Categorical,
        pl.UInt32,
        pl.Categorical,
        pl.Boolean,
        pl.Float64,
        pl.Float64,
        pl.String,
    ]
    frame = pa.table(table).to_pandas()
    assert [str(t) for t in frame.dtypes[:7]] == [
        "uint32",
        "category",
        "uint32",
        "category",
        "bool",
        "float64",
        "float64",
    ]


def test_duckdb_and_pandas_read_it():
    duckdb = pytest.importorskip("duckdb")
    corpus = plinth.textgrids2table(SAMPLES, True, "auto")
    tmins, tmaxs, labels, tiers, flags, ids = plinth.textgrids2vectors(SAMPLES, True, "auto")
    want = {}
    for tier, a, b in zip(tiers, tmins, tmaxs):
        want[tier] = want.get(tier, 0.0) + (b - a)
    got = duckdb.sql("select tier, sum(tmax - tmin) from corpus group by tier").fetchall()
    assert {tier: pytest.approx(total) for tier, total in got} == want
    frame = pa.table(corpus).to_pandas()
    assert frame["label"].tolist() == labels
    assert frame["tier"].astype(str).tolist() == tiers


def test_exported_twice_over_the_same_buffers():
    table = plinth.textgrids2table(SAMPLES, True, "auto")
    first, second = pa.table(table), pa.table(table)
    assert first.equals(second)
    for name in ("tmin", "label", "tier"):
        a, b = first[name].chunks[0], second[name].chunks[0]
        # The same memory, not a copy.
        assert [x.address for x in a.buffers() if x] == [x.address for x in b.buffers() if x]
    assert pl.DataFrame(table).equals(pl.DataFrame(table))


def test_buffers_outlive_the_table():
    table = plinth.textgrids2table(SAMPLES, True, "auto")
    want = pa.table(table).to_pydict()
    capsule = table.__arrow_c_stream__()
    schema = pa.schema(table)
    arrow = pa.table(table)
    del table
    gc.collect()
    assert arrow.to_pydict() == want
    reader = pa.RecordBatchReader._import_from_c_capsule(capsule)
    assert reader.schema == schema
    del capsule
    assert reader.read_all().to_pydict() == want


def test_tables_of_zero_rows(tmp_path):
    duckdb = pytest.importorskip("duckdb")
    no_items = write_textgrid(
        tmp_path / "n.TextGrid", (0.0, 1.0, [("a", True, []), ("b", False, [])])
    )
    cases = [
        plinth.textgrids2table([], True, "auto"),
        plinth.textgrids2table([no_items, str(tmp_path / "missing")], True, "auto"),
        plinth.textgrid2table(no_items, True, "auto"),
    ]
    for empty in cases:
        assert len(empty) == 0
        arrow = pa.table(empty)
        assert arrow.num_rows == 0 and arrow.schema == pa.schema(empty)
        assert pl.DataFrame(empty).shape == (0, len(arrow.schema))
        assert duckdb.sql("select count(*) from empty").fetchall() == [(0,)]
        assert arrow.to_pandas().shape == (0, len(arrow.schema))
    assert list(cases[1].failed) == [1]


def test_requested_schema_of_the_table_is_taken_and_others_refused():
    table = plinth.textgrids2table(SAMPLES, True, "auto")
    own = pa.schema(table)
    # Any string form of the texts is taken; the stream keeps its own types.
    views = pa.schema(
        [
            own.field(i).with_type(pa.large_utf8())
            if own.field(i).name == "label"
            else own.field(i)
            for i in range(len(own))
        ]
    )
    for requested in (own, views):
        stream = table.__arrow_c_stream__(requested.__arrow_c_schema__())
        assert pa.RecordBatchReader._import_from_c_capsule(stream).schema == own
    stream = table.__arrow_c_stream__(requested_schema=None)
    assert pa.RecordBatchReader._import_from_c_capsule(stream).schema == own
    with pytest.raises(ValueError) as info:
        table.__arrow_c_stream__(own.remove(0).__arrow_c_schema__())
    assert (
        str(info.value) == "requested_schema does not fit the table: it has 7 fields, the table 8"
    )
    with pytest.raises(ValueError, match="field 'tmin' cannot be given as 'f'$"):
        table.__arrow_c_stream__(own.set(5, pa.field("tmin", pa.float32())).__arrow_c_schema__())
    with pytest.raises(TypeError, match="^requested_schema must be None or a PyCapsule"):
        table.__arrow_c_stream__(own)
    # pyarrow itself asks with a schema when given one.
    assert pa.table(table, schema=own).num_rows == len(table)


class _ArrowSchema(ctypes.Structure):
    pass


_release_nothing = ctypes.CFUNCTYPE(None, ctypes.POINTER(_ArrowSchema))(lambda schema: None)
_ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p),
    ("name", ctypes.c_char_p),
    ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("children", ctypes.c_void_p),
    ("dictionary", ctypes.c_void_p),
    ("release", ctypes.c_void_p),
    ("private_data", ctypes.c_void_p),
]


@pytest.mark.parametrize(
    "format, n_children, why",
    [
        (b"+s", 6, "it has 6 fields but no children"),
        (b"+s", 1 << 40, "it has 1099511627776 fields but no children"),
        (None, 6, "it is (none), not a struct ('+s')"),
    ],
)
def test_malformed_requested_schema_is_refused_not_followed(format, n_children, why):
    table = plinth.textgrids2table(SAMPLES[:2], True, "auto")
    schema = _ArrowSchema(format=format, n_children=n_children)
    schema.release = ctypes.cast(_release_nothing, ctypes.c_void_p).value
    new_capsule = ctypes.pythonapi.PyCapsule_New
    new_capsule.restype = ctypes.py_object
    new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    capsule = new_capsule(ctypes.addressof(schema), b"arrow_schema", None)
    with pytest.raises(ValueError) as info:
        table.__arrow_c_stream__(capsule)
    assert str(info.value) == "requested_schema does not fit the table: " + why


def test_the_table_type():
    table = plinth.textgrid2table(str(DATA_DIR / "praat_utf8_long.TextGrid"), True, "auto")
    assert type(table) is plinth.Table and type(table).__module__ == "plinth"
    assert repr(table) == str(table)
    assert repr(table).startswith(f"plinth.Table: {len(table)} rows, 1 file, 0 failed, 1 batch\n")
    with pytest.raises(TypeError):
        plinth.Table()
    with pytest.raises(AttributeError):
        table.failed = {}
    capsule = table.__arrow_c_schema__()
    assert type(capsule).__name__ == "PyCapsule" and "arrow_schema" in repr(capsule)


@pytest.mark.parametrize(
    "pair", [("textgrid2vectors", "textgrid2table"), ("textgrids2vectors", "textgrids2table")]
)
@pytest.mark.parametrize(
    "args, kwargs",
    [
        (("x",), {"strict": True, "file_type": "auto", "nope": 1}),
        (("x", 1, "auto"), {}),
        (("x", np.bool_(True), None), {}),
    ],
)
def test_arguments_bind_and_convert_as_for_the_vectors(pair, args, kwargs):
    vectors, table = (getattr(plinth, name) for name in pair)
    if pair[0] == "textgrids2vectors":  # the path forms differ; a list is taken by both
        args = (["x"], *args[1:])
    with pytest.raises((TypeError, UnicodeEncodeError)) as want:
        vectors(*args, **kwargs)
    with pytest.raises(type(want.value)) as got:
        table(*args, **kwargs)
    assert str(got.value) == str(want.value).replace(pair[0], pair[1])


@pytest.mark.parametrize(
    "call, error, message",
    [
        (
            lambda: plinth.textgrid2table(1),
            TypeError,
            "argument 'file': expected str or os.PathLike object, not int",
        ),
        (
            lambda: plinth.textgrid2table(b"x"),
            TypeError,
            "argument 'file': expected str or os.PathLike object, not bytes",
        ),
        (
            lambda: plinth.textgrids2table("x"),
            TypeError,
            "argument 'files': 'str' object is not an iterable of paths",
        ),
        (
            lambda: plinth.textgrids2table(pathlib.Path("x")),
            TypeError,
            "argument 'files': 'PosixPath' object is not an iterable of paths",
        ),
        (
            lambda: plinth.textgrids2table(3),
            TypeError,
            "argument 'files': 'int' object is not an iterable of paths",
        ),
        (
            lambda: plinth.textgrids2table(["a", b"b"]),
            TypeError,
            "argument 'files': expected str or os.PathLike object, not bytes",
        ),
        (lambda: plinth.textgrids2table(1 / 0 for _ in "x"), ZeroDivisionError, "division by zero"),
        (
            lambda: plinth.textgrid2table("x", encoding="latin1"),
            ValueError,
            "encoding must be 'utf-8', 'praat', 'latin-1' or 'cp1252', not 'latin1'",
        ),
        (
            lambda: plinth.textgrids2table([], encoding="UTF-8"),
            ValueError,
            "encoding must be 'utf-8', 'praat', 'latin-1' or 'cp1252', not 'UTF-8'",
        ),
        (
            lambda: plinth.textgrid2table("x", encoding=None),
            TypeError,
            "argument 'encoding': 'NoneType' object cannot be cast as 'str'",
        ),
    ],
)
def test_table_arguments_refused(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error and str(info.value) == message


class _Bar:
    """A progress bar's wrapper, as tqdm is: iterable, with a length, no sequence."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __iter__(self):
        return iter(self.items)


class _BytesPath:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return os.fsencode(self.path)


def test_table_functions_take_path_likes_iterables_and_defaults(tmp_path):
    pd = pytest.importorskip("pandas")
    paths = SAMPLES[:3] + [str(tmp_path / "missing.TextGrid")]
    want = plinth.textgrids2table(paths, False, "auto", encoding="utf-8")
    wrapped = [pathlib.Path(paths[0]), _BytesPath(paths[1]), *paths[2:]]
    for files in (
        paths,
        tuple(wrapped),
        (p for p in wrapped),
        pd.Series(paths),
        _Bar(wrapped),
        dict.fromkeys(paths),
        np.array(paths),
    ):
        got = plinth.textgrids2table(files)
        assert pa.table(got) == pa.table(want) and got.failed == want.failed
    assert list(want.failed) == [3] and paths[3] in want.failed[3]
    one = pa.table(plinth.textgrid2table(paths[0], False, "auto"))
    for file in (paths[0], pathlib.Path(paths[0]), _BytesPath(paths[0])):
        assert pa.table(plinth.textgrid2table(file)) == one
    long = DATA_DIR / "praat_utf8_long.TextGrid"
    strict = plinth.textgrid2table(long, file_type="long", strict=True)
    assert pa.table(strict) == pa.table(plinth.textgrid2table(str(long), True, "long"))


@pytest.mark.slow
def test_labels_past_2_gib_are_large_utf8(tmp_path):
    # One file whose labels hold 2 GiB and a little more.
    label = "x" * (1 << 20)
    count = 2049
    path = tmp_path / "big.TextGrid"
    with open(path, "w") as out:
        out.write(
            f'File type = "ooTextFile"\nObject class = "TextGrid"\n\n0\n{count}\n<exists>\n1\n'
            f'"IntervalTier"\n"big"\n0\n{count}\n{count}\n'
        )
        for i in range(count):
            out.write(f'{i}\n{i + 1}\n"{label}"\n')
    table = plinth.textgrids2table([str(path)], False, "short")
    assert pa.schema(table).field("label").type == pa.large_utf8()
    labels = pa.table(table)["label"]
    assert len(labels) == count and labels[count - 1].as_py() == label
    del labels
    assert (
        pa.schema(plinth.textgrid2table(str(path), False, "short")).field("label").type
        == pa.large_utf8()
    )
