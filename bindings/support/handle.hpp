// Owned references and the check that turns a failed C-API call into a C++
// exception carrying "a Python error is pending".
#pragma once

#include <utility>

#include "support/python.hpp"

namespace boundwise::py {

// Thrown when a Python exception is already set; the trampoline lets it through.
struct PythonError {};

// An owned reference. Raw Py_DECREF appears only here and in dealloc slots.
class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* object) { return Ref(object); }
    static Ref borrow(PyObject* object) {
        Py_XINCREF(object);
        return Ref(object);
    }
    Ref(const Ref& other) : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    explicit Ref(PyObject* object) : p_(object) {}
    PyObject* p_ = nullptr;
};

// A new reference from a C-API call, or PythonError when it returned NULL.
inline Ref check(PyObject* new_reference) {
    if (!new_reference) throw PythonError{};
    return Ref::steal(new_reference);
}

// A status from a C-API call, or PythonError when it returned -1.
inline int check_status(int status) {
    if (status == -1) throw PythonError{};
    return status;
}

// A Py_ssize_t result (sizes, lengths), or PythonError when it returned -1.
inline Py_ssize_t check_size(Py_ssize_t size) {
    if (size == -1) throw PythonError{};
    return size;
}

}  // namespace boundwise::py
