#include "batch_reading.hpp"

#include "errors.hpp"
#include "read/read.hpp"

namespace plinth {

bool build_in_order(const std::vector<std::string>& files, bool strict, std::string_view file_type,
                    const BuildFile& build) {
  PyThreadState* state = nullptr;
  const textgrid::CallerLock interpreter_lock{[&state] { state = PyEval_SaveThread(); },
                                              [&state] { PyEval_RestoreThread(state); }};
  const textgrid::ShouldStop should_stop = python_should_stop;
  textgrid::read_views_in_order(files, strict, file_type, should_stop, interpreter_lock,
                                [&](std::size_t i, textgrid::TextGridView&& view) {
                                  // Set by a signal handler while a file waited, or by the last
                                  // build.
                                  if (PyErr_Occurred()) return false;
                                  return build(i, view);
                                });
  return !PyErr_Occurred();
}

}  // namespace plinth
