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
    "Tables are made by plinth only, never by calling the type.";

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

}  // namespace plinth::docs
