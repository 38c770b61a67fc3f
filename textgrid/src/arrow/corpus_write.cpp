#include "arrow/corpus_write.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>

#include "arrow/arrow_import.hpp"
#include "model/converter.hpp"
#include "model/time_folds.hpp"
#include "parallel/ordered_stream.hpp"
#include "read/batch.hpp"

namespace textgrid {

namespace {

// Items' columns in this order; tier_id (last) may be missing.
enum Items : std::size_t {
  kItemFile,
  kItemTier,
  kItemKind,
  kItemStart,
  kItemEnd,
  kItemLabel,
  kItemTierId
};
constexpr ColumnSpec kItemColumns[] = {
    {"file_id", ColumnType::Integer},
    {"tier", ColumnType::Text},
    {"is_interval", ColumnType::Boolean},
    {"tmin", ColumnType::Number},
    {"tmax", ColumnType::Number},
    {"label", ColumnType::Text},
    // Where the read table gives it, the tier's position: tiers of one name told apart.
    {"tier_id", ColumnType::Integer, true, true},
};
static_assert(std::size(kItemColumns) == kItemTierId + 1);
enum Tiers : std::size_t { kTierFile, kTierId, kTierName, kTierKind, kTierStart, kTierEnd };
constexpr ColumnSpec kTierColumns[] = {
    {"file_id", ColumnType::Integer},   {"tier_id", ColumnType::Integer},
    {"name", ColumnType::Text},         {"is_interval", ColumnType::Boolean},
    {"tmin", ColumnType::Number, true}, {"tmax", ColumnType::Number, true},
};
static_assert(std::size(kTierColumns) == kTierEnd + 1);
enum Files : std::size_t { kFileId, kFileStart, kFileEnd };
constexpr ColumnSpec kFileColumns[] = {
    {"file_id", ColumnType::Integer},
    {"tmin", ColumnType::Number, true},
    {"tmax", ColumnType::Number, true},
};
static_assert(std::size(kFileColumns) == kFileEnd + 1);

using Table = std::vector<ImportedColumn>;

// The rows of one output file, in each table's order.
struct FilePlan {
  std::size_t file_id = 0;
  std::vector<std::size_t> items;
  std::vector<std::size_t> tiers;
  std::optional<std::size_t> bounds;  // its row of the files table
};

struct Corpus {
  Table items, tiers, files;  // tiers and files empty when not given
  std::vector<FilePlan> plans;
  std::vector<std::unique_ptr<KeptBatches>> kept;  // what the texts view
};

Result<ImportedTable> import_or_empty(ArrowArrayStream* stream, std::string_view table,
                                      std::span<const ColumnSpec> specs) {
  if (stream == nullptr) return ImportedTable{};
  return import_columns(stream, table, specs);
}

// The plan of the file that `column` names in `row`, made on first use.
Result<FilePlan*> plan_of(const ImportedColumn& column, std::size_t row, std::string_view table,
                          std::size_t path_count, std::vector<std::size_t>& slot_of_file,
                          std::vector<FilePlan>& plans) {
  const std::int64_t id = column.integers[row];
  if (id < 0 || static_cast<std::uint64_t>(id) >= path_count) {
    return fail(ErrorKind::InvalidInput, std::string(table) + " column 'file_id' holds " +
                                             std::to_string(id) + " (row " + std::to_string(row) +
                                             "), which is not a position in paths (" +
                                             std::to_string(path_count) + " paths)");
  }
  std::size_t& slot = slot_of_file[static_cast<std::size_t>(id)];
  if (slot == 0) {
    plans.push_back(FilePlan{static_cast<std::size_t>(id), {}, {}, {}});
    slot = plans.size();
  }
  return &plans[slot - 1];
}

// Groups every table's rows by file; plans in file_id order.
Status make_plans(Corpus& corpus, std::size_t path_count) {
  std::vector<std::size_t> slot_of_file(path_count, 0);  // plan index + 1
  std::vector<FilePlan>& plans = corpus.plans;
  const auto each_row = [&](const Table& table, std::string_view name, auto&& add) -> Status {
    if (table.empty()) return {};
    for (std::size_t row = 0; row < table[0].integers.size(); ++row) {
      auto plan = plan_of(table[0], row, name, path_count, slot_of_file, plans);
      if (!plan) return std::unexpected(std::move(plan.error()));
      if (Status added = add(**plan, row); !added) return added;
    }
    return {};
  };
  Status grouped = each_row(corpus.items, "items", [](FilePlan& plan, std::size_t row) -> Status {
    plan.items.push_back(row);
    return {};
  });
  if (grouped) {
    grouped = each_row(corpus.tiers, "tiers", [](FilePlan& plan, std::size_t row) -> Status {
      plan.tiers.push_back(row);
      return {};
    });
  }
  if (grouped) {
    grouped = each_row(corpus.files, "files", [&](FilePlan& plan, std::size_t row) -> Status {
      if (plan.bounds) {
        return fail(ErrorKind::InvalidInput,
                    "files column 'file_id' holds " + std::to_string(plan.file_id) + " twice");
      }
      plan.bounds = row;
      return {};
    });
  }
  if (!grouped) return grouped;
  const auto& tier_ids =
      corpus.tiers.empty() ? std::vector<std::int64_t>{} : corpus.tiers[kTierId].integers;
  for (FilePlan& plan : plans) {
    std::stable_sort(plan.tiers.begin(), plan.tiers.end(),
                     [&](std::size_t a, std::size_t b) { return tier_ids[a] < tier_ids[b]; });
  }
  // A failed read leaves a files row without bounds and nothing else to write.
  std::erase_if(plans, [&](const FilePlan& plan) {
    return plan.items.empty() && plan.tiers.empty() &&
           !(plan.bounds && corpus.files[kFileStart].present[*plan.bounds] != 0);
  });
  std::ranges::sort(plans, {}, &FilePlan::file_id);
  return {};
}

std::optional<double> value_at(const ImportedColumn& column, std::size_t row) {
  if (column.present[row] == 0) return std::nullopt;
  return column.numbers[row];
}

// A tier in the making, with the bounds the tiers table gave it.
struct TierDraft {
  Tier tier;
  std::optional<double> tmin, tmax;
};

// The draft that items row `row` belongs to among the tiers table's: the one
// its tier_id names when that tier has its name (tiers of one name told
// apart), else the first of its name.
std::optional<std::size_t> listed_tier(
    const Table& items, std::size_t row, const std::vector<TierDraft>& drafts,
    const std::vector<std::int64_t>& ids,
    const std::unordered_map<std::string_view, std::size_t>& by_name) {
  const std::string_view name = items[kItemTier].texts[row];
  const ImportedColumn& tier_ids = items[kItemTierId];
  if (!tier_ids.integers.empty() && tier_ids.present[row] != 0) {
    for (std::size_t d = 0; d < ids.size(); ++d) {
      if (ids[d] == tier_ids.integers[row] && drafts[d].tier.name == name) return d;
    }
  }
  const auto found = by_name.find(name);
  if (found == by_name.end()) return std::nullopt;
  return found->second;
}

// The tiers of one file: those of the tiers table, then those that only the
// items name; items appended in row order (labels copied out of the table).
Result<std::vector<TierDraft>> draft_tiers(Corpus& corpus, const FilePlan& plan) {
  std::vector<TierDraft> drafts;
  std::vector<std::int64_t> ids;  // of the listed drafts
  std::unordered_map<std::string_view, std::size_t> by_name;
  const Table& tiers = corpus.tiers;
  for (const std::size_t row : plan.tiers) {
    by_name.try_emplace(tiers[kTierName].texts[row], drafts.size());
    ids.push_back(tiers[kTierId].integers[row]);
    Tier tier{std::string(tiers[kTierName].texts[row]),
              tiers[kTierKind].flags[row] != 0,
              0.0,
              0.0,
              0,
              {}};
    drafts.push_back(TierDraft{std::move(tier), value_at(tiers[kTierStart], row),
                               value_at(tiers[kTierEnd], row)});
  }
  const Table& items = corpus.items;
  for (const std::size_t row : plan.items) {
    const std::string_view name = items[kItemTier].texts[row];
    const bool is_interval = items[kItemKind].flags[row] != 0;
    std::optional<std::size_t> slot = listed_tier(items, row, drafts, ids, by_name);
    if (!slot) {
      slot = drafts.size();
      by_name.emplace(name, *slot);
      drafts.push_back(TierDraft{Tier{std::string(name), is_interval, 0.0, 0.0, 0, {}}, {}, {}});
    }
    Tier& tier = drafts[*slot].tier;
    if (tier.is_interval != is_interval && *slot < ids.size()) {
      return fail(ErrorKind::InvalidData,
                  "items row " + std::to_string(row) + " puts " +
                      (is_interval ? "an interval" : "a point") + " in tier " + std::string(name) +
                      ", which tiers gives as " + (tier.is_interval ? "an interval" : "a point") +
                      " tier");
    }
    tier.items.push_back(Item{items[kItemStart].numbers[row], items[kItemEnd].numbers[row],
                              std::string(items[kItemLabel].texts[row])});
  }
  return drafts;
}

// The file's bounds: from the files table, else (when gaps are filled, so
// that every tier spans the whole file) from every tier's items and bounds.
std::pair<std::optional<double>, std::optional<double>> file_bounds(
    const Corpus& corpus, const FilePlan& plan, const std::vector<TierDraft>& drafts,
    bool fill_gaps) {
  std::optional<double> tmin, tmax;
  if (plan.bounds) {
    tmin = value_at(corpus.files[kFileStart], *plan.bounds);
    tmax = value_at(corpus.files[kFileEnd], *plan.bounds);
  }
  if (!fill_gaps || drafts.empty()) return {tmin, tmax};
  if (!tmin) {
    double acc = detail::kMinFoldStart;
    for (const TierDraft& draft : drafts) {
      acc = std::fmin(draft.tmin.value_or(detail::fold_item_starts(draft.tier.items)), acc);
    }
    tmin = acc;
  }
  if (!tmax) {
    double acc = detail::kMaxFoldStart;
    for (const TierDraft& draft : drafts) {
      acc = std::fmax(draft.tmax.value_or(detail::fold_item_ends(draft.tier.items)), acc);
    }
    tmax = acc;
  }
  return {tmin, tmax};
}

Result<TextGrid> build_file(Corpus& corpus, const FilePlan& plan, bool fill_gaps) {
  auto drafts = draft_tiers(corpus, plan);
  if (!drafts) return std::unexpected(std::move(drafts.error()));
  const auto [tmin, tmax] = file_bounds(corpus, plan, *drafts, fill_gaps);
  std::vector<Tier> tiers;
  tiers.reserve(drafts->size());
  for (TierDraft& draft : *drafts) {
    Tier& tier = tiers.emplace_back(std::move(draft.tier));
    if (Status sorted = sort_by_start(tier.items, tier.name); !sorted) {
      return std::unexpected(std::move(sorted.error()));
    }
    tier.tmin = draft.tmin ? *draft.tmin : tmin ? *tmin : detail::fold_item_starts(tier.items);
    tier.tmax = draft.tmax ? *draft.tmax : tmax ? *tmax : detail::fold_item_ends(tier.items);
    tier.size = tier.items.size();
    if (fill_gaps && tier.is_interval) fill_gaps_of(tier);
  }
  return make_textgrid(std::move(tiers), std::string("TextGrid"), tmin, tmax);
}

}  // namespace

Result<std::vector<CorpusFailure>> write_corpus(const CorpusStreams& streams,
                                                const std::vector<std::string>& paths,
                                                const CorpusOptions& options,
                                                const ShouldStop& should_stop,
                                                const CallerLock& caller_lock) {
  // Every stream is taken over before the first error can end the call.
  auto items = import_or_empty(streams.items, "items", kItemColumns);
  auto tiers = import_or_empty(streams.tiers, "tiers", kTierColumns);
  auto files = import_or_empty(streams.files, "files", kFileColumns);
  if (!items) return std::unexpected(std::move(items.error()));
  if (!tiers) return std::unexpected(std::move(tiers.error()));
  if (!files) return std::unexpected(std::move(files.error()));
  Corpus corpus{
      std::move(items->columns), std::move(tiers->columns), std::move(files->columns), {}, {}};
  for (auto* imported : {&*items, &*tiers, &*files})
    corpus.kept.push_back(std::move(imported->kept));
  if (Status planned = make_plans(corpus, paths.size()); !planned) {
    return std::unexpected(std::move(planned.error()));
  }

  // Each file is built and saved on the pool (produce_in_order), its outcome
  // handed back in file_id order; the caller asks the stop hook, with its
  // lock, while it waits and between files.
  detail::BatchStop stop(should_stop, caller_lock);
  const ShouldStop asked = [&stop] { return stop.reader_asks(); };
  auto produce = [&](std::size_t i) -> std::optional<CorpusFailure> {
    const FilePlan& plan = corpus.plans[i];
    if (stop.stopped()) return CorpusFailure{plan.file_id, true, os_error(EINTR)};
    auto grid = build_file(corpus, plan, options.fill_gaps);
    if (!grid) return CorpusFailure{plan.file_id, false, std::move(grid.error())};
    Status saved = grid->save_textgrid(paths[plan.file_id], options.long_layout,
                                       should_stop ? asked : ShouldStop{});
    if (!saved) return CorpusFailure{plan.file_id, true, std::move(saved.error())};
    return std::nullopt;
  };
  std::vector<CorpusFailure> failures;
  auto collect = [&](std::size_t, std::optional<CorpusFailure>&& outcome) {
    stop.poll_between_files();
    if (outcome) failures.push_back(std::move(*outcome));
    return true;
  };
  std::function<void()> while_waiting;
  if (should_stop) while_waiting = [&stop] { stop.poll(); };
  produce_in_order<std::optional<CorpusFailure>>(corpus.plans.size(), produce, collect, caller_lock,
                                                 stop.cancel, while_waiting);
  return failures;
}

}  // namespace textgrid
