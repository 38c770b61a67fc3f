// Binding of fast-call arguments to parameters: all parameters are required
// and positional-or-keyword, with CPython's own wording for every refusal.
#pragma once

#include "ref.hpp"

#include <array>
#include <cstddef>

namespace plinth {

struct Signature {
  const char* function;      // the name in the messages, as in the function table
  const char* const* names;  // the parameter names, in order
  Py_ssize_t count;
  PyObject** interned;  // `count` slots, filled once by intern_names
};

// A signature with its own storage for the interned names.
template <std::size_t N>
struct Parameters {
  std::array<const char*, N> names;
  std::array<PyObject*, N> interned{};

  Signature signature(const char* function) {
    return Signature{function, names.data(), static_cast<Py_ssize_t>(N), interned.data()};
  }
};

// Interns the parameter names once per process (kept until the process
// ends); false with an exception set on failure.
bool intern_names(const Signature& signature);

// Fails with "f() takes N positional arguments but M were given" when too
// many positional arguments came.
bool check_positional_nargs(const Signature& signature, Py_ssize_t nargs);

// Returns the index of the parameter named `keyword`, or -1.
Py_ssize_t find_keyword(const Signature& signature, PyObject* keyword);

// Fills `bound` (signature.count borrowed references) from the fast-call
// arguments, or sets TypeError and returns false. Allocates nothing on success.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, PyObject** bound);

}  // namespace plinth
