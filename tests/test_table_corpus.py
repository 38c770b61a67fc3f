"""A corpus as users read it: a few hundred files in speaker/session folders,
written by the other TextGrid writers at hand, some cut short and some empty,
read into polars and DuckDB through the path column and the files and tiers
tables; every figure checked against the files read one by one."""

from __future__ import annotations

import pathlib

import plinth
import pytest
from conftest import write_textgrid

pa = pytest.importorskip("pyarrow")
pl = pytest.importorskip("polars")
duckdb = pytest.importorskip("duckdb")


def _grid(i: int) -> tuple[float, list]:
    """File i: words of varying count, an empty tier on every fourth, tones."""
    tmax = 1.0 + i % 5
    count = 1 + i % 4
    step = tmax / count
    words = [(k * step, (k + 1) * step, f"w{i}.{k}") for k in range(count)]
    tiers = [("words", True, words)]
    if i % 4 == 0:
        tiers.append(("empty", True, []))
    tiers.append(("tones", False, [(step / 2, step / 2, "H")]))
    return tmax, tiers


def _by_plinth(path: str, tmax: float, tiers: list, layout: str) -> None:
    plinth.data2textgrid(tiers, 0.0, tmax, path, layout)


def _by_hand(path: str, tmax: float, tiers: list, layout: str) -> None:
    write_textgrid(pathlib.Path(path), (0.0, tmax, tiers), layout)  # empty tiers as "size = 0"


def _by_praatio(path: str, tmax: float, tiers: list, layout: str) -> None:
    from praatio import textgrid

    grid = textgrid.Textgrid()
    for name, is_interval, items in tiers:
        if is_interval:
            grid.addTier(textgrid.IntervalTier(name, items, 0.0, tmax))
        else:
            grid.addTier(textgrid.PointTier(name, [(a, t) for a, _, t in items], 0.0, tmax))
    grid.save(path, f"{layout}_textgrid", includeBlankSpaces=False)


def _by_tgt(path: str, tmax: float, tiers: list, layout: str) -> None:
    import tgt

    grid = tgt.core.TextGrid()
    for name, is_interval, items in tiers:
        if is_interval:
            tier = tgt.core.IntervalTier(0.0, tmax, name)
            tier.add_annotations([tgt.core.Interval(a, b, t) for a, b, t in items])
        else:
            tier = tgt.core.PointTier(0.0, tmax, name)
            tier.add_annotations([tgt.core.Point(a, t) for a, _, t in items])
        grid.add_tier(tier)
    tgt.io.write_to_file(grid, path, format=layout)


def _by_praat(path: str, tmax: float, tiers: list, layout: str) -> None:
    from parselmouth.praat import call

    grid = call("Create TextGrid", 0.0, tmax, " ".join(n for n, _, _ in tiers), "tones")
    for number, (_, is_interval, items) in enumerate(tiers, 1):
        for a, b, text in items:
            if not is_interval:
                call(grid, "Insert point", number, a, text)
                continue
            if a > 0:
                call(grid, "Insert boundary", number, a)
            call(
                grid,
                "Set interval text",
                number,
                call(grid, "Get interval at time", number, a),
                text,
            )
    call(grid, "Save as text file" if layout == "long" else "Save as short text file", path)


def _writers() -> list:
    writers = [_by_plinth, _by_hand]
    for module, writer in (("praatio", _by_praatio), ("tgt", _by_tgt), ("parselmouth", _by_praat)):
        try:
            __import__(module)
        except ImportError:
            continue
        writers.append(writer)
    return writers


