// Argument parsing against a text signature, with the messages Python users know.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "boundwise/error.hpp"
#include "support/errors.hpp"

namespace boundwise::py {

struct Signature {
    // "zeros()" for a module function, "IntervalArray.reshape()" for a method.
    const char* display;
    std::vector<const char*> names;
    std::size_t required;  // the first `required` names have no default
    bool var_extra;        // a trailing *extra collects surplus positionals
};

// Parsed arguments: borrowed references (NULL where an optional one is absent)
// plus the tuple of surplus positionals when the signature has *extra.
class Arguments {
public:
    PyObject* operator[](std::size_t i) const { return values_[i]; }
    bool has(std::size_t i) const { return values_[i] != nullptr; }
    // Surplus positionals (empty unless the signature has *extra).
    const std::vector<PyObject*>& extra() const { return extra_; }

private:
    friend Arguments parse_arguments(const Signature&, PyObject*, PyObject*);
    std::vector<PyObject*> values_;
    std::vector<PyObject*> extra_;
    Ref args_;  // keeps the borrowed items alive
    Ref kwargs_;
};

Arguments parse_arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

// Runs convert(); a TypeError it raises (Python or C++) becomes
// TypeError("argument '<name>': " + message) with the original as its cause.
template <class Convert>
auto convert_argument(const char* name, Convert&& convert) -> decltype(convert()) {
    const std::string prefix = std::string("argument '") + name + "': ";
    try {
        return convert();
    } catch (const Error& e) {
        if (e.kind != ErrorKind::Type) throw;
        PyErr_SetString(PyExc_TypeError, e.what());
        prefix_pending_type_error(prefix);
        throw PythonError{};
    } catch (const PythonError&) {
        prefix_pending_type_error(prefix);
        throw;
    }
}

}  // namespace boundwise::py
