// Binding of fast-call arguments to parameters, with CPython's own wording for
// every refusal (msgspec's check_positional_nargs and find_keyword are the
// model). A function's parameters are its positional-or-keyword ones, the
// first `required` of them without a default, then its keyword-only ones, all
// with defaults. An optional parameter that a call leaves out is bound to
// null, and its conversion keeps the default.
#pragma once

#include "ref.hpp"

#include <array>
#include <cstddef>

namespace plinth {

struct Signature {
  const char* function;      // the name in the messages, as in the function table
  const char* const* names;  // the parameter names, in order
  Py_ssize_t count;          // every parameter
  Py_ssize_t positional;     // the first ones, positional-or-keyword
  Py_ssize_t required;       // the first ones, without a default
  PyObject** interned;       // `count` slots, filled once by intern_names
};

// A signature with its own storage for the interned names. By default every
// parameter is positional-or-keyword and required.
template <std::size_t N>
struct Parameters {
  std::array<const char*, N> names;
  Py_ssize_t positional = static_cast<Py_ssize_t>(N);
  Py_ssize_t required = static_cast<Py_ssize_t>(N);
  std::array<PyObject*, N> interned{};

  Signature signature(const char* function) {
    return Signature{function,   names.data(), static_cast<Py_ssize_t>(N),
                     positional, required,     interned.data()};
  }
};

// The most parameters a function has: the size of a `bound` array.
inline constexpr std::size_t kMostParameters = 9;

// Interns the parameter names once per process (kept until the process
// ends); false with an exception set on failure.
bool intern_names(const Signature& signature);

// Fails with "f() takes N positional arguments but M were given" (or "from
// K to N", as CPython words it for defaults) when too many positional
// arguments came; `kwnames` only counts the keyword-only ones given.
bool check_positional_nargs(const Signature& signature, Py_ssize_t nargs, PyObject* kwnames);

// Returns the index of the parameter named `keyword`, or -1.
Py_ssize_t find_keyword(const Signature& signature, PyObject* keyword);

// Fills `bound` (signature.count borrowed references, null for an optional
// parameter not given) from the fast-call arguments, or sets TypeError and
// returns false. Allocates nothing on success.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, PyObject** bound);

}  // namespace plinth
