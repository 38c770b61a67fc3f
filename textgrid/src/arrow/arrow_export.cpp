#include "arrow/arrow_export.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace textgrid {

namespace {

// One column of the table's schema.
struct Field {
  const char* name;
  const char* format;  // the codes' format for the dictionary-encoded path and tier
  bool dictionary;
  bool nullable = false;
};

std::vector<Field> fields_of(const ArrowTable& table, TablePart part) {
  std::vector<Field> fields;
  if (part != TablePart::Items) {
    for (const SideField& field : side_fields(part)) {
      fields.push_back({field.name, field.format, false, field.nullable});
    }
    return fields;
  }
  if (table.has_file_ids) {
    fields.push_back({"file_id", "I", false});
    fields.push_back({"path", "i", true});
  }
  fields.push_back({"tier_id", "I", false});
  fields.push_back({"tier", "i", true});
  fields.push_back({"is_interval", "b", false});
  fields.push_back({"tmin", "g", false});
  fields.push_back({"tmax", "g", false});
  fields.push_back({"label", table.large_labels ? "U" : "u", false});
  return fields;
}

// ---- schemas ---------------------------------------------------------------

// What one exported schema node owns. Formats and names are string literals.
struct SchemaNode {
  std::unique_ptr<ArrowSchema[]> children;
  std::unique_ptr<ArrowSchema*[]> child_pointers;
  ArrowSchema dictionary{};
};

void release_schema(ArrowSchema* schema) {
  auto* node = static_cast<SchemaNode*>(schema->private_data);
  for (std::int64_t i = 0; i < schema->n_children; ++i) {
    ArrowSchema* child = schema->children[i];
    if (child->release != nullptr) child->release(child);
  }
  if (schema->dictionary != nullptr && schema->dictionary->release != nullptr) {
    schema->dictionary->release(schema->dictionary);
  }
  delete node;
  schema->release = nullptr;
}

SchemaNode* init_schema(ArrowSchema* out, const char* format, const char* name,
                        std::size_t n_children) {
  auto node = std::make_unique<SchemaNode>();
  if (n_children > 0) {
    node->children = std::make_unique<ArrowSchema[]>(n_children);
    node->child_pointers = std::make_unique<ArrowSchema*[]>(n_children);
    for (std::size_t i = 0; i < n_children; ++i) node->child_pointers[i] = &node->children[i];
  }
  *out = ArrowSchema{};
  out->format = format;
  out->name = name;
  out->metadata = nullptr;
  out->flags = 0;  // nullable fields are marked by the caller
  out->n_children = static_cast<std::int64_t>(n_children);
  out->children = node->child_pointers.get();
  out->dictionary = nullptr;
  out->release = release_schema;
  out->private_data = node.get();
  return node.release();
}

// ---- arrays ----------------------------------------------------------------

// What one exported array node owns: a share of the table (the buffers), the
// buffer pointers, the children and the dictionary.
struct ArrayNode {
  std::shared_ptr<const void> owner;
  const void* buffers[3] = {};
  std::unique_ptr<ArrowArray[]> children;
  std::unique_ptr<ArrowArray*[]> child_pointers;
  ArrowArray dictionary{};
};

void release_array(ArrowArray* array) {
  auto* node = static_cast<ArrayNode*>(array->private_data);
  for (std::int64_t i = 0; i < array->n_children; ++i) {
    ArrowArray* child = array->children[i];
    if (child->release != nullptr) child->release(child);
  }
  if (array->dictionary != nullptr && array->dictionary->release != nullptr) {
    array->dictionary->release(array->dictionary);
  }
  delete node;
  array->release = nullptr;
}

// `buffers` after the validity one, which is absent (no nulls) unless
// `validity` holds a bitmap.
ArrayNode* init_array(ArrowArray* out, const std::shared_ptr<const void>& owner,
                      std::int64_t length, std::initializer_list<const ArrowBuffer*> buffers,
                      std::size_t n_children, const SideColumn* validity = nullptr) {
  auto node = std::make_unique<ArrayNode>();
  node->owner = owner;
  const bool nulls = validity != nullptr && validity->null_count > 0;
  if (nulls) node->buffers[0] = validity->validity.data();
  std::size_t count = 1;
  for (const ArrowBuffer* buffer : buffers) node->buffers[count++] = buffer->data();
  if (n_children > 0) {
    node->children = std::make_unique<ArrowArray[]>(n_children);
    node->child_pointers = std::make_unique<ArrowArray*[]>(n_children);
    for (std::size_t i = 0; i < n_children; ++i) node->child_pointers[i] = &node->children[i];
  }
  *out = ArrowArray{};
  out->length = length;
  out->null_count = nulls ? validity->null_count : 0;
  out->offset = 0;
  out->n_buffers = static_cast<std::int64_t>(count);
  out->n_children = static_cast<std::int64_t>(n_children);
  out->buffers = node->buffers;
  out->children = node->child_pointers.get();
  out->dictionary = nullptr;
  out->release = release_array;
  out->private_data = node.get();
  return node.release();
}

// Releases a partly built export when building it fails.
template <class T>
struct ReleaseOnFailure {
  T* exported;
  ~ReleaseOnFailure() {
    if (exported != nullptr && exported->release != nullptr) exported->release(exported);
  }
};

// A dictionary-encoded string column: codes, and the batch's own values.
void init_dictionary_array(ArrowArray* out, const std::shared_ptr<const void>& owner,
                           std::int64_t rows, const ArrowBuffer& codes, std::int64_t count,
                           const ArrowBuffer& offsets, const ArrowBuffer& data) {
  ArrayNode* node = init_array(out, owner, rows, {&codes}, 0);
  init_array(&node->dictionary, owner, count, {&offsets, &data}, 0);
  out->dictionary = &node->dictionary;
}

void export_batch(const std::shared_ptr<const ArrowTable>& table, std::size_t index,
                  ArrowArray* out) {
  const TableBatch& batch = table->batches[index];
  const std::vector<Field> fields = fields_of(*table, TablePart::Items);
  ArrayNode* node = init_array(out, table, batch.rows, {}, fields.size());
  ReleaseOnFailure<ArrowArray> guard{out};
  std::size_t column = 0;
  ArrowArray* children = node->children.get();
  if (table->has_file_ids) {
    init_array(&children[column++], table, batch.rows, {&batch.file_ids}, 0);
    init_dictionary_array(&children[column++], table, batch.rows, batch.path_codes,
                          batch.path_count, batch.path_offsets, batch.path_data);
  }
  init_array(&children[column++], table, batch.rows, {&batch.tier_ids}, 0);
  init_dictionary_array(&children[column++], table, batch.rows, batch.tier_codes, batch.tier_count,
                        batch.tier_offsets, batch.tier_data);
  init_array(&children[column++], table, batch.rows, {&batch.is_interval}, 0);
  init_array(&children[column++], table, batch.rows, {&batch.tmins}, 0);
  init_array(&children[column++], table, batch.rows, {&batch.tmaxs}, 0);
  init_array(&children[column++], table, batch.rows, {&batch.label_offsets, &batch.label_data}, 0);
  guard.exported = nullptr;
}

// The one batch of a side table.
void export_side(const std::shared_ptr<const ArrowTable>& table, TablePart part, ArrowArray* out) {
  const SideTable& side = part == TablePart::Files ? table->files : table->tiers;
  ArrayNode* node = init_array(out, table, side.rows, {}, side.columns.size());
  ReleaseOnFailure<ArrowArray> guard{out};
  const std::span<const SideField> fields = side_fields(part);
  for (std::size_t i = 0; i < side.columns.size(); ++i) {
    const SideColumn& column = side.columns[i];
    if (std::string_view(fields[i].format) == "u") {
      init_array(&node->children[i], table, side.rows, {&column.values, &column.data}, 0, &column);
    } else {
      init_array(&node->children[i], table, side.rows, {&column.values}, 0, &column);
    }
  }
  guard.exported = nullptr;
}

// ---- the stream ------------------------------------------------------------

struct StreamState {
  std::shared_ptr<const ArrowTable> table;
  TablePart part = TablePart::Items;
  std::size_t next = 0;
  std::string last_error;
};

// Runs `body`; a failure to allocate becomes ENOMEM and the stream's error.
template <class Body>
int run_callback(ArrowArrayStream* stream, Body&& body) noexcept {
  auto* state = static_cast<StreamState*>(stream->private_data);
  try {
    body(*state);
    state->last_error.clear();
    return 0;
  } catch (...) {
    try {
      state->last_error = "plinth could not allocate memory for an exported Arrow structure";
    } catch (...) {
      state->last_error.clear();
    }
    return ENOMEM;
  }
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  return run_callback(stream,
                      [out](StreamState& state) { export_schema(*state.table, out, state.part); });
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  return run_callback(stream, [out](StreamState& state) {
    const std::size_t batches = state.part == TablePart::Items ? state.table->batches.size() : 1;
    if (state.next == batches) {
      out->release = nullptr;  // the end of the stream
      return;
    }
    if (state.part == TablePart::Items) {
      export_batch(state.table, state.next, out);
    } else {
      export_side(state.table, state.part, out);
    }
    ++state.next;
  });
}

const char* stream_get_last_error(ArrowArrayStream* stream) {
  const auto* state = static_cast<const StreamState*>(stream->private_data);
  return state->last_error.empty() ? nullptr : state->last_error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
  delete static_cast<StreamState*>(stream->private_data);
  stream->release = nullptr;
}

// ---- requested schemas -----------------------------------------------------

bool is_string_format(std::string_view format) {
  return format == "u" || format == "U" || format == "vu";
}

// Messages are built by appending only: GCC 12 misreads `literal + std::string`
// at -O3 (-Wrestrict).
std::string quoted(const char* text) {
  if (text == nullptr) return "(none)";
  return std::string("'").append(text).append("'");
}

}  // namespace

