// Error values of the core. User-facing failures carry the exception family the
// binding layer raises; a broken internal rule is an InternalFailure.
#pragma once

#include <stdexcept>
#include <string>

namespace boundwise {

enum class ErrorKind { Type, Value, Index, NotImplemented, Overflow, Runtime, Memory };

// Thrown by core routines for invalid user input (checked before any element is
// computed); the binding layer turns it into the Python exception of `kind`.
struct Error : std::runtime_error {
    ErrorKind kind;
    Error(ErrorKind k, const std::string& message) : std::runtime_error(message), kind(k) {}
};

inline Error value_error(const std::string& message) { return Error(ErrorKind::Value, message); }
inline Error type_error(const std::string& message) { return Error(ErrorKind::Type, message); }
inline Error index_error(const std::string& message) { return Error(ErrorKind::Index, message); }

// An internal assertion that failed; surfaces as the internal-failure exception.
struct InternalFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline void check_internal(bool condition, const char* message) {
    if (!condition) throw InternalFailure(message);
}

}  // namespace boundwise
