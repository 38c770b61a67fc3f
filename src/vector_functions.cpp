// textgrid2vectors, textgrids2vectors, vectors2textgrid: TextGrid contents as
// parallel columns, numbers and flags as NumPy arrays over the core's buffers.
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "lib.hpp"
#include "numpy_arrays.hpp"
#include "objects.hpp"
#include "text_cache.hpp"

namespace plinth {

namespace {

Parameters<3> textgrid2vectors_parameters{{"file", "strict", "file_type"}};
Parameters<3> textgrids2vectors_parameters{{"files", "strict", "file_type"}};
Parameters<9> vectors2textgrid_parameters{{"tmins", "tmaxs", "labels", "tier_names",
                                           "is_intervals", "tmin", "tmax", "output_file",
                                           "file_type"}};

const Signature textgrid2vectors_signature =
    textgrid2vectors_parameters.signature("textgrid2vectors");
const Signature textgrids2vectors_signature =
    textgrids2vectors_parameters.signature("textgrids2vectors");
const Signature vectors2textgrid_signature =
    vectors2textgrid_parameters.signature("vectors2textgrid");

bool to_texts(PyObject* value, std::vector<std::string>& out) {
  return to_list(value, out, to_text);
}

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

// (tmins, tmaxs, labels, tier_names, is_intervals[, file_ids]) straight from
// the models (or the reader's views of them: the same fields); file_ids gives
// each entry's position in `grids`. The arrays are made in this order, then
// the lists, then the tuple. Each label goes from the text read to its str
// without another copy; the entries of one tier share one str for its name.
// The caller pauses the collector.
template <class Grid>
PyObject* build_columns(std::span<const Grid> grids, bool with_file_ids) {
  std::size_t total = 0;
  for (const Grid& grid : grids)
    for (const auto& tier : grid.tiers) total += tier.items.size();
  std::vector<double> tmin_column(total), tmax_column(total);
  std::vector<textgrid::Flag> flag_column(total);
  std::vector<std::uint32_t> id_column(with_file_ids ? total : 0);
  std::size_t at = 0;
  for (std::size_t file = 0; file < grids.size(); ++file) {
    for (const auto& tier : grids[file].tiers) {
      const textgrid::Flag flag = tier.is_interval ? 1 : 0;
      for (const auto& item : tier.items) {
        tmin_column[at] = item.tmin;
        tmax_column[at] = item.tmax;
        flag_column[at] = flag;
        if (with_file_ids) id_column[at] = static_cast<std::uint32_t>(file);
        ++at;
      }
    }
  }
  Ref tmins(make_array(std::move(tmin_column)));
  if (!tmins) return nullptr;
  Ref tmaxs(make_array(std::move(tmax_column)));
  if (!tmaxs) return nullptr;
  Ref flags(make_array(std::move(flag_column)));
  if (!flags) return nullptr;
  Ref ids;
  if (with_file_ids) {
    ids.reset(make_array(std::move(id_column)));
    if (!ids) return nullptr;
  }
  Ref labels(PyList_New(static_cast<Py_ssize_t>(total)));
  if (!labels) return nullptr;
  TextCacheLease texts;
  Py_ssize_t entry = 0;
  for (const Grid& grid : grids) {
    for (const auto& tier : grid.tiers) {
      for (const auto& item : tier.items) {
        PyObject* label = texts.cache().get(item.text);
        if (label == nullptr) return nullptr;
        PyList_SET_ITEM(labels.get(), entry++, label);  // steals
      }
    }
  }
  Ref tier_names(PyList_New(static_cast<Py_ssize_t>(total)));
  if (!tier_names) return nullptr;
  entry = 0;
  for (const Grid& grid : grids) {
    for (const auto& tier : grid.tiers) {
      if (tier.items.empty()) continue;
      Ref name(texts.cache().get(tier.name));
      if (!name) return nullptr;
      for (std::size_t i = 0; i < tier.items.size(); ++i)
        PyList_SET_ITEM(tier_names.get(), entry++, Py_NewRef(name.get()));  // steals
    }
  }
  if (!with_file_ids) {
    return new_tuple(std::move(tmins), std::move(tmaxs), std::move(labels),
                     std::move(tier_names), std::move(flags));
  }
  return new_tuple(std::move(tmins), std::move(tmaxs), std::move(labels), std::move(tier_names),
                   std::move(flags), std::move(ids));
}

}  // namespace

bool intern_vector_signatures() {
  return intern_names(textgrid2vectors_signature) && intern_names(textgrids2vectors_signature) &&
         intern_names(vectors2textgrid_signature);
}

PyObject* textgrid2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = textgrid2vectors_signature;
    std::string file, file_type;
    bool strict = false;
    if (!read_arguments(signature, args, nargs, kwnames, file, to_text, strict,
                        file_type)) {
      return nullptr;
    }
    const auto grid = textgrid::read_view_from_file(file, strict, file_type, python_should_stop);
    if (!grid) return raise_read_error(file, grid.error());
    const GcPause pause;
    return build_columns(std::span<const textgrid::TextGridView>(&*grid, 1), false);
  });
}

PyObject* textgrids2vectors(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = textgrids2vectors_signature;
    std::vector<std::string> files;
    std::string file_type;
    bool strict = false;
    if (!read_arguments(signature, args, nargs, kwnames, files, to_texts, strict,
                        file_type)) {
      return nullptr;
    }
    const std::vector<textgrid::TextGridView> results =
        textgrid::read_textgrid_views(files, strict, file_type, python_should_stop);
    if (PyErr_Occurred()) return nullptr;  // a signal handler raised while a file waited
    std::vector<std::string>().swap(files);
    const GcPause pause;
    return build_columns(std::span<const textgrid::TextGridView>(results), true);
  });
}

PyObject* vectors2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = vectors2textgrid_signature;
    PyObject* bound[9];
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
        !convert_argument(signature, bound, 7, output_file, to_text) ||
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
