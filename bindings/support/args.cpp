#include "support/args.hpp"

#include <algorithm>
#include <string>

#include "boundwise/error.hpp"

namespace boundwise::py {

namespace {

// The parameter lists the module declares, read as Python reads them.
constexpr Parameters kEye = read_parameters("n, m=None, k=0");
static_assert(kEye.count == 3 && kEye.required == 1 && !kEye.var_extra && kEye.names[2] == "k");
constexpr Parameters kNormal = read_parameters("loc=0.0, scale=1.0, size=None, *extra");
static_assert(kNormal.count == 3 && kNormal.required == 0 && kNormal.var_extra && kNormal.names[0] == "loc");
static_assert(read_parameters("").count == 0 && read_parameters("shape, *extra").required == 1);
constexpr Parameters kKeywordOnly = read_parameters("a, b, *, method='gauss'");
static_assert(kKeywordOnly.count == 3 && kKeywordOnly.required == 2 && kKeywordOnly.positional == 2);

std::string plural_verb(std::size_t given) { return given == 1 ? "was" : "were"; }

std::string quoted_list(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        text += "'" + std::string(names[i]) + "'";
    }
    return text;
}

// The UTF-8 text of a keyword; a str keyword's text needs no copy.
std::string_view keyword_view(PyObject* key) {
    if (!PyUnicode_Check(key)) return {};
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
    if (!utf8) {
        PyErr_Clear();
        return {};
    }
    return {utf8, static_cast<std::size_t>(size)};
}

std::string keyword_text(PyObject* key) {
    const std::string_view text = keyword_view(key);
    return text.data() ? std::string(text) : to_string(key);
}

void check_positional_count(const CallSite& site, std::size_t given) {
    const Parameters& p = site.parameters;
    if (given <= p.positional || p.var_extra) return;
    std::string text = site.display() + " takes ";
    text += p.required == p.positional
                ? std::to_string(p.positional)
                : "from " + std::to_string(p.required) + " to " + std::to_string(p.positional);
    text += " positional arguments but " + std::to_string(given) + " " + plural_verb(given) + " given";
    throw type_error(text);
}

// Stores the value of keyword `key` in its parameter's place.
void assign_keyword(const CallSite& site, std::array<PyObject*, kMaxParameters>& values, PyObject* key,
                    PyObject* value) {
    const Parameters& p = site.parameters;
    const std::string_view name = keyword_view(key);
    std::size_t index = 0;
    while (index < p.count && !(name.data() && p.names[index] == name)) ++index;
    if (index == p.count)
        throw type_error(site.display() + " got an unexpected keyword argument '" + keyword_text(key) + "'");
    if (values[index])
        throw type_error(site.display() + " got multiple values for argument '" + std::string(name) + "'");
    values[index] = value;
}

void check_required(const CallSite& site, const std::array<PyObject*, kMaxParameters>& values) {
    const Parameters& p = site.parameters;
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < p.required; ++i)
        if (!values[i]) missing.push_back(p.names[i]);
    if (missing.empty()) return;
    throw type_error(site.display() + " missing " + std::to_string(missing.size()) + " required positional " +
                     (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_list(missing));
}

}  // namespace

std::string CallSite::display() const {
    return (owner.empty() ? std::string(name) : std::string(owner) + "." + std::string(name)) + "()";
}

Arguments parse_arguments(const CallSite& site, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Arguments parsed(site);
    const std::size_t given = static_cast<std::size_t>(nargs);
    check_positional_count(site, given);
    const std::size_t named = std::min(given, site.parameters.positional);
    for (std::size_t i = 0; i < named; ++i) parsed.values_[i] = args[i];
    if (given > named) parsed.extra_ = std::span<PyObject* const>(args + named, given - named);
    if (kwnames) {
        const Py_ssize_t keywords = check_size(PyTuple_Size(kwnames));
        for (Py_ssize_t k = 0; k < keywords; ++k)
            assign_keyword(site, parsed.values_, PyTuple_GetItem(kwnames, k), args[nargs + k]);
    }
    if (given < site.parameters.required) check_required(site, parsed.values_);
    return parsed;
}

Arguments parse_arguments(const CallSite& site, PyObject* args, PyObject* kwargs) {
    Arguments parsed(site);
    const std::size_t given = args ? static_cast<std::size_t>(check_size(PyTuple_Size(args))) : 0;
    check_positional_count(site, given);
    for (std::size_t i = 0; i < given; ++i) {
        PyObject* item = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
        if (!item) throw PythonError{};
        if (i < site.parameters.positional) parsed.values_[i] = item;
        else parsed.spilled_.push_back(item);
    }
    if (kwargs && PyDict_Size(kwargs) > 0) {
        PyObject *key = nullptr, *value = nullptr;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &key, &value)) assign_keyword(site, parsed.values_, key, value);
    }
    check_required(site, parsed.values_);
    return parsed;
}

}  // namespace boundwise::py
