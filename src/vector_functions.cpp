// textgrid2vectors, textgrids2vectors, vectors2textgrid: TextGrid contents as
// parallel columns, numbers and flags as NumPy arrays over the core's buffers.
#include <cstdint>
#include <iterator>
#include <optional>
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

// (tmins, tmaxs, labels, tier_names, is_intervals[, file_ids]); the arrays
// are made in this order, then the lists, then the tuple.
PyObject* build_columns(textgrid::TextGridVectors& vectors,
                        std::vector<std::uint32_t>* file_ids) {
  Ref tmins(make_array(std::move(vectors.tmins)));
  if (!tmins) return nullptr;
  Ref tmaxs(make_array(std::move(vectors.tmaxs)));
  if (!tmaxs) return nullptr;
  Ref flags(make_array(std::move(vectors.is_intervals)));
  if (!flags) return nullptr;
  Ref ids;
  if (file_ids != nullptr) {
    ids.reset(make_array(std::move(*file_ids)));
    if (!ids) return nullptr;
  }
  Ref labels(new_text_list(vectors.labels));
  if (!labels) return nullptr;
  Ref tier_names(new_shared_text_list(vectors.tier_of, vectors.tier_names));
  if (!tier_names) return nullptr;
  if (file_ids == nullptr) {
    return new_tuple(std::move(tmins), std::move(tmaxs), std::move(labels),
                     std::move(tier_names), std::move(flags));
  }
  return new_tuple(std::move(tmins), std::move(tmaxs), std::move(labels), std::move(tier_names),
                   std::move(flags), std::move(ids));
}

template <class T>
void append_moved(std::vector<T>& to, std::vector<T>& from) {
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
  std::vector<T>().swap(from);
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
    textgrid::TextGridVectors vectors;
    {
      auto grid = textgrid::read_from_file(file, strict, file_type, python_should_stop);
      if (!grid) return raise_read_error(file, grid.error());
      vectors = grid->to_vectors();
    }
    return build_columns(vectors, nullptr);
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
    std::vector<textgrid::TextGridVectors> results =
        textgrid::files_to_vectors(files, strict, file_type, python_should_stop);
    if (PyErr_Occurred()) return nullptr;  // a signal handler raised while a file waited

    // Sized once for all entries, so appending never reallocates.
    std::size_t total = 0;
    std::size_t names = 0;
    for (const auto& one : results) {
      total += one.tier_of.size();
      names += one.tier_names.size();
    }
    textgrid::TextGridVectors all;
    std::vector<std::uint32_t> file_ids;
    file_ids.reserve(total);
    all.tmins.reserve(total);
    all.tmaxs.reserve(total);
    all.labels.reserve(total);
    all.tier_of.reserve(total);
    all.tier_names.reserve(names);
    all.is_intervals.reserve(total);
    for (std::size_t i = 0; i < results.size(); ++i) {
      textgrid::TextGridVectors& one = results[i];
      file_ids.insert(file_ids.end(), one.tier_of.size(), static_cast<std::uint32_t>(i));
      all.tmins.insert(all.tmins.end(), one.tmins.begin(), one.tmins.end());
      all.tmaxs.insert(all.tmaxs.end(), one.tmaxs.begin(), one.tmaxs.end());
      all.is_intervals.insert(all.is_intervals.end(), one.is_intervals.begin(),
                              one.is_intervals.end());
      // A file's names follow those of the files before it.
      const std::size_t first_name = all.tier_names.size();
      for (const std::size_t name : one.tier_of) all.tier_of.push_back(first_name + name);
      append_moved(all.labels, one.labels);
      append_moved(all.tier_names, one.tier_names);
      one = textgrid::TextGridVectors{};
    }
    std::vector<textgrid::TextGridVectors>().swap(results);
    std::vector<std::string>().swap(files);
    return build_columns(all, &file_ids);
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
