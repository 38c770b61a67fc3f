"""A corpus past one machine: a folder tree of TextGrids as a Dask DataFrame.

    python examples/dask_corpus.py FOLDER [--scheduler ADDRESS] [--workers N]
                                          [--files-per-partition K] [--output FILE]
                                          [--parquet DIR] [--partition-by COLUMN]

Lists every *.TextGrid below FOLDER, cuts the sorted paths into partitions and
has each partition read on a worker of a `distributed` cluster by
plinth.textgrids2table: the worker's plinth threads read the files into Arrow
buffers and pyarrow hands them to pandas, so no Python object is made per row
before pandas. Each partition's table travels as it is (a plinth.Table
pickles), and two frames come out of it: the items, each with its file's
path, its folder and its duration, and the files, each with its error or what
a lenient read passed over.

The result is the mean duration of every label in every tier, with the number
of items behind it, and the files that failed or that a strict read would
have refused. --parquet also writes the items as a Parquet dataset, one folder
per value of --partition-by (any column of the items: folder, tier, ...).
Without --scheduler a LocalCluster of N worker processes runs on this machine;
with it, the cluster at ADDRESS does (every worker needs plinth and the folder
under the same path). --output also writes the result as a pandas pickle.
"""

from __future__ import annotations

import argparse
import pathlib

import dask
import dask.dataframe as dd
import pandas as pd
import plinth
import pyarrow as pa
import pyarrow.compute as pc


def find_textgrids(folder: str) -> list[str]:
    """Every *.TextGrid below `folder`, sorted, as str."""
    return sorted(str(path) for path in pathlib.Path(folder).rglob("*.TextGrid"))


def read_table(paths: list[str]) -> plinth.Table:
    """The items of `paths`, with their files and tiers tables. Runs on a worker."""
    return plinth.textgrids2table(paths, False, "auto")


def _folder_of(path: pa.ChunkedArray) -> pa.ChunkedArray:
    """The name of the folder of each row's file ("spk1" for "corpus/spk1/
    a.TextGrid"), worked out once per file: the path column is dictionary-
    encoded, each file's path stored once per record batch."""
    chunks = []
    for chunk in path.chunks:
        folders = pc.replace_substring_regex(
            chunk.dictionary, r"^(?:(?:.*/)?([^/]+)/)?[^/]*$", r"\1"
        )
        chunks.append(pa.DictionaryArray.from_arrays(chunk.indices, folders))
    return pa.chunked_array(chunks, pa.dictionary(pa.int32(), pa.string()))


def items_frame(table: plinth.Table) -> pd.DataFrame:
    """One row per interval or point: path, the name of its folder, tier,
    label, times and duration. Texts as plain strings: each record batch has dictionaries of
    its own, and Dask wants one dtype in every partition."""
    items = pa.table(table)
    folder = _folder_of(items["path"])
    return pa.table(
        {
            "path": pc.cast(items["path"], pa.string()),
            "folder": pc.cast(folder, pa.string()),
            "tier": pc.cast(items["tier"], pa.string()),
            "label": items["label"],
            "tmin": items["tmin"],
            "tmax": items["tmax"],
            "duration": pc.subtract(items["tmax"], items["tmin"]),
        }
    ).to_pandas()


def files_frame(table: plinth.Table) -> pd.DataFrame:
    """One row per file: path, tier count, error and lenient note."""
    columns = ["path", "tier_count", "error", "lenient_note"]
    return pa.table(table.files).select(columns).to_pandas()


def corpus_frames(paths: list[str], files_per_partition: int) -> tuple[dd.DataFrame, dd.DataFrame]:
    """Lazy Dask DataFrames of the items and of the files, one partition per
    group of paths, both made from the one read of each group."""
    groups = [paths[i : i + files_per_partition] for i in range(0, len(paths), files_per_partition)]
    tables = [dask.delayed(read_table)(group) for group in groups]
    empty = read_table([])
    items = dd.from_delayed([dask.delayed(items_frame)(t) for t in tables], meta=items_frame(empty))
    files = dd.from_delayed([dask.delayed(files_frame)(t) for t in tables], meta=files_frame(empty))
    return items, files


def mean_durations(rows: pd.DataFrame | dd.DataFrame) -> pd.DataFrame | dd.DataFrame:
    """Mean duration and item count per (tier, label)."""
    return rows.groupby(["tier", "label"])["duration"].agg(["mean", "count"])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--scheduler", help="address of a running distributed scheduler")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes")
    parser.add_argument("--files-per-partition", type=int, default=500)
    parser.add_argument("--output", help="also write the result to this file (pandas pickle)")
    parser.add_argument("--parquet", help="also write the items to this folder as Parquet")
    parser.add_argument("--partition-by", default="folder", help="the Parquet dataset's column")
    args = parser.parse_args()

    from distributed import Client, LocalCluster

    paths = find_textgrids(args.folder)
    if args.scheduler:
        client, cluster = Client(args.scheduler), None
    else:
        cluster = LocalCluster(
            n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None
        )
        client = Client(cluster)
    try:
        workers = len(client.scheduler_info()["workers"])
        items, files = corpus_frames(paths, args.files_per_partition)
        damaged = files[files["error"].notnull() | files["lenient_note"].notnull()]
        work = [mean_durations(items), damaged]
        if args.parquet:
            work.append(
                items.to_parquet(args.parquet, partition_on=[args.partition_by], compute=False)
            )
        result, damaged, *_ = dask.compute(*work)  # each group read once for all three
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    result = result.sort_index()
    if args.output:
        result.to_pickle(args.output)
    with pd.option_context("display.max_rows", 40, "display.width", 120):
        print(f"{len(paths)} files on {workers} workers")
        print(result)
        print(
            f"{damaged['error'].notna().sum()} failed, "
            f"{damaged['lenient_note'].notna().sum()} read leniently:"
        )
        for path, error, note in damaged[["path", "error", "lenient_note"]].itertuples(index=False):
            print(f"  {path}: {error if isinstance(error, str) else note}")


if __name__ == "__main__":
    main()
