// One-dimensional NumPy arrays over the core's column buffers, handed over
// without a copy. NumPy is reached at run time through its C-API capsule, at
// the first array made; no NumPy header is needed to build.
#pragma once

#include "ref.hpp"

#include <cstdint>
#include <vector>

#include "model/converter.hpp"

namespace plinth {

// Each returns a new writeable array of dtype float64 / bool / uint32 whose
// base is a PySliceContainer that owns `column` from then on, or null with an
// exception set (the internal fault when NumPy or memory cannot be had).
// On failure `column` may or may not have been taken over.
PyObject* make_array(std::vector<double>&& column);
PyObject* make_array(std::vector<textgrid::Flag>&& column);
PyObject* make_array(std::vector<std::uint32_t>&& column);

}  // namespace plinth
