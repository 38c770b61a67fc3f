// A tiny owner of one strong reference, so that early returns cannot leak.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace plinth {

class Ref {
 public:
  Ref() noexcept = default;
  // Takes over `owned` (a new reference, or null after a failed call).
  explicit Ref(PyObject* owned) noexcept : object_(owned) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }

  // Returns a new strong reference to `borrowed`.
  static Ref borrow(PyObject* borrowed) noexcept {
    Py_XINCREF(borrowed);
    return Ref(borrowed);
  }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Hands the reference to the caller (for functions that steal it).
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }

  void reset(PyObject* owned = nullptr) noexcept {
    PyObject* old = std::exchange(object_, owned);
    Py_XDECREF(old);
  }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace plinth
