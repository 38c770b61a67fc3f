// table2textgrids: a whole corpus written back from Arrow tables.
#include <string>
#include <vector>

#include "arrow/corpus_write.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"

namespace plinth {

namespace {

// An Arrow stream, taken from any object with __arrow_c_stream__; owns the
// stream until the core takes it over (its release then null).
struct StreamArgument {
  ArrowArrayStream stream{};
  bool given = false;

  StreamArgument() = default;
  StreamArgument(const StreamArgument&) = delete;
  StreamArgument& operator=(const StreamArgument&) = delete;
  ~StreamArgument() {
    if (stream.release != nullptr) stream.release(&stream);
  }
  ArrowArrayStream* get() { return given ? &stream : nullptr; }
};

// stream: an object with __arrow_c_stream__ (pyarrow, polars, DuckDB, a
// plinth.Table); None leaves the argument not given. The stream is moved
// out of the capsule, whose destructor then has nothing to release.
bool to_stream(PyObject* value, StreamArgument& out) {
  if (value == Py_None) return true;
  Ref method(PyObject_GetAttrString(value, "__arrow_c_stream__"));
  if (!method) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError,
                 "expected an object with __arrow_c_stream__ (an Arrow table or stream), not '%s'",
                 Py_TYPE(value)->tp_name);
    return false;
  }
  Ref capsule(PyObject_CallNoArgs(method.get()));
  if (!capsule) return false;
  auto* stream =
      static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.get(), "arrow_array_stream"));
  if (stream == nullptr) return false;
  out.stream = *stream;
  stream->release = nullptr;
  out.given = true;
  return true;
}

// file_type of a writer: "long" or "short".
bool to_layout(PyObject* value, bool& long_layout) {
  std::string word;
  if (!to_text(value, word)) return false;
  if (word != "long" && word != "short") {
    PyErr_Format(PyExc_ValueError, "file_type must be 'long' or 'short', not %R", value);
    return false;
  }
  long_layout = word == "long";
  return true;
}

// {file_id: message} for the files that were not written.
PyObject* failure_dict(const std::vector<std::string>& paths,
                       const std::vector<textgrid::CorpusFailure>& failures) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (const textgrid::CorpusFailure& failure : failures) {
    Ref key(PyLong_FromSize_t(failure.file_id));
    if (!key) return nullptr;
    const std::string& path = paths[failure.file_id];
    Ref message(failure.created ? write_error_text(path, failure.error)
                                : create_error_text(path, failure.error));
    if (!message || PyDict_SetItem(dict.get(), key.get(), message.get()) < 0) return nullptr;
  }
  return dict.release();
}

}  // namespace

PyObject* table2textgrids(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Signature& signature = signatures::table2textgrids;
    PyObject* bound[kMostParameters];
    if (!bind_arguments(signature, args, nargs, kwnames, bound)) return nullptr;
    StreamArgument items, tiers, files;
    std::vector<std::string> paths;
    textgrid::CorpusOptions options;
    if (!convert_argument(signature, bound, 0, items, to_stream) ||
        !convert_argument(signature, bound, 1, paths, to_path_likes) ||
        !convert_argument(signature, bound, 2, options.long_layout, to_layout) ||
        !convert_argument(signature, bound, 3, tiers, to_stream) ||
        !convert_argument(signature, bound, 4, files, to_stream) ||
        !convert_argument(signature, bound, 5, options.fill_gaps, to_flag)) {
      return nullptr;
    }
    if (!items.given) {
      PyErr_SetString(PyExc_TypeError,
                      "argument 'items': expected an Arrow table or stream, not None");
      return nullptr;
    }
    PyThreadState* state = nullptr;
    const textgrid::CallerLock interpreter_lock{[&state] { state = PyEval_SaveThread(); },
                                                [&state] { PyEval_RestoreThread(state); }};
    const auto failures = textgrid::write_corpus({items.get(), tiers.get(), files.get()}, paths,
                                                 options, python_should_stop, interpreter_lock);
    if (PyErr_Occurred()) return nullptr;  // a signal handler raised while a file waited
    if (!failures) {
      // A producer's own message may hold any bytes.
      const std::string& message = failures.error().message;
      Ref text(
          PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
      if (text) PyErr_SetObject(PyExc_ValueError, text.get());
      return nullptr;
    }
    return failure_dict(paths, *failures);
  });
}

}  // namespace plinth
