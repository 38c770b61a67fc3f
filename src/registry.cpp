// The one table of the module's functions: names, entry points, docstrings
// and parameters, in registration order (the six of the TextGrid interface,
// then the two table functions and the corpus writer).
#include "docstrings.hpp"
#include "functions.hpp"

namespace plinth {

namespace {

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

PyMethodDef fast_call(const char* name, FastCall function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
          METH_FASTCALL | METH_KEYWORDS, doc};
}

PyMethodDef functions[] = {
    fast_call("textgrid2vectors", textgrid2vectors, docs::textgrid2vectors),
    fast_call("textgrids2vectors", textgrids2vectors, docs::textgrids2vectors),
    fast_call("textgrid2data", textgrid2data, docs::textgrid2data),
    fast_call("textgrids2data", textgrids2data, docs::textgrids2data),
    fast_call("data2textgrid", data2textgrid, docs::data2textgrid),
    fast_call("vectors2textgrid", vectors2textgrid, docs::vectors2textgrid),
    fast_call("textgrid2table", textgrid2table, docs::textgrid2table),
    fast_call("textgrids2table", textgrids2table, docs::textgrids2table),
    fast_call("table2textgrids", table2textgrids, docs::table2textgrids),
};

// The names of every function's parameters, interned once.
Parameters<3> textgrid2vectors_parameters{{"file", "strict", "file_type"}};
Parameters<3> textgrids2vectors_parameters{{"files", "strict", "file_type"}};
Parameters<3> textgrid2data_parameters{{"file", "strict", "file_type"}};
Parameters<3> textgrids2data_parameters{{"files", "strict", "file_type"}};
Parameters<5> data2textgrid_parameters{{"data", "tmin", "tmax", "output_file", "file_type"}};
Parameters<9> vectors2textgrid_parameters{{"tmins", "tmaxs", "labels", "tier_names", "is_intervals",
                                           "tmin", "tmax", "output_file", "file_type"}};
// (file, strict=False, file_type="auto", *, encoding="utf-8")
Parameters<4> textgrid2table_parameters{{"file", "strict", "file_type", "encoding"}, 3, 1};
Parameters<4> textgrids2table_parameters{{"files", "strict", "file_type", "encoding"}, 3, 1};
// (items, paths, file_type="long", *, tiers=None, files=None, fill_gaps=True)
Parameters<6> table2textgrids_parameters{
    {"items", "paths", "file_type", "tiers", "files", "fill_gaps"}, 3, 2};

}  // namespace

namespace signatures {
const Signature textgrid2vectors = textgrid2vectors_parameters.signature("textgrid2vectors");
const Signature textgrids2vectors = textgrids2vectors_parameters.signature("textgrids2vectors");
const Signature textgrid2data = textgrid2data_parameters.signature("textgrid2data");
const Signature textgrids2data = textgrids2data_parameters.signature("textgrids2data");
const Signature data2textgrid = data2textgrid_parameters.signature("data2textgrid");
const Signature vectors2textgrid = vectors2textgrid_parameters.signature("vectors2textgrid");
const Signature textgrid2table = textgrid2table_parameters.signature("textgrid2table");
const Signature textgrids2table = textgrids2table_parameters.signature("textgrids2table");
const Signature table2textgrids = table2textgrids_parameters.signature("table2textgrids");
}  // namespace signatures

std::span<PyMethodDef> module_functions() {
  return functions;
}

bool intern_parameter_names() {
  for (const Signature* signature :
       {&signatures::textgrid2vectors, &signatures::textgrids2vectors, &signatures::textgrid2data,
        &signatures::textgrids2data, &signatures::data2textgrid, &signatures::vectors2textgrid,
        &signatures::textgrid2table, &signatures::textgrids2table, &signatures::table2textgrids}) {
    if (!intern_names(*signature)) return false;
  }
  return true;
}

}  // namespace plinth
