#include "cached.hpp"

namespace plinth {

namespace {

constinit Cached instance;

}  // namespace

Cached& cached() noexcept {
  return instance;
}

}  // namespace plinth
