// textgrid2data, textgrids2data, data2textgrid: TextGrid contents as nested
// tuples and lists, (tmin, tmax, [(name, is_interval, [(tmin, tmax, label)])]).
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "model/converter.hpp"
#include "objects.hpp"
#include "read/read.hpp"
#include "reading.hpp"
#include "text_cache.hpp"

namespace plinth {

namespace {

// Whether two times may share one float object: equal, and of the same sign
// (so -0 and 0 stay apart); NaN never shares.
bool same_time(double a, double b) {
  return a == b && std::signbit(a) == std::signbit(b);
}

// The result's containers are built untracked by the collector and tracked
// only once the whole result is complete (track_textgrid): the collections
// that the item tuples' allocations start meanwhile find nothing of it to
// walk, no other thread sees a container half filled, and the collector stays
// on for everyone else. The item tuples stay untracked: two floats and a str
// are never part of a cycle.

// `Tier` is the model's tier or the reader's view of one: the same fields.
// Untracked, its items list too.
template <class Tier>
PyObject* build_tier(const Tier& tier, TextCache& texts) {
  Ref name(texts.get(tier.name));
  if (!name) return nullptr;
  Ref items(PyList_New(static_cast<Py_ssize_t>(tier.items.size())));
  if (!items) return nullptr;
  PyObject_GC_UnTrack(items.get());
  PyObject* previous_end = nullptr;  // borrowed from the previous item tuple
  double previous_value = 0.0;
  for (std::size_t i = 0; i < tier.items.size(); ++i) {
    const auto& data = tier.items[i];
    // Floats are immutable: an interval that starts where the previous one
    // ended, and a point's two times, share one object.
    Ref tmin = previous_end != nullptr && same_time(previous_value, data.tmin)
                   ? Ref::borrow(previous_end)
                   : Ref(PyFloat_FromDouble(data.tmin));
    Ref tmax = tmin && same_time(data.tmax, data.tmin) ? Ref::borrow(tmin.get())
                                                       : Ref(PyFloat_FromDouble(data.tmax));
    Ref label(texts.get(data.text));
    if (!tmin || !tmax || !label) return nullptr;
    PyObject* end = tmax.get();
    PyObject* item = new_tuple(std::move(tmin), std::move(tmax), std::move(label));
    if (item == nullptr) return nullptr;
    PyObject_GC_UnTrack(item);
    previous_end = end;
    previous_value = data.tmax;
    PyList_SET_ITEM(items.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  Ref flag = Ref::borrow(tier.is_interval ? Py_True : Py_False);
  PyObject* built = new_tuple(std::move(name), std::move(flag), std::move(items));
  if (built != nullptr) PyObject_GC_UnTrack(built);
  return built;
}

// (tmin, tmax, [tier, ...]) straight from the model: each label goes from the
// text read to its str without another copy. Untracked, with all its
// containers.
template <class Grid>
PyObject* build_textgrid(const Grid& grid) {
  Ref tmin(PyFloat_FromDouble(grid.tmin));
  Ref tmax(PyFloat_FromDouble(grid.tmax));
  if (!tmin || !tmax) return nullptr;
  Ref tiers(PyList_New(static_cast<Py_ssize_t>(grid.tiers.size())));
  if (!tiers) return nullptr;
  PyObject_GC_UnTrack(tiers.get());
  TextCacheLease texts;
  for (std::size_t i = 0; i < grid.tiers.size(); ++i) {
    PyObject* tier = build_tier(grid.tiers[i], texts.cache());
    if (tier == nullptr) return nullptr;
    PyList_SET_ITEM(tiers.get(), static_cast<Py_ssize_t>(i), tier);  // steals
  }
  PyObject* built = new_tuple(std::move(tmin), std::move(tmax), std::move(tiers));
  if (built != nullptr) PyObject_GC_UnTrack(built);
  return built;
}

// Hands a complete result of build_textgrid to the collector: its tuple, its
// tiers list, and each tier's tuple and items list.
void track_textgrid(PyObject* grid) {
  PyObject* tiers = PyTuple_GET_ITEM(grid, 2);  // borrowed
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(tiers); ++i) {
    PyObject* tier = PyList_GET_ITEM(tiers, i);  // borrowed
    PyObject_GC_Track(PyTuple_GET_ITEM(tier, 2));
    PyObject_GC_Track(tier);
  }
  PyObject_GC_Track(tiers);
  PyObject_GC_Track(grid);
}

// item record: (number tmin, number tmax, text label)
bool to_item(PyObject* value, textgrid::ItemData& out) {
  PyObject* fields[3];
  return to_record(value, fields) && to_number(fields[0], out.tmin) &&
         to_number(fields[1], out.tmax) && to_text(fields[2], out.label);
}

// tier record: (text name, flag is_interval, list of item records)
bool to_tier(PyObject* value, textgrid::TierData& out) {
  PyObject* fields[3];
  return to_record(value, fields) && to_text(fields[0], out.name) &&
         to_flag(fields[1], out.is_interval) && to_list(fields[2], out.items, to_item);
}

bool to_tiers(PyObject* value, std::vector<textgrid::TierData>& out) {
  return to_list(value, out, to_tier);
}

}  // namespace

PyObject* textgrid2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = signatures::textgrid2data;
    std::string file, file_type;
    bool strict = false;
    if (!read_arguments(signature, args, nargs, kwnames, file, to_path, strict, file_type)) {
      return nullptr;
    }
    const auto options = file_options(file, strict, file_type);
    if (!options) return nullptr;
    const auto grid = textgrid::read_file(file, *options);
    if (!grid) return raise_read_error(file, grid.error());
    PyObject* built = build_textgrid(*grid);
    if (built != nullptr) track_textgrid(built);
    return built;
  });
}

