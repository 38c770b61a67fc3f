#include "reading.hpp"

#include "errors.hpp"
#include "read/batch.hpp"

namespace plinth {

std::optional<textgrid::ReadOptions> file_options(std::string_view file, bool strict,
                                                  std::string_view file_type) {
  const std::optional<textgrid::FileType> layout = textgrid::parse_file_type(file_type);
  if (!layout) {
    raise_read_error(file, textgrid::unknown_file_type(file_type));
    return std::nullopt;
  }
  return textgrid::ReadOptions{
      .file_type = *layout, .strict = strict, .should_stop = python_should_stop};
}

std::optional<textgrid::ReadOptions> batch_options(bool strict, std::string_view file_type) {
  const std::optional<textgrid::FileType> layout = textgrid::parse_file_type(file_type);
  if (!layout) {
    raise_os_error(textgrid::unknown_file_type(file_type).message);
    return std::nullopt;
  }
  return textgrid::ReadOptions{
      .file_type = *layout, .strict = strict, .should_stop = python_should_stop};
}

bool build_in_order(const std::vector<std::string>& files, const textgrid::ReadOptions& options,
                    const BuildFile& build) {
  PyThreadState* state = nullptr;
  const textgrid::CallerLock interpreter_lock{[&state] { state = PyEval_SaveThread(); },
                                              [&state] { PyEval_RestoreThread(state); }};
  textgrid::read_in_order<textgrid::TextGridView>(
      files, options, interpreter_lock,
      [](textgrid::Result<textgrid::TextGridView>&& view) {
        return view ? std::move(*view) : textgrid::TextGridView{};
      },
      [&](std::size_t i, textgrid::TextGridView&& view) {
        // Set by a signal handler while a file waited or between files, or by
        // the last build.
        if (PyErr_Occurred()) return false;
        return build(i, view);
      });
  return !PyErr_Occurred();
}

textgrid::ArrowTable read_table_unlocked(const std::vector<std::string>& files,
                                         textgrid::ReadOptions options) {
  struct Unlocked {
    PyThreadState* state = PyEval_SaveThread();
    ~Unlocked() { PyEval_RestoreThread(state); }
  } unlocked;
  options.should_stop = [&unlocked] {
    PyEval_RestoreThread(unlocked.state);
    const bool stop = python_should_stop();
    unlocked.state = PyEval_SaveThread();
    return stop;
  };
  return textgrid::read_table(files, options);
}

}  // namespace plinth
