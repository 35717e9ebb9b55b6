#include "support/args.hpp"

#include <string>

#include "boundwise/error.hpp"

namespace boundwise::py {

namespace {

std::string plural_verb(std::size_t given) { return given == 1 ? "was" : "were"; }

std::string quoted_list(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        text += std::string("'") + names[i] + "'";
    }
    return text;
}

std::string keyword_text(PyObject* key) {
    if (PyUnicode_Check(key)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
        if (utf8) return std::string(utf8, static_cast<std::size_t>(size));
        PyErr_Clear();
    }
    return to_string(key);
}

}  // namespace

Arguments parse_arguments(const Signature& sig, PyObject* args, PyObject* kwargs) {
    Arguments parsed;
    parsed.args_ = Ref::borrow(args);
    parsed.kwargs_ = Ref::borrow(kwargs);
    parsed.values_.assign(sig.names.size(), nullptr);
    const std::size_t max = sig.names.size();
    const std::size_t given = args ? static_cast<std::size_t>(check_size(PyTuple_Size(args))) : 0;

    if (given > max && !sig.var_extra) {
        std::string text = std::string(sig.display) + " takes ";
        text += sig.required == max ? std::to_string(max)
                                    : "from " + std::to_string(sig.required) + " to " + std::to_string(max);
        text += " positional arguments but " + std::to_string(given) + " " + plural_verb(given) + " given";
        throw type_error(text);
    }
    for (std::size_t i = 0; i < given; ++i) {
        PyObject* item = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
        if (!item) throw PythonError{};
        if (i < max) parsed.values_[i] = item;
        else parsed.extra_.push_back(item);
    }

    if (kwargs && PyDict_Size(kwargs) > 0) {
        PyObject *key = nullptr, *value = nullptr;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const std::string name = keyword_text(key);
            std::size_t index = max;
            for (std::size_t i = 0; i < max; ++i)
                if (name == sig.names[i]) index = i;
            if (index == max)
                throw type_error(std::string(sig.display) + " got an unexpected keyword argument '" + name + "'");
            if (parsed.values_[index])
                throw type_error(std::string(sig.display) + " got multiple values for argument '" + name + "'");
            parsed.values_[index] = value;
        }
    }

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < sig.required; ++i)
        if (!parsed.values_[i]) missing.push_back(sig.names[i]);
    if (!missing.empty())
        throw type_error(std::string(sig.display) + " missing " + std::to_string(missing.size()) +
                         " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": " +
                         quoted_list(missing));
    return parsed;
}

}  // namespace boundwise::py
