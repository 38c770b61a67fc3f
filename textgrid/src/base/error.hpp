// The core library's failure value: a kind and a message. Nothing in the core
// prints, logs or throws for an expected failure; it returns one of these.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace textgrid {

enum class ErrorKind {
  InvalidData,       // validation failures, text that is not UTF-8/UTF-16
  InvalidInput,      // vector columns of unequal length
  NotFound,          // ENOENT and friends
  PermissionDenied,  // EACCES, EPERM
  AlreadyExists,     // EEXIST
  IsADirectory,      // EISDIR
  Interrupted,       // EINTR
  WriteZero,         // a write that accepted no bytes
  OutOfMemory,       // ENOMEM
  Other,             // any other operating-system error
};

struct Error {
  Error() = default;
  Error(ErrorKind error_kind, std::string text, int errnum = 0)
      : kind(error_kind), message(std::move(text)), os_errno(errnum) {}

  ErrorKind kind = ErrorKind::Other;
  std::string message;
  int os_errno = 0;  // the error number for operating-system errors, else 0
  // For bytes that are not valid UTF-8: the offset of the first invalid one,
  // which a caller may name beside the message.
  std::optional<std::size_t> invalid_byte;

  // Displaying an error yields its message alone, never the kind.
  const std::string& what() const noexcept { return message; }
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

// Returns an error of kind `kind` carrying `message`. Allocates.
inline std::unexpected<Error> fail(ErrorKind kind, std::string message) {
  return std::unexpected<Error>(Error{kind, std::move(message), 0});
}

// Returns the error for operating-system error number `errnum`: its kind follows
// the number, its message is the system's description + " (os error N)".
Error os_error(int errnum);

// Streams the message alone.
inline std::ostream& operator<<(std::ostream& out, const Error& error) {
  return out << error.message;
}

}  // namespace textgrid
