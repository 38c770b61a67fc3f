"""examples/dask_corpus.py on a LocalCluster of two worker processes."""

from __future__ import annotations

import pathlib
import shutil
import subprocess
import sys

import pytest

import plinth
from conftest import DATA_DIR

pytest.importorskip("dask.dataframe")
pytest.importorskip("distributed")
pytest.importorskip("pyarrow")
pd = pytest.importorskip("pandas")

EXAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "dask_corpus.py"


def _tree(root: pathlib.Path) -> list[str]:
    """The bundled samples three times over in a folder tree, with a file that
    cannot be read and one that is not a TextGrid by name."""
    for copy, folder in enumerate(["a", "a/b", "c/d/e"]):
        target = root / folder
        target.mkdir(parents=True)
        for sample in sorted(DATA_DIR.glob("*.TextGrid")):
            shutil.copy(sample, target / f"{copy}_{sample.name}")
    (root / "a" / "broken.TextGrid").write_bytes(b"\xff\xfe\x00")
    whole = (DATA_DIR / "praat_quotes_long.TextGrid").read_bytes()
    (root / "c" / "cut.TextGrid").write_bytes(whole[: len(whole) * 2 // 3])
    (root / "c" / "notes.txt").write_text("not read")
    return sorted(str(path) for path in root.rglob("*.TextGrid"))


def _single_process(paths: list[str]) -> pd.DataFrame:
    tmins, tmaxs, labels, tiers, _, _ = plinth.textgrids2vectors(paths, False, "auto")
    rows = pd.DataFrame({"tier": tiers, "label": labels, "duration": tmaxs - tmins})
    return rows.groupby(["tier", "label"])["duration"].agg(["mean", "count"]).sort_index()


def test_cluster_of_two_processes_gives_the_single_process_answer(tmp_path):
    corpus, output, parquet = tmp_path / "corpus", tmp_path / "result.pkl", tmp_path / "pq"
    paths = _tree(corpus)
    files = 3 * len(list(DATA_DIR.glob("*.TextGrid"))) + 2
    assert len(paths) == files
    # Run as a program, as a user would: its functions go to the workers by value.
    run = subprocess.run(
        [
            sys.executable,
            str(EXAMPLE),
            str(corpus),
            "--workers",
            "2",
            "--files-per-partition",
            "4",
            "--output",
            str(output),
            "--parquet",
            str(parquet),
            "--partition-by",
            "folder",
        ],
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert run.returncode == 0, run.stderr[-3000:]
    assert run.stdout.startswith(f"{files} files on 2 workers\n")
    result = pd.read_pickle(output)
    want = _single_process(paths)
    assert result.index.tolist() == want.index.tolist()
    assert result["count"].tolist() == want["count"].tolist()
    assert result["mean"].tolist() == pytest.approx(want["mean"].tolist(), rel=1e-12, abs=1e-12)
    # The damaged files are told, and the items are on disk, one folder each.
    assert run.stdout.endswith(
        "1 failed, 1 read leniently:\n"
        f"  {corpus}/a/broken.TextGrid: Failed to read TextGrid file {corpus}/a/broken.TextGrid"
        " because: stream did not contain valid UTF-16\n"
        f"  {corpus}/c/cut.TextGrid: declared 2 intervals in tier 'phones', found 1"
        " before the end of the file\n"
    )
    duckdb = pytest.importorskip("duckdb")
    written = duckdb.sql(
        f"select folder, count(*) from read_parquet('{parquet}/*/*.parquet', hive_partitioning = 1)"
        " group by folder order by folder"
    ).fetchall()
    _, _, _, _, _, ids = plinth.textgrids2vectors(paths, False, "auto")
    folders = pd.Series([pathlib.Path(paths[i]).parent.name for i in ids]).value_counts()
    assert written == sorted(folders.items())
