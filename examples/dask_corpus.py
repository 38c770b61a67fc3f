"""A corpus past one machine: a folder tree of TextGrids as a Dask DataFrame.

    python examples/dask_corpus.py FOLDER [--scheduler ADDRESS] [--workers N]
                                          [--files-per-partition K] [--output FILE]

Lists every *.TextGrid below FOLDER, cuts the sorted paths into partitions and
has each partition read on a worker of a `distributed` cluster by
plinth.textgrids2table: the worker's plinth threads read the files into Arrow
buffers and pyarrow hands them to pandas, so no Python object is made per row
before pandas. The result is the mean duration of every label in every tier,
with the number of items behind it. Without --scheduler a LocalCluster of N
worker processes runs on this machine; with it, the cluster at ADDRESS does
(every worker needs plinth and the folder under the same path). --output
also writes the result as a pandas pickle.
"""

from __future__ import annotations

import argparse
import pathlib

import dask.dataframe as dd
import pandas as pd
import pyarrow as pa
import pyarrow.compute as pc

import plinth


def find_textgrids(folder: str) -> list[str]:
    """Every *.TextGrid below `folder`, sorted, as str (plinth takes str paths)."""
    return sorted(str(path) for path in pathlib.Path(folder).rglob("*.TextGrid"))


def read_partition(paths: list[str]) -> pd.DataFrame:
    """The rows of `paths`, one per interval or point, with the file's path and
    the item's duration. Runs on a worker; files that fail give no rows."""
    table = pa.table(plinth.textgrids2table(paths, False, "auto"))
    files = pc.take(pa.array(paths, pa.string()), table["file_id"])
    # Each record batch has its own tier dictionary: plain strings keep the
    # partitions' dtypes equal for Dask.
    table = table.set_column(
        table.schema.get_field_index("tier"), "tier", pc.cast(table["tier"], pa.string())
    )
    table = table.append_column("file", files)
    table = table.append_column("duration", pc.subtract(table["tmax"], table["tmin"]))
    return table.drop_columns(["file_id"]).to_pandas()


def corpus_frame(paths: list[str], files_per_partition: int) -> dd.DataFrame:
    """A lazy Dask DataFrame of the corpus, one partition per group of paths."""
    groups = [paths[i : i + files_per_partition] for i in range(0, len(paths), files_per_partition)]
    return dd.from_map(read_partition, groups, meta=read_partition([]))


def mean_durations(rows: pd.DataFrame | dd.DataFrame) -> pd.DataFrame:
    """Mean duration and item count per (tier, label), sorted by tier and label."""
    grouped = rows.groupby(["tier", "label"])["duration"].agg(["mean", "count"])
    if isinstance(grouped, dd.DataFrame):
        grouped = grouped.compute()
    return grouped.sort_index()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--scheduler", help="address of a running distributed scheduler")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes")
    parser.add_argument("--files-per-partition", type=int, default=500)
    parser.add_argument("--output", help="also write the result to this file (pandas pickle)")
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
        result = mean_durations(corpus_frame(paths, args.files_per_partition))
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    if args.output:
        result.to_pickle(args.output)
    with pd.option_context("display.max_rows", 40, "display.width", 120):
        print(f"{len(paths)} files on {workers} workers")
        print(result)


if __name__ == "__main__":
    main()
