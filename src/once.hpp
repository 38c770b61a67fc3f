// First-use initialisation of a one-time cache, safe against the interpreter
// lock: a thread lets go of the lock while it waits, so the thread doing the
// initialisation (which may itself let go of the lock, for instance while
// importing) can never be blocked by a waiter.
#pragma once

#include "ref.hpp"

#include <mutex>

namespace plinth {

// Runs `init` (bool(), true on success) with the lock held unless `done()`
// already holds; a failed `init` is tried again by the next caller.
template <class Done, class Init>
bool run_once(std::mutex& mutex, Done done, Init init) {
  if (done()) return true;
  PyThreadState* state = PyEval_SaveThread();
  std::unique_lock<std::mutex> lock(mutex);
  PyEval_RestoreThread(state);
  return done() || init();
}

}  // namespace plinth
