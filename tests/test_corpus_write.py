"""table2textgrids: a corpus written back from Arrow tables."""

import filecmp
import pathlib

import plinth
import pyarrow as pa
import pytest

DATA = pathlib.Path(__file__).parent / "data"
SAMPLES = sorted(str(p) for p in DATA.glob("*.TextGrid"))


def items_table(rows, **types):
    """An items table from (file_id, tier, is_interval, tmin, tmax, label) rows."""
    names = ["file_id", "tier", "is_interval", "tmin", "tmax", "label"]
    columns = list(zip(*rows)) if rows else [[]] * 6
    return pa.table(
        {n: pa.array(c, type=types.get(n)) for n, c in zip(names, columns)},
        schema=pa.schema(
            [
                ("file_id", types.get("file_id", pa.int64())),
                ("tier", types.get("tier", pa.string())),
                ("is_interval", pa.bool_()),
                ("tmin", pa.float64()),
                ("tmax", pa.float64()),
                ("label", types.get("label", pa.string())),
            ]
        ),
    )


ROWS = [
    (0, "words", True, 0.5, 1.0, "a"),
    (1, "words", True, 0.0, 1.0, "x, longer than a view's twelve inline bytes"),
    (0, "words", True, 1.5, 2.0, "b"),
    (0, "beats", False, 0.7, 0.7, "p"),
]


def written(tmp_path, items, count=2, **options):
    paths = [tmp_path / f"{i}.TextGrid" for i in range(count)]
    failed = plinth.table2textgrids(items, paths, **options)
    return failed, [
        plinth.textgrid2data(str(p), True, "long") if p.exists() else None for p in paths
    ]


@pytest.mark.parametrize("with_tiers", [False, True, "the read's own"])
@pytest.mark.parametrize("layout", ["long", "short"])
def test_read_table_writes_every_sample_as_data2textgrid(tmp_path, layout, with_tiers):
    table = plinth.textgrids2table(SAMPLES)
    files = {"file_id": [], "tmin": [], "tmax": []}
    tiers = {"file_id": [], "tier_id": [], "name": [], "is_interval": [], "tmin": [], "tmax": []}
    for i, path in enumerate(SAMPLES):
        tmin, tmax, data = plinth.textgrid2data(path, False, "auto")
        for column, value in zip(files, (i, tmin, tmax)):
            files[column].append(value)
        # Listed backwards with tier_id giving the order; data2textgrid leaves out empty tiers.
        listed = [
            (i, t, name, kind, tmin, tmax) for t, (name, kind, items) in enumerate(data) if items
        ]
        for row in reversed(listed):
            for column, value in zip(tiers, row):
                tiers[column].append(value)
        plinth.data2textgrid(data, tmin, tmax, str(tmp_path / f"{i}.expected"), layout)
    out = [tmp_path / f"{i}.TextGrid" for i in range(len(SAMPLES))]
    given = {"files": pa.table(files), "tiers": pa.table(tiers) if with_tiers else None}
    if with_tiers == "the read's own":
        given = {"files": table.files, "tiers": table.tiers}
    assert plinth.table2textgrids(table, out, layout, **given, fill_gaps=False) == {}
    for i in range(len(SAMPLES)):
        assert filecmp.cmp(tmp_path / f"{i}.expected", out[i], shallow=False), SAMPLES[i]


def test_fill_gaps_without_bounds_spans_the_file(tmp_path):
    assert written(tmp_path, items_table(ROWS)) == (
        {},
        [
            (
                0.5,
                2.0,
                [
                    ("words", True, [(0.5, 1.0, "a"), (1.0, 1.5, ""), (1.5, 2.0, "b")]),
                    ("beats", False, [(0.7, 0.7, "p")]),
                ],
            ),
            (0.0, 1.0, [("words", True, [(0.0, 1.0, ROWS[1][5])])]),
        ],
    )


def test_tiers_and_files_give_order_bounds_and_empty_tiers(tmp_path):
    tiers = pa.table(
        {
            "file_id": [0, 0, 0],
            "tier_id": [2, 0, 1],
            "name": ["words", "empty", "beats"],
            "is_interval": [True, True, False],
            "tmin": [0.25, None, 0.0],
            "tmax": [2.5, None, 3.0],
        }
    )
    files = pa.table({"file_id": [0], "tmin": [0.0], "tmax": [3.0]})
    failed, grids = written(tmp_path, items_table(ROWS[:1] + ROWS[2:]), 1, tiers=tiers, files=files)
    assert failed == {}
    assert grids[0] == (
        0.0,
        3.0,
        [
            ("empty", True, [(0.0, 3.0, "")]),
            ("beats", False, [(0.7, 0.7, "p")]),
            (
                "words",
                True,
                [(0.25, 0.5, ""), (0.5, 1.0, "a"), (1.0, 1.5, ""), (1.5, 2.0, "b"), (2.0, 2.5, "")],
            ),
        ],
    )


