#include "errors.hpp"

#include <cerrno>

#include "cached.hpp"
#include "objects.hpp"

namespace plinth {

namespace {

constexpr const char* kInternalFaultDoc =
    "A fatal internal fault of plinth (NumPy could not be loaded, or memory ran\n"
    "out while an array was made). It derives from BaseException, so that\n"
    "`except Exception` does not swallow it.";

// The subclass of OSError that the interpreter gives error number `os_errno`
// (as OSError(errno, text) would pick it), or OSError itself for the numbers
// without one and for failures that no system call reported (0).
PyObject* os_error_type(int os_errno) {
  switch (os_errno) {
    case ENOENT: return PyExc_FileNotFoundError;
    case ENOTDIR: return PyExc_NotADirectoryError;
    case EISDIR: return PyExc_IsADirectoryError;
    case EEXIST: return PyExc_FileExistsError;
    case EACCES:
    case EPERM: return PyExc_PermissionError;
    case EINTR: return PyExc_InterruptedError;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EALREADY:
    case EINPROGRESS: return PyExc_BlockingIOError;
    case EPIPE:
    case ESHUTDOWN: return PyExc_BrokenPipeError;
    case ECHILD: return PyExc_ChildProcessError;
    case ECONNABORTED: return PyExc_ConnectionAbortedError;
    case ECONNREFUSED: return PyExc_ConnectionRefusedError;
    case ECONNRESET: return PyExc_ConnectionResetError;
    case ESRCH: return PyExc_ProcessLookupError;
    case ETIMEDOUT: return PyExc_TimeoutError;
    default: return PyExc_OSError;
  }
}

// Sets the OSError (or its subclass for `os_errno`) of one argument, `text`,
// so that errno, strerror and filename are None; returns null.
PyObject* raise_os_error_text(PyObject* text, int os_errno) {
  PyObject* type = os_error_type(os_errno);  // borrowed
  Ref exception(PyObject_CallOneArg(type, text));
  if (!exception) return nullptr;
  PyErr_SetObject(type, exception.get());
  return nullptr;
}

// "<prefix><path><middle><message>" as a str: the path (bytes in the file
// system's encoding, as the argument conversion made them) decoded back to
// the str it was passed as, the core's message as its UTF-8; or null.
PyObject* message_at(std::string_view prefix, std::string_view path, std::string_view middle,
                     const textgrid::Error& error) {
  std::string message;
  message.reserve(prefix.size() + path.size() + middle.size() + error.message.size());
  message.append(prefix);
  const std::size_t path_at = message.size();
  message.append(path).append(middle).append(error.message);
  const auto utf8 = [](std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  };
  // An ASCII path (the common one) reads the same in every encoding.
  if (is_ascii(path)) return utf8(message);
  const std::string_view whole = message;
  Ref head(utf8(whole.substr(0, path_at)));
  Ref shown(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
  Ref tail(utf8(whole.substr(path_at + path.size())));
  if (!head || !shown || !tail) return nullptr;
  Ref joined(PyUnicode_Concat(head.get(), shown.get()));
  if (!joined) return nullptr;
  return PyUnicode_Concat(joined.get(), tail.get());
}

PyObject* raise_prefixed(std::string_view prefix, std::string_view path, std::string_view middle,
                         const textgrid::Error& error) {
  Ref message(message_at(prefix, path, middle, error));
  if (!message) return nullptr;
  return raise_os_error_text(message.get(), error.os_errno);
}

}  // namespace

bool init_internal_fault_type() {
  PyObject*& type = cached().internal_fault_type;
  if (type != nullptr) return true;
  type = PyErr_NewExceptionWithDoc("plinth.InternalError", kInternalFaultDoc, PyExc_BaseException,
                                   nullptr);
  return type != nullptr;
}

PyObject* internal_fault_type_object() noexcept {
  return cached().internal_fault_type;
}

PyObject* raise_os_error(std::string_view message, int os_errno) {
  Ref text(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return nullptr;
  return raise_os_error_text(text.get(), os_errno);
}

bool python_should_stop() {
  if (PyErr_CheckSignals() != 0) return true;
  Py_BEGIN_ALLOW_THREADS Py_END_ALLOW_THREADS return false;
}

PyObject* raise_read_error(std::string_view path, const textgrid::Error& error) {
  if (error.kind == textgrid::ErrorKind::Interrupted && PyErr_Occurred()) return nullptr;
  return raise_prefixed("Failed to read TextGrid file ", path, " because: ", error);
}

PyObject* read_error_text(std::string_view path, const textgrid::Error& error) {
  // Made as raise_read_error makes its message, so the two are equal.
  return message_at("Failed to read TextGrid file ", path, " because: ", error);
}

PyObject* raise_create_error(const textgrid::Error& error) {
  return raise_prefixed("Failed to create TextGrid because: ", "", "", error);
}

PyObject* raise_write_error(std::string_view path, const textgrid::Error& error) {
  if (error.kind == textgrid::ErrorKind::Interrupted && PyErr_Occurred()) return nullptr;
  return raise_prefixed("Failed to write TextGrid file ", path, " because: ", error);
}

PyObject* write_error_text(std::string_view path, const textgrid::Error& error) {
  return message_at("Failed to write TextGrid file ", path, " because: ", error);
}

PyObject* create_error_text(std::string_view path, const textgrid::Error& error) {
  return message_at("Failed to create TextGrid file ", path, " because: ", error);
}

PyObject* take_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

void raise_again(PyObject* exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exception);
#else
  PyObject* traceback = PyException_GetTraceback(exception);
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception, traceback);
#endif
}

PyObject* raise_internal_fault(const char* message) noexcept {
  PyObject* fault_type = cached().internal_fault_type;
  PyObject* type = fault_type != nullptr ? fault_type : PyExc_SystemError;
  if (!PyErr_Occurred()) {
    PyErr_SetString(type, message);
    return nullptr;
  }
  PyObject* cause = take_exception();
  // The fault's message goes on with the text of what caused it.
  Ref cause_text(cause != nullptr ? PyObject_Str(cause) : nullptr);
  if (!cause_text) PyErr_Clear();
  Ref fault(cause_text ? PyUnicode_FromFormat("%s: %U", message, cause_text.get())
                       : PyUnicode_FromString(message));
  if (!fault) {
    Py_XDECREF(cause);
    return nullptr;
  }
  Ref instance(PyObject_CallOneArg(type, fault.get()));
  if (!instance) {
    Py_XDECREF(cause);
    return nullptr;
  }
  if (cause != nullptr) PyException_SetCause(instance.get(), cause);  // steals cause
  PyErr_SetObject(type, instance.get());
  return nullptr;
}

}  // namespace plinth
