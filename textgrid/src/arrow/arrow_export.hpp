// Hands an ArrowTable to any Arrow consumer through the C data interface and
// the C stream interface. Every exported structure keeps the table alive
// through a shared owner, so buffers live until the last consumer releases
// what it took, whatever happens to the exporter; every child and dictionary
// has a release callback of its own, so a consumer may move it out.
#pragma once

#include <memory>

#include "arrow/arrow_abi.hpp"
#include "arrow/arrow_table.hpp"
#include "arrow/side_tables.hpp"
#include "base/error.hpp"

namespace textgrid {

// Fills `out` with the schema of the table's `part`. The items: a struct of
// the columns file_id (uint32) and path (dictionary of int32 codes over
// utf8), both in batch tables only, tier_id (uint32), tier (dictionary of
// int32 codes over utf8), is_interval (bool), tmin and tmax (float64), label
// (utf8, or large_utf8), none nullable. The files and tiers: the fields of
// side_fields. Allocates; throws std::bad_alloc. Any thread.
void export_schema(const ArrowTable& table, ArrowSchema* out, TablePart part = TablePart::Items);

// Fills `out` with a stream of the batches of the table's `part`, in order
// (the files and tiers tables are one batch each), one struct array per batch; arrays borrow the
// buffers (no copy). Allocates; throws std::bad_alloc. The stream's callbacks never throw: a
// failure (only memory) is ENOMEM with a message. Any thread.
void export_stream(std::shared_ptr<const ArrowTable> table, ArrowArrayStream* out,
                   TablePart part = TablePart::Items);

// Checks a schema that a consumer asks for: it must be a struct with the
// table's field names in the table's order, numbers and flags of the table's
// formats, and texts in any Arrow string form (utf8, large_utf8, string view,
// or a dictionary of one of them). The table is then given in its own schema,
// which such a consumer can take; anything else fails with a message naming
// the first difference (kind InvalidInput). Reads `requested` only.
Status check_requested_schema(const ArrowTable& table, const ArrowSchema& requested,
                              TablePart part = TablePart::Items);

}  // namespace textgrid
