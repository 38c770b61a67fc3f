// The one place where failures become Python exceptions: core error values
// become OSError, escaped C++ exceptions become MemoryError or the internal
// fault, so that no C++ exception ever unwinds into the interpreter.
#pragma once

#include "ref.hpp"

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace plinth {

// Creates the internal-fault type (plinth.InternalError, a direct subclass of
// BaseException) once per process; false with an exception set on failure.
// Called by the module initialisation, so a fault never needs to allocate a type.
bool init_internal_fault_type();

// The internal-fault type (borrowed; null before init_internal_fault_type).
PyObject* internal_fault_type_object() noexcept;

// Sets OSError with `message` as its one argument (errno, strerror and
// filename stay None) and returns null. An error the system reported
// (`os_errno` non-zero) raises the subclass that Python gives its number
// (FileNotFoundError, PermissionError, ...), so callers can catch it by kind.
PyObject* raise_os_error(std::string_view message, int os_errno = 0);

// The core's stop hook for the thread that holds the interpreter lock (every
// call does): runs the pending signal handlers and returns true once one of
// them raised (KeyboardInterrupt for SIGINT), its exception then set. Asked
// only while a file waits; between asks other threads get the lock for a
// moment, so that the main thread can take a signal meant for it.
bool python_should_stop();

// OSError "Failed to read TextGrid file <path> because: <message>"; null.
// `path` is in the file system's encoding (to_path), shown as the str it
// was passed as.
// An error of a read that python_should_stop ended keeps the exception raised
// there instead.
PyObject* raise_read_error(std::string_view path, const textgrid::Error& error);

// The str that raise_read_error gives its OSError, or null.
PyObject* read_error_text(std::string_view path, const textgrid::Error& error);

// OSError "Failed to create TextGrid because: <message>"; null.
PyObject* raise_create_error(const textgrid::Error& error);

// OSError "Failed to write TextGrid file <path> because: <message>"; null.
// As raise_read_error for a write that python_should_stop ended.
PyObject* raise_write_error(std::string_view path, const textgrid::Error& error);

// The str "Failed to write TextGrid file <path> because: <message>" of a
// file among many that could not be saved, or null.
PyObject* write_error_text(std::string_view path, const textgrid::Error& error);

// The str "Failed to create TextGrid file <path> because: <message>" of a
// file among many whose rows make no valid TextGrid, or null.
PyObject* create_error_text(std::string_view path, const textgrid::Error& error);

// Takes the raised exception out of the interpreter as one normalised
// instance (with its traceback), or null when none is set.
PyObject* take_exception() noexcept;

// Raises `exception` again, taking over the reference.
void raise_again(PyObject* exception) noexcept;

// Sets the internal fault with `message`; when a Python exception is already
// set it becomes the fault's __cause__. Returns null. Never throws.
PyObject* raise_internal_fault(const char* message) noexcept;

// Runs `body` (which returns a new reference or null with an exception set)
// and turns any C++ exception it lets escape into a Python exception.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& error) {
    return raise_internal_fault(error.what());
  } catch (...) {
    return raise_internal_fault("unknown C++ exception");
  }
}

}  // namespace plinth
