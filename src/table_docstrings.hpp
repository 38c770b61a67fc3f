// The docstrings of the two table functions and of plinth.Table, in the form
// of the six functions' (text signature, "--", empty line, Markdown body).
#pragma once

namespace plinth::docs {

inline constexpr const char textgrid2table[] =
    "textgrid2table(file, strict, file_type)\n"
    "--\n"
    "\n"
    "Read one TextGrid file into an Arrow table, one row per interval or point.\n"
    "\n"
    "The rows come tier by tier in file order and item by item within a tier, as in\n"
    "`textgrid2vectors`, but no Python object is made per row: the columns are Arrow\n"
    "buffers that pyarrow, polars, pandas (through pyarrow) and DuckDB take without\n"
    "a copy, for example `polars.DataFrame(table)` or `pyarrow.table(table)`.\n"
    "\n"
    "## Arguments\n"
    "\n"
    "- `file` (str): path of the TextGrid file.\n"
    "- `strict` (bool): if True, the finished TextGrid must pass the validation\n"
    "  rules (sizes, time bounds, ordered and non-overlapping intervals); if False,\n"
    "  the file is read leniently.\n"
    "- `file_type` (str): \"long\", \"short\" or \"auto\" (the layout is detected from\n"
    "  the text).\n"
    "\n"
    "## Returns\n"
    "\n"
    "A `plinth.Table` with the columns `tier` (dictionary-encoded utf8: int32 codes\n"
    "and the file's tier names, each stored once), `is_interval` (bool), `tmin` and\n"
    "`tmax` (float64, seconds) and `label` (utf8; large_utf8 when the labels pass\n"
    "2 GiB). No column holds nulls. A file without items gives a table of no rows.\n"
    "\n"
    "## Errors\n"
    "\n"
    "- TypeError or ValueError for arguments that do not bind or convert.\n"
    "- OSError \"Failed to read TextGrid file <file> because: <reason>\" when the file\n"
    "  cannot be read, `file_type` is unknown, or reading or validation fails.";

inline constexpr const char textgrids2table[] =
    "textgrids2table(files, strict, file_type)\n"
    "--\n"
    "\n"
    "Read many TextGrid files into one Arrow table, with file indices.\n"
    "\n"
    "The files are read on plinth's worker threads when there are enough of them;\n"
    "each worker writes the rows of the files it read straight into the buffers of\n"
    "its record batches (a group of consecutive files each), so a corpus reaches\n"
    "pyarrow, polars, pandas or DuckDB without a Python object per row and without\n"
    "joining the batches: consumers take chunked columns. Unlike\n"
    "`textgrids2vectors`, the table tells a file that failed from an empty one.\n"
    "\n"
    "## Arguments\n"
    "\n"
    "- `files` (sequence of str): paths of the TextGrid files (a list, a tuple, ...;\n"
    "  a single str is refused).\n"
    "- `strict` (bool): strict reading, applied to every file.\n"
    "- `file_type` (str): \"long\", \"short\" or \"auto\", applied to every file.\n"
    "\n"
    "## Returns\n"
    "\n"
    "A `plinth.Table` with the columns of `textgrid2table` after a first column\n"
    "`file_id` (uint32, the 0-based position of the row's file in `files`). Each\n"
    "record batch has its own tier dictionary, holding every tier name of its files\n"
    "once. `Table.failed` maps the position of every file that could not be read to\n"
    "the message `textgrid2table` would raise for it; such files give no rows.\n"
    "\n"
    "## Errors\n"
    "\n"
    "- TypeError or ValueError for arguments that do not bind or convert.\n"
    "- No exception for a file that fails: it is listed in `Table.failed`.";

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
    "so multiprocessing and Dask can return it. `str(t)` and `print(t)` show its\n"
    "counts, its schema and its first rows, as IPython and notebooks do.";

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
    "and any Arrow string type (or dictionary of one) for `tier` and `label` is\n"
    "accepted, as a consumer that asks for it can take the table's own; any other\n"
    "raises ValueError naming the first difference.";

inline constexpr const char arrow_c_schema[] =
    "__arrow_c_schema__($self, /)\n"
    "--\n"
    "\n"
    "Export the table's schema as an Arrow C schema (a PyCapsule named\n"
    "\"arrow_schema\").";

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
