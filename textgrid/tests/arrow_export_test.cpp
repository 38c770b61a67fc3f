#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "arrow/arrow_export.hpp"

namespace textgrid {
namespace {

Tier tier_of(std::string name, bool is_interval, std::vector<Item> items) {
  Tier tier;
  tier.name = std::move(name);
  tier.is_interval = is_interval;
  tier.items = std::move(items);
  tier.size = tier.items.size();
  return tier;
}

std::shared_ptr<const ArrowTable> two_row_table(bool large_labels) {
  TextGrid grid;
  grid.tiers.push_back(tier_of("words", true, {{0.0, 1.0, "ab"}}));
  grid.tiers.push_back(tier_of("tones", false, {{0.5, 0.5, "H"}}));
  TableLimits limits;
  if (large_labels) limits.utf8_bytes = 1;
  auto table = std::make_shared<ArrowTable>(table_from_textgrid(grid, limits));
  return table;
}

// A table of two batches with file ids, the second with other tier names.
std::shared_ptr<const ArrowTable> two_batch_table() {
  auto table = std::make_shared<ArrowTable>();
  table->has_file_ids = true;
  TextGrid first;
  first.tiers.push_back(tier_of("a", true, {{0.0, 1.0, "x"}, {1.0, 2.0, "y"}}));
  TextGrid second;
  second.tiers.push_back(tier_of("b", false, {{3.0, 3.0, "z"}}));
  for (const TextGrid* grid : {&first, &second}) {
    table->batches.push_back(std::move(table_from_textgrid(*grid).batches[0]));
  }
  return table;
}

std::string text_at(const ArrowArray& strings, std::int64_t i, bool large) {
  const auto* data = static_cast<const char*>(strings.buffers[2]);
  std::int64_t begin = 0, end = 0;
  if (large) {
    begin = static_cast<const std::int64_t*>(strings.buffers[1])[i];
    end = static_cast<const std::int64_t*>(strings.buffers[1])[i + 1];
  } else {
    begin = static_cast<const std::int32_t*>(strings.buffers[1])[i];
    end = static_cast<const std::int32_t*>(strings.buffers[1])[i + 1];
  }
  return std::string(data + begin, static_cast<std::size_t>(end - begin));
}

TEST(arrow_export, schema_of_a_batch_table) {
  ArrowSchema schema{};
  export_schema(*two_batch_table(), &schema);
  EXPECT_STREQ(schema.format, "+s");
  EXPECT_STREQ(schema.name, "");
  ASSERT_EQ(schema.n_children, 8);
  const std::vector<std::pair<std::string, std::string>> want{
      {"file_id", "I"},     {"path", "i"}, {"tier_id", "I"}, {"tier", "i"},
      {"is_interval", "b"}, {"tmin", "g"}, {"tmax", "g"},    {"label", "u"}};
  for (std::size_t i = 0; i < want.size(); ++i) {
    const ArrowSchema& child = *schema.children[i];
    EXPECT_EQ(child.name, want[i].first);
    EXPECT_EQ(child.format, want[i].second);
    EXPECT_EQ(child.flags, 0) << "no column is nullable";
    EXPECT_EQ(child.n_children, 0);
    EXPECT_EQ(child.metadata, nullptr);
    ASSERT_NE(child.release, nullptr);
    if (want[i].first == "tier" || want[i].first == "path") {
      ASSERT_NE(child.dictionary, nullptr);
      EXPECT_STREQ(child.dictionary->format, "u");
      EXPECT_EQ(child.dictionary->flags, 0);
    } else {
      EXPECT_EQ(child.dictionary, nullptr);
    }
  }
  schema.release(&schema);
  EXPECT_EQ(schema.release, nullptr);
}

TEST(arrow_export, schema_of_one_file_with_large_labels) {
  ArrowSchema schema{};
  export_schema(*two_row_table(true), &schema);
  ASSERT_EQ(schema.n_children, 6);
  EXPECT_STREQ(schema.children[0]->name, "tier_id");
  EXPECT_STREQ(schema.children[1]->name, "tier");
  EXPECT_STREQ(schema.children[5]->format, "U");
  // A consumer may move a child out and release the parent first.
  ArrowSchema moved = *schema.children[2];
  schema.children[2]->release = nullptr;
  schema.release(&schema);
  EXPECT_STREQ(moved.name, "is_interval");
  moved.release(&moved);
}

TEST(arrow_export, stream_gives_every_batch_then_ends) {
  std::shared_ptr<const ArrowTable> table = two_batch_table();
  const ArrowTable* raw = table.get();
  ArrowArrayStream stream{};
  export_stream(std::move(table), &stream);

  ArrowSchema schema{};
  ASSERT_EQ(stream.get_schema(&stream, &schema), 0);
  EXPECT_EQ(schema.n_children, 8);
  schema.release(&schema);

  std::vector<ArrowArray> batches(2);
  for (ArrowArray& batch : batches) ASSERT_EQ(stream.get_next(&stream, &batch), 0);
  ArrowArray end{};
  end.release = reinterpret_cast<void (*)(ArrowArray*)>(1);
  ASSERT_EQ(stream.get_next(&stream, &end), 0);
  EXPECT_EQ(end.release, nullptr) << "a released array marks the end";
  EXPECT_EQ(stream.get_last_error(&stream), nullptr);
  stream.release(&stream);
  EXPECT_EQ(stream.release, nullptr);

  // The arrays outlive the stream, and the buffers are the table's own.
  const ArrowArray& first = batches[0];
  EXPECT_EQ(first.length, 2);
  EXPECT_EQ(first.n_buffers, 1);
  EXPECT_EQ(first.buffers[0], nullptr);
  EXPECT_EQ(first.null_count, 0);
  ASSERT_EQ(first.n_children, 8);
  const ArrowArray& tmins = *first.children[5];
  EXPECT_EQ(tmins.n_buffers, 2);
  EXPECT_EQ(tmins.buffers[1], raw->batches[0].tmins.data());
  EXPECT_EQ(static_cast<const double*>(tmins.buffers[1])[1], 1.0);
  EXPECT_EQ(static_cast<const std::uint32_t*>(first.children[0]->buffers[1])[1], 0u);
  const ArrowArray& labels = *first.children[7];
  EXPECT_EQ(labels.n_buffers, 3);
  EXPECT_EQ(text_at(labels, 1, false), "y");
  const ArrowArray& second_tier = *batches[1].children[3];
  ASSERT_NE(second_tier.dictionary, nullptr);
  EXPECT_EQ(second_tier.dictionary->length, 1);
  EXPECT_EQ(text_at(*second_tier.dictionary, 0, false), "b");
  EXPECT_EQ(static_cast<const std::uint8_t*>(batches[1].children[4]->buffers[1])[0] & 1, 0);

  // A moved child stays valid after its parent is released.
  ArrowArray tier = *batches[0].children[3];
  batches[0].children[3]->release = nullptr;
  for (ArrowArray& batch : batches) batch.release(&batch);
  EXPECT_EQ(text_at(*tier.dictionary, 0, false), "a");
  EXPECT_EQ(static_cast<const std::int32_t*>(tier.buffers[1])[1], 0);
  tier.release(&tier);
}

// A requested schema made of literals: names and formats per field, and
// the format of a dictionary's values ("" for none).
struct Requested {
  std::vector<ArrowSchema> children;
  std::vector<ArrowSchema> dictionaries;
  std::vector<ArrowSchema*> pointers;
  ArrowSchema root{};

