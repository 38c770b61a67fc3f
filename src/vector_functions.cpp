// textgrid2vectors, textgrids2vectors, vectors2textgrid: TextGrid contents as
// parallel columns, numbers and flags as NumPy arrays over the core's buffers.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "model/converter.hpp"
#include "numpy_arrays.hpp"
#include "objects.hpp"
#include "read/read.hpp"
#include "reading.hpp"
#include "text_cache.hpp"

namespace plinth {

namespace {

// The tier of each entry: a str each, stored as an index into the names. An
// entry that holds the same object as an earlier one that stored its name, or
// the same text as the entry before it, reuses that name instead of copying it
// again, so one long name shared by many entries is held once.
bool to_tier_names(PyObject* value, textgrid::TextGridVectors& out) {
  Ref sequence(as_sequence(value));
  if (!sequence) return false;
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
  out.tier_of.clear();
  out.tier_names.clear();
  out.tier_of.reserve(static_cast<std::size_t>(count));
  // Borrowed keys: the sequence holds every element while this runs, and
  // nothing here runs Python code that could change it.
  std::unordered_map<PyObject*, std::size_t> name_of_object;
  PyObject* previous = nullptr;
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(sequence.get(), i);  // borrowed
    std::size_t name = 0;
    if (item == previous) {
      name = out.tier_of.back();
    } else if (const auto known = name_of_object.find(item); known != name_of_object.end()) {
      name = known->second;
    } else {
      std::string_view text;
      if (!to_text_view(item, text)) return false;
      if (!out.tier_of.empty() && text == out.tier_names[out.tier_of.back()]) {
        name = out.tier_of.back();
      } else {
        name = out.tier_names.size();
        out.tier_names.emplace_back(text);
        name_of_object.emplace(item, name);
      }
    }
    out.tier_of.push_back(name);
    previous = item;
  }
  return true;
}

bool to_numbers(PyObject* value, std::vector<double>& out) {
  return numbers_from_buffer(value, out) || to_list(value, out, to_number);
}

bool to_stored_flag(PyObject* value, textgrid::Flag& out) {
  bool flag = false;
  if (!to_flag(value, flag)) return false;
  out = flag ? 1 : 0;
  return true;
}

bool to_flags(PyObject* value, std::vector<textgrid::Flag>& out) {
  return flags_from_buffer(value, out) || to_list(value, out, to_stored_flag);
}

// (tmins, tmaxs, labels, tier_names, is_intervals[, file_ids]) gathered file
// by file straight from the models (or the reader's views of them: the same
// fields); file_ids gives each entry's file. Each label goes from the text
// read to its str without another copy; the entries of one tier share one str
// for its name. The strs are held here until finish() puts them in their
// lists, so that no list is ever seen half filled.
class Columns {
 public:
  explicit Columns(bool with_file_ids) : with_file_ids_(with_file_ids) {}
  Columns(const Columns&) = delete;
  Columns& operator=(const Columns&) = delete;
  ~Columns() {
    for (PyObject* label : labels_) Py_DECREF(label);
    for (PyObject* name : names_) Py_DECREF(name);
  }

  // Appends the entries of `grid`, file number `file`, with `files_left`
  // more files to come; false with an exception set.
  template <class Grid>
  bool add(const Grid& grid, std::size_t file, std::size_t files_left) {
    std::size_t entries = 0;
    for (const auto& tier : grid.tiers) entries += tier.items.size();
    if (entries == 0) return true;
    reserve(entries, file, files_left);
    // From here on nothing throws: every push_back has its room.
    TextCacheLease texts;  // the file's text stays put while it is in use
    for (const auto& tier : grid.tiers) {
      if (tier.items.empty()) continue;
      PyObject* name = texts.cache().get(tier.name);
      if (name == nullptr) return false;
      const textgrid::Flag flag = tier.is_interval ? 1 : 0;
      for (const auto& item : tier.items) {
        PyObject* label = texts.cache().get(item.text);
        if (label == nullptr) {
          Py_DECREF(name);
          return false;
        }
        labels_.push_back(label);
        names_.push_back(Py_NewRef(name));
        tmins_.push_back(item.tmin);
        tmaxs_.push_back(item.tmax);
        flags_.push_back(flag);
        if (with_file_ids_) ids_.push_back(static_cast<std::uint32_t>(file));
      }
      Py_DECREF(name);
    }
    return true;
  }

