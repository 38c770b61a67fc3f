// What the module keeps from its first use until the process ends, in one
// place: the interpreter it serves and its module object, the types it makes,
// NumPy's C-API table and the strs of the build under way. The parameter
// names are interned beside the functions' table (registry.cpp). Nothing here
// is ever freed (nothing may be released after the interpreter has gone), and
// nothing carries anything of one call into the next.
#pragma once

#include "ref.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace plinth {

class TextCache;

struct Cached {
  // The interpreter that imported the module first (-1: none yet), and the
  // module object made for it.
  static constexpr std::int64_t kNoInterpreter = -1;
  std::atomic<std::int64_t> interpreter{kNoInterpreter};
  PyObject* module = nullptr;

  // plinth.InternalError, made by the module's initialisation before any
  // function can run, so that a fault never needs to make a type.
  PyObject* internal_fault_type = nullptr;

  // Made on first use by the vector functions, through run_once: NumPy's
  // C-API table (its capsule kept alive) and the type of the arrays' owners.
  std::atomic<void**> numpy_api{nullptr};
  std::mutex numpy_mutex;
  std::atomic<PyTypeObject*> array_owner_type{nullptr};
  std::mutex array_owner_mutex;

  // The strs of the build under way (text_cache.hpp): made on the first
  // build, used with the interpreter lock held, emptied after each build.
  TextCache* texts = nullptr;
};

// The one instance, constant-initialised: no order of initialisation to mind.
Cached& cached() noexcept;

// First-use initialisation of a one-time cache, safe against the interpreter
// lock: runs `init` (bool(), true on success) with the lock held unless
// `done()` already holds; a failed `init` is tried again by the next caller.
// A thread lets go of the lock while it waits for `mutex`, so the thread doing
// the initialisation (which may itself let go of the lock, for instance while
// importing) can never be blocked by a waiter.
template <class Done, class Init>
bool run_once(std::mutex& mutex, Done done, Init init) {
  if (done()) return true;
  PyThreadState* state = PyEval_SaveThread();
  std::unique_lock<std::mutex> lock(mutex);
  PyEval_RestoreThread(state);
  return done() || init();
}

}  // namespace plinth
