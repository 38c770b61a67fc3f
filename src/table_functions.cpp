#include "table_functions.hpp"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "arrow/arrow_table.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "read/read.hpp"
#include "reading.hpp"
#include "table_object.hpp"

namespace plinth {

namespace {

Parameters<3> textgrid2table_parameters{{"file", "strict", "file_type"}};
Parameters<3> textgrids2table_parameters{{"files", "strict", "file_type"}};

const Signature textgrid2table_signature = textgrid2table_parameters.signature("textgrid2table");
const Signature textgrids2table_signature = textgrids2table_parameters.signature("textgrids2table");

bool to_texts(PyObject* value, std::vector<std::string>& out) {
  return to_list(value, out, to_text);
}

// {position: message} for the files that failed, in position order.
PyObject* failed_files(const std::vector<std::string>& files,
                       const std::vector<textgrid::FileFailure>& failed) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (const textgrid::FileFailure& failure : failed) {
    Ref position(PyLong_FromSize_t(failure.position));
    if (!position) return nullptr;
    Ref message(read_error_text(files[failure.position], failure.error));
    if (!message || PyDict_SetItem(dict.get(), position.get(), message.get()) < 0) return nullptr;
  }
  return dict.release();
}

}  // namespace

bool intern_table_signatures() {
  return intern_names(textgrid2table_signature) && intern_names(textgrids2table_signature);
}

PyObject* textgrid2table(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::string file, file_type;
    bool strict = false;
    if (!read_arguments(textgrid2table_signature, args, nargs, kwnames, file, to_text, strict,
                        file_type)) {
      return nullptr;
    }
    std::shared_ptr<textgrid::ArrowTable> table;
    {
      const auto options = file_options(file, strict, file_type);
      if (!options) return nullptr;
      auto grid = textgrid::read_file(file, *options);
      if (!grid) return raise_read_error(file, grid.error());
      table = std::make_shared<textgrid::ArrowTable>(textgrid::table_from_textgrid(*grid));
    }
    Ref failed(PyDict_New());
    if (!failed) return nullptr;
    return new_table(std::move(table), std::move(failed));
  });
}

PyObject* textgrids2table(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::vector<std::string> files;
    std::string file_type;
    bool strict = false;
    if (!read_arguments(textgrids2table_signature, args, nargs, kwnames, files, to_texts, strict,
                        file_type)) {
      return nullptr;
    }
    const auto options = batch_options(strict, file_type);
    if (!options) return nullptr;
    auto table = std::make_shared<textgrid::ArrowTable>(read_table_unlocked(files, *options));
    if (PyErr_Occurred()) return nullptr;  // a signal handler raised during the read
    Ref failed(failed_files(files, table->failed));
    if (!failed) return nullptr;
    return new_table(std::move(table), std::move(failed));
  });
}

}  // namespace plinth