STRING_TYPES = [
    pa.string(),
    pa.large_string(),
    pa.string_view(),
    pa.dictionary(pa.int8(), pa.string()),
]


@pytest.mark.parametrize("text_type", STRING_TYPES, ids=str)
@pytest.mark.parametrize("id_type", [pa.uint8(), pa.int16(), pa.uint32(), pa.uint64()], ids=str)
def test_string_and_integer_types_and_batches_write_the_same_files(tmp_path, text_type, id_type):
    (tmp_path / "plain").mkdir()
    (tmp_path / "typed").mkdir()
    _, expected = written(tmp_path / "plain", items_table(ROWS))
    typed = items_table(ROWS, file_id=id_type, tier=text_type, label=text_type)
    # File 0's rows in two batches, the first of them last and out of order.
    batches = typed.slice(1).to_batches() + typed.slice(0, 1).to_batches()
    reader = pa.RecordBatchReader.from_batches(typed.schema, batches)
    assert written(tmp_path / "typed", reader) == ({}, expected)


def test_polars_round_trip_read_by_praat(tmp_path):
    pl = pytest.importorskip("polars")
    parselmouth = pytest.importorskip("parselmouth")
    from parselmouth.praat import call

    source = [p for p in SAMPLES if "utf8_long" in p or "quotes_long" in p]
    columns = ["file_id", "tier", "is_interval", "tmin", "tmax", "label"]
    frame = pl.from_arrow(pa.table(plinth.textgrids2table(source))).select(columns)
    first_tier = frame["tier"].cast(pl.String)[0]
    changed = (
        frame.with_columns(pl.col("tier").cast(pl.String), (pl.col("label") + "!").alias("label"))
        .filter(pl.col("tier") != first_tier)
        .vstack(
            pl.DataFrame(
                {
                    "file_id": [0, 1],
                    "tier": ["added"] * 2,
                    "is_interval": [True] * 2,
                    "tmin": [0.1] * 2,
                    "tmax": [0.2] * 2,
                    "label": ["new"] * 2,
                },
                schema=frame.with_columns(pl.col("tier").cast(pl.String)).schema,
            )
        )
    )
    out = [str(tmp_path / f"{i}.TextGrid") for i in range(2)]
    assert plinth.table2textgrids(changed, out) == {}
    for i, path in enumerate(source):
        _, _, tiers = plinth.textgrid2data(path, False, "auto")
        kept = [t for t in tiers if t[0] != first_tier and t[2]]
        grid = parselmouth.read(out[i])
        names = [
            call(grid, "Get tier name", n) for n in range(1, call(grid, "Get number of tiers") + 1)
        ]
        assert names == [t[0] for t in kept] + ["added"]
        for number, (_, is_interval, items) in enumerate(kept, 1):
            if not is_interval:
                assert [
                    call(grid, "Get label of point", number, k) for k in range(1, len(items) + 1)
                ] == [label + "!" for _, _, label in items]
        added = len(names)
        assert call(grid, "Get number of intervals", added) == 3
        assert call(grid, "Get label of interval", added, 2) == "new"
        call(grid, "Insert boundary", added, 0.05)  # Praat refuses a gap's time
        assert call(grid, "Get number of intervals", added) == 4


def test_files_that_fail_are_listed_and_the_others_written(tmp_path):
    rows = ROWS[:3] + [(1, "words", True, 0.5, 1.5, "overlaps x")]
    paths = [tmp_path / "missing" / "0.TextGrid", tmp_path / "1.TextGrid", tmp_path / "2.TextGrid"]
    rows.append((2, "words", True, 0.0, 1.0, "fine"))
    failed = plinth.table2textgrids(items_table(rows), paths, fill_gaps=False)
    assert failed == {
        0: f"Failed to write TextGrid file {paths[0]} because: No such file or directory (os error 2)",
        1: f"Failed to create TextGrid file {paths[1]} because: "
        + plinth_message(
            lambda: plinth.vectors2textgrid(
                [0.0, 0.5],
                [1.0, 1.5],
                ["x", "o"],
                ["words"] * 2,
                [True] * 2,
                None,
                None,
                str(tmp_path / "v"),
                "long",
            )
        ),
    }
    assert paths[2].exists()


def plinth_message(call):
    with pytest.raises(OSError) as raised:
        call()
    return str(raised.value).removeprefix("Failed to create TextGrid because: ")


def replaced(table, name, values, type=None):
    return table.set_column(table.schema.get_field_index(name), name, pa.array(values, type=type))


ITEMS = items_table(ROWS)