@pytest.fixture(scope="module")
def corpus(tmp_path_factory) -> list[str]:
    root = tmp_path_factory.mktemp("corpus")
    writers = _writers()
    paths = []
    for i in range(240):
        folder = root / f"spk{i % 6}" / f"session{i % 4}"
        folder.mkdir(parents=True, exist_ok=True)
        path = str(folder / f"{i}.TextGrid")
        tmax, tiers = _grid(i)
        writers[i % len(writers)](path, tmax, tiers, ("long", "short")[i // 7 % 2])
        if i % 17 == 5:  # cut short
            data = pathlib.Path(path).read_bytes()
            pathlib.Path(path).write_bytes(data[: len(data) * (i % 3 + 1) // 4])
        elif i % 23 == 7:
            pathlib.Path(path).write_bytes(b"")
        paths.append(path)
    return paths


def _one_by_one(paths: list[str]) -> dict[str, object]:
    """Each file read alone, leniently: its data or its error, and whether a
    strict read takes it."""
    answers = {}
    for path in paths:
        try:
            data = plinth.textgrid2data(path, False, "auto")
        except OSError as error:
            answers[path] = str(error)
            continue
        try:
            plinth.textgrid2data(path, True, "auto")
            strict = True
        except OSError:
            strict = False
        answers[path] = (data, strict)
    return answers


def test_a_corpus_in_polars_and_duckdb_through_path_files_and_tiers(corpus):
    table = plinth.textgrids2table(corpus, False, "auto")
    answers = _one_by_one(corpus)
    read = {p: a for p, a in answers.items() if isinstance(a, tuple)}
    assert len(pa.table(table).to_batches()) > 1  # each batch with paths of its own

    items = pl.DataFrame(table).with_columns(pl.col("path").cast(pl.String))
    files = pl.DataFrame(table.files)
    tiers = pl.DataFrame(table.tiers)

    # Items per path, and per tier position, as each file holds them.
    want_items = {
        (p, t, name, a, b, text)
        for p, (data, _) in read.items()
        for t, (name, _, rows) in enumerate(data[2])
        for a, b, text in rows
    }
    got_items = set(items.select("path", "tier_id", "tier", "tmin", "tmax", "label").iter_rows())
    assert got_items == want_items and len(items) == len(want_items)
    assert items.join(files, on="file_id").filter(pl.col("path") != pl.col("path_right")).is_empty()

    # One row per file: bounds and tier counts of those read, errors of the others.
    assert files["path"].to_list() == corpus and files["file_id"].to_list() == list(range(240))
    for path, tmin, tmax, count, error in files.select(
        "path", "tmin", "tmax", "tier_count", "error"
    ).iter_rows():
        answer = answers[path]
        if isinstance(answer, str):
            assert (tmin, tmax, count, error) == (None, None, 0, answer)
        else:
            assert (tmin, tmax, count, error) == (
                answer[0][0],
                answer[0][1],
                len(answer[0][2]),
                None,
            )
    assert dict(zip(files["file_id"], files["error"])) == {
        i: table.failed.get(i) for i in range(240)
    }

    # One row per tier, those without items included.
    want_tiers = [
        (p, t, name, is_interval, len(rows))
        for p, (data, _) in read.items()
        for t, (name, is_interval, rows) in enumerate(data[2])
    ]
    got_tiers = (
        tiers.join(files.select("file_id", "path"), on="file_id")
        .select("path", "tier_id", "name", "is_interval", "size")
        .rows()
    )
    assert got_tiers == want_tiers
    assert 0 in tiers.filter(pl.col("name") == "empty")["size"]  # tiers without items

    # DuckDB: seconds of words per speaker, split out of the path.
    got = dict(
        duckdb.sql(
            "select split_part(path, '/', -3) as speaker, sum(tmax - tmin) from items"
            " where tier = 'words' group by speaker"
        )
        .pl()
        .iter_rows()
    )
    want: dict[str, float] = {}
    for path, (data, _) in read.items():
        for name, _, rows in data[2]:
            if name == "words":
                speaker = pathlib.Path(path).parts[-3]
                want[speaker] = want.get(speaker, 0.0) + sum(b - a for a, b, _ in rows)
    assert got == pytest.approx(want)
    # DuckDB reads the files table as it is, nulls included.
    rel = duckdb.from_arrow(table.files).filter("error is null").aggregate("count(*)")
    assert rel.fetchall() == [(len(read),)]


def test_damaged_files_are_found_through_failed_and_lenient_note(corpus):
    table = plinth.textgrids2table(corpus, False, "auto")
    answers = _one_by_one(corpus)
    files = pl.DataFrame(table.files)
    failed = {corpus[i] for i in table.failed}
    assert failed == {p for p, a in answers.items() if isinstance(a, str)}
    assert {p for p in corpus if pathlib.Path(p).stat().st_size == 0} <= failed
    # A note exactly where a strict read refuses what a lenient one took.
    noted = dict(
        files.filter(pl.col("lenient_note").is_not_null()).select("path", "lenient_note").rows()
    )
    assert set(noted) == {p for p, a in answers.items() if isinstance(a, tuple) and not a[1]}
    assert noted and all(" tier" in note for note in noted.values())
    cut = [p for i, p in enumerate(corpus) if i % 17 == 5 and p in noted]
    assert any("before the end of the file" in noted[p] for p in cut)
    # A strict read fails on every one of them, and has no notes.
    strict = plinth.textgrids2table(corpus, True, "auto")
    assert {corpus[i] for i in strict.failed} == failed | set(noted)
    assert pl.DataFrame(strict.files)["lenient_note"].null_count() == 240
