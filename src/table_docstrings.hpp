// The docstrings of plinth.Table and its methods, in the form of the
// functions' (text signature, "--", empty line, Markdown body).
#pragma once

namespace plinth::docs {

inline constexpr const char table[] =
    "A table of TextGrid rows in Arrow buffers, made by `textgrid2table` and\n"
    "`textgrids2table`.\n"
    "\n"
    "It implements the Arrow PyCapsule interface, so `pyarrow.table(t)`,\n"
    "`polars.DataFrame(t)` and `duckdb.sql(\"select * from t\")` take its buffers\n"
    "without a copy; pandas gets it through pyarrow (`pyarrow.table(t).to_pandas()`).\n"
    "It can be exported any number of times; the buffers live until the table and\n"
    "every consumer that took them have let go. `len(t)` is the number of rows.\n"
    "Tables are made by plinth only, never by calling the type.\n"
    "\n"
    "A table pickles with its buffers as bytes (no pyarrow needed on either side),\n"
    "so multiprocessing and Dask can return it. `repr(t)` and `print(t)` show its\n"
    "counts, its schema and its first rows, as IPython and notebooks do.\n"
    "\n"
    "A table of items has two tables beside it, of the same type and sharing its\n"
    "buffers: `t.files` (one row per file read) and `t.tiers` (one row per tier).";

inline constexpr const char arrow_c_stream[] =
    "__arrow_c_stream__($self, /, requested_schema=None)\n"
    "--\n"
    "\n"
    "Export the table as an Arrow C stream of record batches (a PyCapsule named\n"
    "\"arrow_array_stream\").\n"
    "\n"
    "`requested_schema`, a PyCapsule named \"arrow_schema\", is checked and then\n"
    "ignored: the stream always has the table's own schema. A schema with the\n"
    "table's field names in the table's order, the table's number and flag types\n"
    "and any Arrow string type (or dictionary of one) for its text columns is\n"
    "accepted, as a consumer that asks for it can take the table's own; any other\n"
    "raises ValueError naming the first difference.";

inline constexpr const char arrow_c_schema[] =
    "__arrow_c_schema__($self, /)\n"
    "--\n"
    "\n"
    "Export the table's schema as an Arrow C schema (a PyCapsule named\n"
    "\"arrow_schema\").";

inline constexpr const char files[] =
    "The files read, one row each, as a plinth.Table of its own: file_id, path,\n"
    "tmin and tmax (null for a file that failed), tier_count, error (the message\n"
    "failed holds, else null) and lenient_note (null when a strict read would have\n"
    "taken the file too, else the first thing it would have refused, with where).";

inline constexpr const char tiers[] =
    "The tiers of the files read, one row each, tiers without items included, as\n"
    "a plinth.Table of its own: file_id, tier_id (the tier's position in its file),\n"
    "name, is_interval, tmin, tmax, size (the items read) and declared_size.";

inline constexpr const char failed[] =
    "The files of `textgrids2table` that could not be read: a new dict from each\n"
    "one's position in `files` to the message `textgrid2table` would raise for it\n"
    "(empty for `textgrid2table`).";

inline constexpr const char reduce[] =
    "__reduce__($self, /)\n"
    "--\n"
    "\n"
    "Return what pickle needs to make the table again: its buffers as one bytes\n"
    "object and a copy of `failed`.";

inline constexpr const char from_pickle[] =
    "_from_pickle($type, data, failed, /)\n"
    "--\n"
    "\n"
    "Make the table that `__reduce__` gave `data` and `failed` for (pickle calls\n"
    "it). Bytes that `__reduce__` did not give raise ValueError.";

inline constexpr const char repr_html[] =
    "_repr_html_($self, /)\n"
    "--\n"
    "\n"
    "Return the table's counts, schema and first rows as HTML, for notebooks.";

inline constexpr const char repr_pretty[] =
    "_repr_pretty_($self, printer, cycle, /)\n"
    "--\n"
    "\n"
    "Give IPython's printer the text of `str(table)`.";

}  // namespace plinth::docs