@pytest.mark.parametrize(
    "items, options, message",
    [
        (ITEMS.drop(["label"]), {}, "items has no column 'label'"),
        (
            replaced(ITEMS, "tmin", [0, 1, 2, 3]),
            {},
            "items column 'tmin' must hold float64 or float32 numbers, not Arrow type 'l'",
        ),
        (
            replaced(ITEMS, "file_id", [0.0] * 4),
            {},
            "items column 'file_id' must hold integers, not Arrow type 'g'",
        ),
        (
            replaced(ITEMS, "label", [1, 2, 3, 4]),
            {},
            "items column 'label' must hold strings, not Arrow type 'l'",
        ),
        (
            replaced(ITEMS, "is_interval", [1, 1, 1, 0]),
            {},
            "items column 'is_interval' must hold booleans, not Arrow type 'l'",
        ),
        (
            replaced(ITEMS, "label", ["a", None, "b", "c"]),
            {},
            "items column 'label' holds a null (row 1)",
        ),
        (
            replaced(ITEMS, "file_id", [0, 1, 2, 0]),
            {},
            "items column 'file_id' holds 2 (row 2), which is not a position in paths (2 paths)",
        ),
        (
            replaced(ITEMS, "file_id", [0, -1, 0, 0]),
            {},
            "items column 'file_id' holds -1 (row 1), which is not a position in paths (2 paths)",
        ),
        (
            ITEMS,
            {"files": pa.table({"file_id": [1, 1], "tmin": [0.0, 0.0], "tmax": [1.0, 1.0]})},
            "files column 'file_id' holds 1 twice",
        ),
        (ITEMS, {"tiers": pa.table({"file_id": [0]})}, "tiers has no column 'tier_id'"),
        (
            ITEMS,
            {"files": pa.table({"file_id": [5], "tmin": [0.0], "tmax": [1.0]})},
            "files column 'file_id' holds 5 (row 0), which is not a position in paths (2 paths)",
        ),
    ],
)
def test_tables_that_do_not_fit_are_refused_before_any_write(tmp_path, items, options, message):
    paths = [tmp_path / "0.TextGrid", tmp_path / "1.TextGrid"]
    with pytest.raises(ValueError) as raised:
        plinth.table2textgrids(items, paths, **options)
    assert str(raised.value) == message
    assert list(tmp_path.iterdir()) == []


def test_a_tier_kind_that_contradicts_tiers_fails_its_file(tmp_path):
    tiers = pa.table(
        {
            "file_id": [0],
            "tier_id": [0],
            "name": ["beats"],
            "is_interval": [True],
            "tmin": [0.0],
            "tmax": [2.0],
        }
    )
    failed, _ = written(tmp_path, ITEMS, tiers=tiers)
    assert failed == {
        0: f"Failed to create TextGrid file {tmp_path / '0.TextGrid'} because: "
        "items row 3 puts a point in tier beats, which tiers gives as an interval tier"
    }


@pytest.mark.parametrize(
    "call, error, message",
    [
        (
            lambda p: plinth.table2textgrids([1], p),
            TypeError,
            "argument 'items': expected an object with __arrow_c_stream__ (an Arrow table or stream), not 'list'",
        ),
        (
            lambda p: plinth.table2textgrids(ITEMS, p, "binary"),
            ValueError,
            "file_type must be 'long' or 'short', not 'binary'",
        ),
        (
            lambda p: plinth.table2textgrids(ITEMS, p, "long", ITEMS),
            TypeError,
            "table2textgrids() takes from 2 to 3 positional arguments but 4 were given",
        ),
    ],
)
def test_arguments_that_do_not_convert(tmp_path, call, error, message):
    with pytest.raises(error) as raised:
        call([tmp_path / "0.TextGrid", tmp_path / "1.TextGrid"])
    assert str(raised.value) == message


def test_duckdb_relation_as_items(tmp_path):
    duckdb = pytest.importorskip("duckdb")
    assert written(tmp_path, duckdb.from_arrow(ITEMS)) == written(tmp_path, ITEMS)


def test_a_producer_that_fails_midway_writes_nothing(tmp_path):
    def batches():
        yield from ITEMS.to_batches()
        raise RuntimeError("producer broke")

    reader = pa.RecordBatchReader.from_batches(ITEMS.schema, batches())
    with pytest.raises(ValueError, match="^items could not be read: .*producer broke"):
        plinth.table2textgrids(reader, [tmp_path / "0.TextGrid", tmp_path / "1.TextGrid"])
    assert list(tmp_path.iterdir()) == []


def test_tier_id_tells_tiers_of_one_name_apart(tmp_path):
    items = items_table([(0, "a", True, 0.0, 1.0, "first"), (0, "a", True, 0.0, 1.0, "second")])
    items = items.append_column("tier_id", pa.array([1, 0], pa.uint32()))
    tiers = pa.table(
        {
            "file_id": [0, 0],
            "tier_id": [0, 1],
            "name": ["a", "a"],
            "is_interval": [True, True],
            "tmin": [0.0, 0.0],
            "tmax": [1.0, 1.0],
        }
    )
    failed, grids = written(tmp_path, items, 1, tiers=tiers)
    assert (failed, grids[0][2]) == (
        {},
        [("a", True, [(0.0, 1.0, "second")]), ("a", True, [(0.0, 1.0, "first")])],
    )