  // The tuple of the columns (the arrays made first, then the lists), or null.
  PyObject* finish() {
    fit(tmins_);
    fit(tmaxs_);
    fit(flags_);
    fit(ids_);
    Ref tmins(make_array(std::move(tmins_)));
    if (!tmins) return nullptr;
    Ref tmaxs(make_array(std::move(tmaxs_)));
    if (!tmaxs) return nullptr;
    Ref flags(make_array(std::move(flags_)));
    if (!flags) return nullptr;
    Ref ids;
    if (with_file_ids_) {
      ids.reset(make_array(std::move(ids_)));
      if (!ids) return nullptr;
    }
    Ref labels(into_list(labels_));
    if (!labels) return nullptr;
    Ref tier_names(into_list(names_));
    if (!tier_names) return nullptr;
    if (!with_file_ids_) {
      return new_tuple(std::move(tmins), std::move(tmaxs), std::move(labels), std::move(tier_names),
                       std::move(flags));
    }
    return new_tuple(std::move(tmins), std::move(tmaxs), std::move(labels), std::move(tier_names),
                     std::move(flags), std::move(ids));
  }

 private:
  // Room for `more` entries. The columns grow to a guess from the files so
  // far, so that those of a corpus of like files are allocated about once
  // instead of doubling (and their arrays keep no spare half).
  void reserve(std::size_t more, std::size_t files_done, std::size_t files_left) {
    const std::size_t size = labels_.size();
    const std::size_t needed = size + more;
    if (needed <= labels_.capacity()) return;
    const std::size_t guess = needed + needed / (files_done + 1) * files_left;
    const std::size_t capacity = std::max(guess, size + size / 2);
    labels_.reserve(capacity);
    names_.reserve(capacity);
    tmins_.reserve(capacity);
    tmaxs_.reserve(capacity);
    flags_.reserve(capacity);
    if (with_file_ids_) ids_.reserve(capacity);
  }

  // A column whose guess overshot is copied to its size before its array
  // owns it.
  template <class T>
  static void fit(std::vector<T>& column) {
    if (column.capacity() > column.size() + column.size() / 8) column.shrink_to_fit();
  }

  // A new list that takes over the references in `items`, or null.
  static PyObject* into_list(std::vector<PyObject*>& items) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
      PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), items[i]);  // steals
    }
    items.clear();
    return list;
  }

  const bool with_file_ids_;
  std::vector<double> tmins_, tmaxs_;
  std::vector<textgrid::Flag> flags_;
  std::vector<std::uint32_t> ids_;
  std::vector<PyObject*> labels_, names_;  // strong references
};

}  // namespace

PyObject* textgrid2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = signatures::textgrid2vectors;
    std::string file, file_type;
    bool strict = false;
    if (!read_arguments(signature, args, nargs, kwnames, file, to_path, strict, file_type)) {
      return nullptr;
    }
    const auto options = file_options(file, strict, file_type);
    if (!options) return nullptr;
    const auto grid = textgrid::read_file(file, *options);
    if (!grid) return raise_read_error(file, grid.error());
    Columns columns(false);
    if (!columns.add(*grid, 0, 0)) return nullptr;
    return columns.finish();
  });
}

PyObject* textgrids2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = signatures::textgrids2vectors;
    std::vector<std::string> files;
    std::string file_type;
    bool strict = false;
    if (!read_arguments(signature, args, nargs, kwnames, files, to_paths, strict, file_type)) {
      return nullptr;
    }
    const auto options = batch_options(strict, file_type);
    if (!options) return nullptr;
    Columns columns(true);
    const std::size_t count = files.size();
    const bool built =
        build_in_order(files, *options, [&](std::size_t i, const textgrid::TextGridView& view) {
          return columns.add(view, i, count - i - 1);
        });
    if (!built) return nullptr;
    return columns.finish();
  });
}

PyObject* vectors2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = signatures::vectors2textgrid;
    PyObject* bound[kMostParameters];
    if (!bind_arguments(signature, args, nargs, kwnames, bound)) return nullptr;
    textgrid::TextGridVectors columns;
    std::optional<double> tmin, tmax;
    std::string output_file, file_type;
    if (!convert_argument(signature, bound, 0, columns.tmins, to_numbers) ||
        !convert_argument(signature, bound, 1, columns.tmaxs, to_numbers) ||
        !convert_argument(signature, bound, 2, columns.labels, to_texts) ||
        !convert_argument(signature, bound, 3, columns, to_tier_names) ||
        !convert_argument(signature, bound, 4, columns.is_intervals, to_flags) ||
        !convert_argument(signature, bound, 5, tmin, to_optional_number) ||
        !convert_argument(signature, bound, 6, tmax, to_optional_number) ||
        !convert_argument(signature, bound, 7, output_file, to_path) ||
        !convert_argument(signature, bound, 8, file_type, to_text)) {
      return nullptr;
    }
    auto grid = textgrid::from_vectors(std::move(columns), tmin, tmax, std::string("TextGrid"));
    if (!grid) return raise_create_error(grid.error());
    const auto saved = grid->save_textgrid(output_file, file_type == "long", python_should_stop);
    if (!saved) return raise_write_error(output_file, saved.error());
    Py_RETURN_NONE;
  });
}

}  // namespace plinth