void export_schema(const ArrowTable& table, ArrowSchema* out, TablePart part) {
  const std::vector<Field> fields = fields_of(table, part);
  SchemaNode* node = init_schema(out, "+s", "", fields.size());
  ReleaseOnFailure<ArrowSchema> guard{out};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    ArrowSchema* child = &node->children[i];
    SchemaNode* child_node = init_schema(child, fields[i].format, fields[i].name, 0);
    if (fields[i].nullable) child->flags = ARROW_FLAG_NULLABLE;
    if (fields[i].dictionary) {
      init_schema(&child_node->dictionary, "u", "", 0);
      child->dictionary = &child_node->dictionary;
    }
  }
  guard.exported = nullptr;
}

void export_stream(std::shared_ptr<const ArrowTable> table, ArrowArrayStream* out, TablePart part) {
  auto state = std::make_unique<StreamState>();
  state->table = std::move(table);
  state->part = part;
  *out = ArrowArrayStream{};
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_get_last_error;
  out->release = stream_release;
  out->private_data = state.release();
}

Status check_requested_schema(const ArrowTable& table, const ArrowSchema& requested,
                              TablePart part) {
  const auto refuse = [](const std::string& why) {
    return fail(ErrorKind::InvalidInput,
                std::string("requested_schema does not fit the table: ").append(why));
  };
  if (requested.format == nullptr || std::string_view(requested.format) != "+s") {
    return refuse(
        std::string("it is ").append(quoted(requested.format)).append(", not a struct ('+s')"));
  }
  // A consumer's structure is not to be trusted: its children are read only
  // where it holds as many as it says.
  if (requested.n_children > 0 && requested.children == nullptr) {
    return refuse(std::string("it has ")
                      .append(std::to_string(requested.n_children))
                      .append(" fields but no children"));
  }
  const std::vector<Field> fields = fields_of(table, part);
  if (requested.n_children != static_cast<std::int64_t>(fields.size())) {
    return refuse(std::string("it has ")
                      .append(std::to_string(requested.n_children))
                      .append(" fields, the table ")
                      .append(std::to_string(fields.size())));
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const ArrowSchema* child = requested.children[i];
    const Field& field = fields[i];
    if (child == nullptr || child->name == nullptr || std::string_view(child->name) != field.name) {
      return refuse(std::string("field ")
                        .append(std::to_string(i))
                        .append(" is ")
                        .append(quoted(child == nullptr ? nullptr : child->name))
                        .append(", not '")
                        .append(field.name)
                        .append("'"));
    }
    const std::string_view format = child->format == nullptr ? "" : child->format;
    const bool texts = field.dictionary || std::string_view(field.format) == "u" ||
                       std::string_view(field.name) == "label";
    bool fits = false;
    if (texts) {
      const ArrowSchema* values = child->dictionary;
      fits = values == nullptr ? is_string_format(format)
                               : values->format != nullptr && is_string_format(values->format);
    } else {
      fits = child->dictionary == nullptr && format == field.format;
    }
    if (!fits) {
      return refuse(std::string("field '")
                        .append(field.name)
                        .append("' cannot be given as ")
                        .append(quoted(child->format))
                        .append(child->dictionary != nullptr ? " (dictionary)" : ""));
    }
  }
  return {};
}

}  // namespace textgrid
