#include "base/error.hpp"

#include <cerrno>
#include <cstring>

namespace textgrid {

namespace {

ErrorKind kind_of_errno(int errnum) {
  switch (errnum) {
    case ENOENT:
    case ENOTDIR: return ErrorKind::NotFound;
    case EACCES:
    case EPERM: return ErrorKind::PermissionDenied;
    case EEXIST: return ErrorKind::AlreadyExists;
    case EISDIR: return ErrorKind::IsADirectory;
    case EINTR: return ErrorKind::Interrupted;
    case ENOMEM: return ErrorKind::OutOfMemory;
    default: return ErrorKind::Other;
  }
}

}  // namespace

Error os_error(int errnum) {
  // strerror_r (GNU flavour) may or may not use the buffer; either way it
  // returns the text and is safe on worker threads, unlike strerror.
  char buffer[256];
  const char* text = strerror_r(errnum, buffer, sizeof buffer);
  std::string message(text);
  message += " (os error ";
  message += std::to_string(errnum);
  message += ')';
  return Error{kind_of_errno(errnum), std::move(message), errnum};
}

}  // namespace textgrid
