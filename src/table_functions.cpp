// textgrid2table and textgrids2table: TextGrids as an Arrow table (plinth.Table).
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "arrow/arrow_table.hpp"
#include "arrow/side_tables.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "read/read.hpp"
#include "reading.hpp"
#include "table_object.hpp"

namespace plinth {

namespace {

// A refusal of bytes that are not UTF-8 says where they are and how to read
// an 8-bit file: the table functions have the encoding keyword to offer.
textgrid::Error with_encoding_hint(const textgrid::Error& error) {
  textgrid::Error hinted = error;
  if (error.invalid_byte) {
    hinted.message += " (first invalid byte at offset " + std::to_string(*error.invalid_byte) +
                      "; for 8-bit files pass encoding=\"praat\", \"latin-1\" or \"cp1252\")";
  }
  return hinted;
}

// {position: message} for the files that failed, in position order; the
// files table's error column gets the same messages.
PyObject* failed_files(const std::vector<std::string>& files, textgrid::ArrowTable& table) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  std::vector<std::string> messages;
  messages.reserve(table.failed.size());
  for (const textgrid::FileFailure& failure : table.failed) {
    Ref position(PyLong_FromSize_t(failure.position));
    if (!position) return nullptr;
    Ref message(read_error_text(files[failure.position], with_encoding_hint(failure.error)));
    if (!message || PyDict_SetItem(dict.get(), position.get(), message.get()) < 0) return nullptr;
    // A path that is not UTF-8 comes back as surrogates: its bytes as they were.
    Ref bytes(PyUnicode_AsEncodedString(message.get(), "utf-8", "surrogateescape"));
    if (!bytes) return nullptr;
    messages.emplace_back(PyBytes_AS_STRING(bytes.get()),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
  }
  textgrid::describe_failures(table, messages);
  return dict.release();
}

}  // namespace

PyObject* textgrid2table(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::string file, file_type = "auto";
    bool strict = false;
    textgrid::Encoding encoding = textgrid::Encoding::Utf8;
    if (!read_arguments(signatures::textgrid2table, args, nargs, kwnames, file, to_path_like,
                        strict, file_type, &encoding)) {
      return nullptr;
    }
    std::shared_ptr<textgrid::ArrowTable> table;
    {
      auto options = file_options(file, strict, file_type);
      if (!options) return nullptr;
      options->encoding = encoding;
      auto grid = textgrid::read_file(file, *options);
      if (!grid) return raise_read_error(file, with_encoding_hint(grid.error()));
      table =
          std::make_shared<textgrid::ArrowTable>(textgrid::table_from_textgrid(*grid, {}, file));
    }
    Ref failed(PyDict_New());
    if (!failed) return nullptr;
    return new_table(std::move(table), std::move(failed));
  });
}

PyObject* textgrids2table(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::vector<std::string> files;
    std::string file_type = "auto";
    bool strict = false;
    textgrid::Encoding encoding = textgrid::Encoding::Utf8;
    if (!read_arguments(signatures::textgrids2table, args, nargs, kwnames, files, to_path_likes,
                        strict, file_type, &encoding)) {
      return nullptr;
    }
    auto options = batch_options(strict, file_type);
    if (!options) return nullptr;
    options->encoding = encoding;
    auto table = std::make_shared<textgrid::ArrowTable>(read_table_unlocked(files, *options));
    if (PyErr_Occurred()) return nullptr;  // a signal handler raised during the read
    Ref failed(failed_files(files, *table));
    if (!failed) return nullptr;
    return new_table(std::move(table), std::move(failed));
  });
}

}  // namespace plinth
