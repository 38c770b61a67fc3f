#include "base/error.hpp"

#include <cerrno>
#include <sstream>

#include <gtest/gtest.h>

namespace textgrid {
namespace {

TEST(error, os_error_message_and_kind) {
  const Error e = os_error(ENOENT);
  EXPECT_EQ(e.message, "No such file or directory (os error 2)");
  EXPECT_EQ(e.kind, ErrorKind::NotFound);
  EXPECT_EQ(e.os_errno, ENOENT);
  EXPECT_EQ(os_error(EACCES).message, "Permission denied (os error 13)");
  EXPECT_EQ(os_error(EISDIR).kind, ErrorKind::IsADirectory);
}

TEST(error, display_is_message_alone) {
  std::ostringstream out;
  out << Error{ErrorKind::InvalidData, "Tier size does not match number of items", 0};
  EXPECT_EQ(out.str(), "Tier size does not match number of items");
}

}  // namespace
}  // namespace textgrid
