// Argument parsing against a parameter list written once, as the text between
// the parentheses of the text signature ("shape, value, error=0.0"), with the
// messages Python users know.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "boundwise/error.hpp"
#include "support/errors.hpp"

namespace boundwise::py {

inline constexpr std::size_t kMaxParameters = 8;

// A parameter list read from its text: names in order, the first `required`
// without a default, the first `positional` that may be given by position (a
// bare * makes the rest keyword-only), and whether a trailing *extra collects
// surplus positionals.
struct Parameters {
    std::array<std::string_view, kMaxParameters> names{};
    std::size_t count = 0;
    std::size_t required = 0;
    std::size_t positional = 0;
    bool var_extra = false;
};

namespace detail {

constexpr std::string_view trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

constexpr bool is_identifier(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name)
        if (!(c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

}  // namespace detail

// Reads "a, b=1, *extra" or "a, *, b=1" at compile time. A malformed list (a
// required name after a default, *extra not last, a keyword-only parameter
// without default, repeated or invalid names, too many) stops the build at the
// throw that describes it.
consteval Parameters read_parameters(std::string_view text) {
    Parameters p;
    bool seen_default = false;
    bool keyword_only = false;
    text = detail::trim(text);
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view item = detail::trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : detail::trim(text.substr(comma + 1));
        if (p.var_extra) throw "*extra must be the last parameter";
        if (item == "*") {
            if (keyword_only) throw "repeated *";
            keyword_only = true;
            continue;
        }
        if (item.starts_with('*')) {
            if (keyword_only) throw "*extra after *";
            if (!detail::is_identifier(item.substr(1))) throw "invalid *extra name";
            p.var_extra = true;
            continue;
        }
        const std::size_t equals = item.find('=');
        const bool has_default = equals != std::string_view::npos;
        const std::string_view name = detail::trim(item.substr(0, equals));
        if (!detail::is_identifier(name)) throw "invalid parameter name";
        if (has_default && detail::trim(item.substr(equals + 1)).empty()) throw "empty default";
        if (!has_default && seen_default) throw "a parameter without default follows one with a default";
        for (std::size_t i = 0; i < p.count; ++i)
            if (p.names[i] == name) throw "repeated parameter name";
        if (p.count == kMaxParameters) throw "more parameters than kMaxParameters";
        if (keyword_only && !has_default) throw "a keyword-only parameter needs a default";
        seen_default = seen_default || has_default;
        p.names[p.count++] = name;
        if (!has_default) p.required = p.count;
        if (!keyword_only) p.positional = p.count;
    }
    return p;
}

// Whom a call addresses: `owner` is empty for a module function ("zeros()" in
// messages) and the class name for a method ("IntervalArray.reshape()").
struct CallSite {
    std::string_view owner;
    std::string_view name;
    Parameters parameters;

    std::string display() const;
};

// Parsed arguments: borrowed references, NULL where an optional one is absent,
// valid for the duration of the call; the surplus positionals when the
// parameter list ends in *extra.
class Arguments {
public:
    PyObject* operator[](std::size_t i) const { return values_[i]; }
    bool has(std::size_t i) const { return values_[i] != nullptr; }
    std::span<PyObject* const> extra() const {
        return spilled_.empty() ? extra_ : std::span<PyObject* const>(spilled_);
    }
    std::string_view name(std::size_t i) const { return site_->parameters.names[i]; }

    // convert(argument i), with a TypeError reported as "argument '<name>': ...".
    template <class Convert>
    auto convert(std::size_t i, Convert&& convert) const;
    // The same, or `absent` when the argument was not given.
    template <class T, class Convert>
    T convert_or(std::size_t i, T absent, Convert&& convert) const;

private:
    friend Arguments parse_arguments(const CallSite&, PyObject* const*, Py_ssize_t, PyObject*);
    friend Arguments parse_arguments(const CallSite&, PyObject*, PyObject*);
    explicit Arguments(const CallSite& site) : site_(&site) {}

    const CallSite* site_;
    std::array<PyObject*, kMaxParameters> values_{};
    std::span<PyObject* const> extra_;  // surplus positionals of a vectorcall
    std::vector<PyObject*> spilled_;    // those taken from a tuple
};

// The vectorcall form (METH_FASTCALL | METH_KEYWORDS): args[0, nargs) are the
// positionals, followed by the values of the keywords named in kwnames.
Arguments parse_arguments(const CallSite& site, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// The tuple and dict form of tp_new.
Arguments parse_arguments(const CallSite& site, PyObject* args, PyObject* kwargs);

// Runs convert(); a TypeError it raises (Python or C++) becomes
// TypeError("argument '<name>': " + message) with the original as its cause.
template <class Convert>
auto convert_argument(std::string_view name, Convert&& convert) -> decltype(convert()) {
    const auto prefix = [&] { return "argument '" + std::string(name) + "': "; };
    try {
        return convert();
    } catch (const Error& e) {
        if (e.kind != ErrorKind::Type) throw;
        PyErr_SetString(PyExc_TypeError, e.what());
        prefix_pending_type_error(prefix());
        throw PythonError{};
    } catch (const PythonError&) {
        prefix_pending_type_error(prefix());
        throw;
    }
}

template <class Convert>
auto Arguments::convert(std::size_t i, Convert&& convert) const {
    return convert_argument(name(i), [&] { return convert(values_[i]); });
}

template <class T, class Convert>
T Arguments::convert_or(std::size_t i, T absent, Convert&& convert) const {
    return has(i) ? T(this->convert(i, convert)) : absent;
}

}  // namespace boundwise::py