  Requested(const char* root_format,
            const std::vector<std::tuple<const char*, const char*, const char*>>& fields)
      : children(fields.size()), dictionaries(fields.size()) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      children[i].name = std::get<0>(fields[i]);
      children[i].format = std::get<1>(fields[i]);
      if (*std::get<2>(fields[i]) != '\0') {
        dictionaries[i].format = std::get<2>(fields[i]);
        children[i].dictionary = &dictionaries[i];
      }
      pointers.push_back(&children[i]);
    }
    root.format = root_format;
    root.n_children = static_cast<std::int64_t>(fields.size());
    root.children = pointers.data();
  }
};

std::string check(const ArrowTable& table, const Requested& requested) {
  const Status status = check_requested_schema(table, requested.root);
  return status ? std::string("ok") : status.error().message;
}

TEST(arrow_export, requested_schemas_of_the_same_fields_fit) {
  const std::shared_ptr<const ArrowTable> table = two_row_table(false);
  const std::string prefix = "requested_schema does not fit the table: ";
  using F = std::vector<std::tuple<const char*, const char*, const char*>>;
  const F own{{"tier_id", "I", ""}, {"tier", "i", "u"}, {"is_interval", "b", ""},
              {"tmin", "g", ""},    {"tmax", "g", ""},  {"label", "u", ""}};
  EXPECT_EQ(check(*table, Requested("+s", own)), "ok");
  // Other string forms are accepted; the table is given in its own.
  EXPECT_EQ(check(*table, Requested("+s", {{"tier_id", "I", ""},
                                           {"tier", "vu", ""},
                                           {"is_interval", "b", ""},
                                           {"tmin", "g", ""},
                                           {"tmax", "g", ""},
                                           {"label", "U", ""}})),
            "ok");
  EXPECT_EQ(check(*table, Requested("+s", {{"tier_id", "I", ""},
                                           {"tier", "l", "U"},
                                           {"is_interval", "b", ""},
                                           {"tmin", "g", ""},
                                           {"tmax", "g", ""},
                                           {"label", "i", "u"}})),
            "ok");
  EXPECT_EQ(check(*table, Requested("i", own)), prefix + "it is 'i', not a struct ('+s')");
  EXPECT_EQ(check(*table, Requested("+s", F(own.begin(), own.end() - 1))),
            prefix + "it has 5 fields, the table 6");
  EXPECT_EQ(check(*table, Requested("+s", {{"tier_id", "I", ""},
                                           {"tier", "i", "u"},
                                           {"is_interval", "b", ""},
                                           {"tmax", "g", ""},
                                           {"tmin", "g", ""},
                                           {"label", "u", ""}})),
            prefix + "field 3 is 'tmax', not 'tmin'");
  EXPECT_EQ(check(*table, Requested("+s", {{"tier_id", "I", ""},
                                           {"tier", "i", "u"},
                                           {"is_interval", "b", ""},
                                           {"tmin", "f", ""},
                                           {"tmax", "g", ""},
                                           {"label", "u", ""}})),
            prefix + "field 'tmin' cannot be given as 'f'");
  EXPECT_EQ(check(*table, Requested("+s", {{"tier_id", "I", ""},
                                           {"tier", "i", "g"},
                                           {"is_interval", "b", ""},
                                           {"tmin", "g", ""},
                                           {"tmax", "g", ""},
                                           {"label", "u", ""}})),
            prefix + "field 'tier' cannot be given as 'i' (dictionary)");
  EXPECT_EQ(check(*two_batch_table(), Requested("+s", own)),
            prefix + "it has 6 fields, the table 8");
  // Malformed structures are refused, never followed.
  Requested no_children("+s", own);
  no_children.root.children = nullptr;
  EXPECT_EQ(check(*table, no_children), prefix + "it has 6 fields but no children");
  Requested no_format("+s", own);
  no_format.root.format = nullptr;
  EXPECT_EQ(check(*table, no_format), prefix + "it is (none), not a struct ('+s')");
}

}  // namespace
}  // namespace textgrid
