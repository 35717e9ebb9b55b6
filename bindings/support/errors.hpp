// The single path by which failures reach Python as exceptions.
#pragma once

#include <optional>
#include <string>

#include "boundwise/error.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

// Sets the Python exception for the C++ exception being handled: a pending
// Python error stays, Error values become their exception family,
// InternalFailure and anything unexpected the internal-failure exception,
// std::bad_alloc MemoryError. Call only inside a catch block.
void set_error_from_current_exception() noexcept;

// The internal-failure exception class (derived from BaseException), created on first need.
PyObject* internal_failure_type();

// True when the pending Python exception is an instance of `type`.
bool error_matches(PyObject* type);

// True when the pending error is a failed value conversion (TypeError,
// ValueError, OverflowError), which a fallback conversion may replace;
// interrupts, MemoryError and the like must propagate.
bool conversion_failed();

// Which failures of a conversion another reading of the value may replace.
enum class Recoverable {
    TypeErrors,        // a TypeError, Python's or ours
    ConversionErrors,  // also a Python ValueError or OverflowError
};

// Runs convert() and returns its value; when it fails in a way `which` names,
// clears the error and returns nothing, so that the caller can try another
// reading. Interrupts, MemoryError and every other failure propagate.
template <class Convert>
auto attempt(Recoverable which, Convert&& convert) -> std::optional<decltype(convert())> {
    try {
        return convert();
    } catch (const PythonError&) {
        if (!(which == Recoverable::ConversionErrors ? conversion_failed() : error_matches(PyExc_TypeError))) throw;
        PyErr_Clear();
    } catch (const Error& e) {
        if (e.kind != ErrorKind::Type) throw;
    }
    return std::nullopt;
}

// Replaces the pending TypeError with TypeError(prefix + its text), chaining
// the original as __cause__. Other pending errors are left as they are.
void prefix_pending_type_error(const std::string& prefix);

// str() of an object as UTF-8.
std::string to_string(PyObject* object);
std::string type_name(PyObject* object);

}  // namespace boundwise::py