PyObject* textgrids2data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = signatures::textgrids2data;
    std::vector<std::string> files;
    std::string file_type;
    bool strict = false;
    if (!read_arguments(signature, args, nargs, kwnames, files, to_paths, strict, file_type)) {
      return nullptr;
    }
    const auto options = batch_options(strict, file_type);
    if (!options) return nullptr;
    Ref list(PyList_New(static_cast<Py_ssize_t>(files.size())));
    if (!list) return nullptr;
    // Other threads run while files are read, and one could reach the list
    // through the collector (gc.get_objects) while slots are still empty.
    PyObject_GC_UnTrack(list.get());
    const bool built =
        build_in_order(files, *options, [&](std::size_t i, const textgrid::TextGridView& view) {
          PyObject* grid = build_textgrid(view);
          if (grid == nullptr) return false;
          PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), grid);  // steals
          return true;
        });
    if (!built) return nullptr;  // what was built goes untracked
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.get()); ++i) {
      track_textgrid(PyList_GET_ITEM(list.get(), i));
    }
    PyObject_GC_Track(list.get());
    return list.release();
  });
}

PyObject* data2textgrid(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = signatures::data2textgrid;
    PyObject* bound[kMostParameters];
    if (!bind_arguments(signature, args, nargs, kwnames, bound)) return nullptr;
    std::vector<textgrid::TierData> tiers;
    std::optional<double> tmin, tmax;
    std::string output_file, file_type;
    if (!convert_argument(signature, bound, 0, tiers, to_tiers) ||
        !convert_argument(signature, bound, 1, tmin, to_optional_number) ||
        !convert_argument(signature, bound, 2, tmax, to_optional_number) ||
        !convert_argument(signature, bound, 3, output_file, to_path) ||
        !convert_argument(signature, bound, 4, file_type, to_text)) {
      return nullptr;
    }
    auto grid = textgrid::from_data(std::move(tiers), std::string("TextGrid"), tmin, tmax);
    if (!grid) return raise_create_error(grid.error());
    const auto saved = grid->save_textgrid(output_file, file_type == "long", python_should_stop);
    if (!saved) return raise_write_error(output_file, saved.error());
    Py_RETURN_NONE;
  });
}

}  // namespace plinth
