#include "support/errors.hpp"

#include <new>
#include <stdexcept>

#include "boundwise/error.hpp"

namespace boundwise::py {

namespace {

constexpr const char* kInternalFailureDoc =
    "Raised when boundwise's internal code fails an internal check.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that\n"
    "ordinary 'except Exception' handlers do not catch it and it normally propagates\n"
    "to the top and ends the interpreter.";
constexpr const char* kGenericInternalFailure = "boundwise internal code failed";

PyObject* exception_for(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Type: return PyExc_TypeError;
        case ErrorKind::Value: return PyExc_ValueError;
        case ErrorKind::Index: return PyExc_IndexError;
        case ErrorKind::NotImplemented: return PyExc_NotImplementedError;
        case ErrorKind::Overflow: return PyExc_OverflowError;
        case ErrorKind::Runtime: return PyExc_RuntimeError;
        case ErrorKind::Memory: return PyExc_MemoryError;
    }
    return PyExc_SystemError;
}

void set_internal_failure(const char* message) {
    PyObject* type = internal_failure_type();
    if (!type) return;  // creating the class failed; its error is pending
    PyErr_SetString(type, message && *message ? message : kGenericInternalFailure);
}

}  // namespace

PyObject* internal_failure_type() {
    static PyObject* type = nullptr;  // created under the interpreter lock, kept for the process
    if (!type)
        type = PyErr_NewExceptionWithDoc("boundwise_runtime.InternalFailure", kInternalFailureDoc,
                                         PyExc_BaseException, nullptr);
    return type;
}

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    } catch (const Error& e) {
        PyErr_SetString(exception_for(e.kind), e.what());
    } catch (const InternalFailure& e) {
        set_internal_failure(e.what());
    } catch (const std::bad_alloc&) {
        PyErr_SetString(PyExc_MemoryError, "out of memory");
    } catch (const std::exception& e) {
        set_internal_failure(e.what());
    } catch (...) {
        set_internal_failure(nullptr);
    }
}

bool error_matches(PyObject* type) { return PyErr_ExceptionMatches(type) != 0; }

bool conversion_failed() {
    return error_matches(PyExc_TypeError) || error_matches(PyExc_ValueError) || error_matches(PyExc_OverflowError);
}

std::string to_string(PyObject* object) {
    Ref text = check(PyObject_Str(object));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (!utf8) throw PythonError{};
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::string type_name(PyObject* object) {
    PyObject* name = PyType_GetName(Py_TYPE(object));
    if (!name) {
        PyErr_Clear();
        return "unknown type";
    }
    Ref owned = Ref::steal(name);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (!utf8) {
        PyErr_Clear();
        return "unknown type";
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

void prefix_pending_type_error(const std::string& prefix) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref cause_type = Ref::steal(type), cause = Ref::steal(value), cause_tb = Ref::steal(traceback);
    if (cause_tb) PyException_SetTraceback(cause.get(), cause_tb.get());
    const std::string text = prefix + to_string(cause.get());
    Ref wrapped = check(PyObject_CallFunction(PyExc_TypeError, "s", text.c_str()));
    PyException_SetCause(wrapped.get(), cause.release());  // steals the cause
    PyErr_SetObject(PyExc_TypeError, wrapped.get());
}

}  // namespace boundwise::py
