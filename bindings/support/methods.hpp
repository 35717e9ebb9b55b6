// Functions, methods and properties, each declared once as a row of a constexpr
// table. From a row come the doc with its text signature ("name(params)\n--\n\n"
// + body, "$self, " in front for a method; CPython derives __text_signature__
// and inspect.signature from it), the argument parsing and its messages. Entries
// use METH_FASTCALL | METH_KEYWORDS and parse onto the stack.
//
// A module function: an implementation
//     PyObject* linspace_function(PyObject* module, const Arguments& a);
// and a row in a function_table:
//     {"linspace", "start, stop, num=50, endpoint=True", linspace_function, "Evenly spaced exact points."},
// a[i] is the i-th parameter (NULL when absent) and a.extra() the positionals a
// trailing "*extra" collects. Defaults are text for the signature; the body
// applies them: a.convert_or(2, std::uint64_t{50}, to_u64). Conversions through
// a.convert(i, ...) name the parameter in their TypeError. The module registers
// each table once, in its order: add_entries<kTable>(functions).
//
// A method: the same with `self` the instance, in a method_table("IntervalArray",
// {...}) that the class's create_type registers.
//
// An element-wise method: one row {"exp", exp, "doc"} in a method table, with exp
// a core function Array(const Array&) or Result<Array>(const Array&). The shared
// entry refuses arguments, reads self, runs the function (without the
// interpreter lock on large arrays), reports the status flags and wraps.
//
// A property of IntervalArray: {"shape", get_shape, "doc"} in a property_table,
// with get_shape PyObject*(const Array&) returning a new reference;
// add_properties<kTable>(getsets).
//
// A function without any arguments in the METH_NOARGS sense ("takes no arguments
// (1 given)"): {"num_threads", body, "doc"} with body PyObject*().
//
// A class: a ClassDeclaration (name, parameters of __new__, body, doc) and
// create_class<kClass>(...) with its slot, method and property tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"
#include "interval_array/interval_array.hpp"
#include "support/args.hpp"
#include "support/heap_type.hpp"
#include "support/objects.hpp"
#include "support/status.hpp"
#include "support/trampoline.hpp"

namespace boundwise::py {

using Body = PyObject* (*)(PyObject* self, const Arguments& arguments);
using NoArgumentsBody = PyObject* (*)();
using ArrayFunction = Array (*)(const Array&);
using ArrayFunctionWithStatus = Result<Array> (*)(const Array&);
using Getter = PyObject* (*)(const Array& value);
using NewBody = PyObject* (*)(PyTypeObject* type, const Arguments& arguments);

// The METH_FASTCALL | METH_KEYWORDS signature.
using FastCall = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
static_assert(std::is_same_v<FastCall, _PyCFunctionFastWithKeywords>);

// Which of the callables a row holds. Entries dispatch on it rather than on a
// pointer being null: with the sanitizers on, GCC no longer folds the address
// of a function compared with null into a constant.
enum class RowKind { Body, NoArguments, ElementWise, ElementWiseWithStatus };

struct Declaration {
    const char* name;
    const char* parameters = "";
    const char* doc;
    RowKind kind;
    Body body = nullptr;
    NoArgumentsBody no_arguments = nullptr;
    ArrayFunction element_wise = nullptr;
    ArrayFunctionWithStatus element_wise_with_status = nullptr;

    constexpr Declaration(const char* n, const char* p, Body b, const char* d)
        : name(n), parameters(p), doc(d), kind(RowKind::Body), body(b) {}
    constexpr Declaration(const char* n, NoArgumentsBody b, const char* d)
        : name(n), doc(d), kind(RowKind::NoArguments), no_arguments(b) {}
    constexpr Declaration(const char* n, ArrayFunction f, const char* d)
        : name(n), doc(d), kind(RowKind::ElementWise), element_wise(f) {}
    constexpr Declaration(const char* n, ArrayFunctionWithStatus f, const char* d)
        : name(n), doc(d), kind(RowKind::ElementWiseWithStatus), element_wise_with_status(f) {}
};

// `owner` is empty for module functions and the class name for methods.
template <std::size_t N>
struct Table {
    std::string_view owner;
    std::array<Declaration, N> rows;
};

template <std::size_t N>
consteval Table<N> function_table(const Declaration (&rows)[N]) {
    return {"", std::to_array(rows)};
}

template <std::size_t N>
consteval Table<N> method_table(std::string_view owner, const Declaration (&rows)[N]) {
    return {owner, std::to_array(rows)};
}

struct Property {
    const char* name;
    Getter get;
    const char* doc;
};

template <std::size_t N>
struct PropertyTable {
    std::array<Property, N> rows;
};

template <std::size_t N>
consteval PropertyTable<N> property_table(const Property (&rows)[N]) {
    return {std::to_array(rows)};
}

// A class: its name, the parameters and body of __new__, and its doc body.
struct ClassDeclaration {
    const char* name;
    const char* parameters;
    NewBody body;
    const char* doc;
};

// Static text built at compile time from pieces.
template <std::size_t N>
struct FixedText {
    std::array<char, N> chars{};
    constexpr const char* c_str() const { return chars.data(); }
};

// The doc whose first line CPython reads as the text signature.
consteval std::array<std::string_view, 6> doc_pieces(std::string_view name, bool method, std::string_view parameters,
                                                     std::string_view body) {
    const std::string_view self = !method ? "" : parameters.empty() ? "$self" : "$self, ";
    return {name, "(", self, parameters, ")\n--\n\n", body};
}

template <std::size_t N>
consteval std::size_t pieces_size(const std::array<std::string_view, N>& pieces) {
    std::size_t size = 1;
    for (std::string_view piece : pieces) size += piece.size();
    return size;
}

template <std::size_t Size, std::size_t N>
consteval FixedText<Size> pieces_text(const std::array<std::string_view, N>& pieces) {
    FixedText<Size> text;
    std::size_t at = 0;
    for (std::string_view piece : pieces)
        for (char c : piece) text.chars[at++] = c;
    return text;
}

// Pieces joined into static text, the pieces being constexpr (Pieces names them).
template <const auto& Pieces>
inline constexpr auto kJoined = pieces_text<pieces_size(Pieces)>(Pieces);

// Runs compute() (returning an Array or a Result<Array>) over operands of up to
// `size` elements, without the interpreter lock on large operands
// (unlocked_if_large); reports the status flags and wraps the result.
template <class Compute>
PyObject* run_element_wise(std::uint64_t size, Compute&& compute) {
    Result<Array> result = unlocked_if_large(size, [&]() -> Result<Array> { return compute(); });
    report_status(result.flags);
    return wrap(std::move(result.value));
}

// Runs an element-wise core function on self: the shared entry of element-wise methods.
PyObject* apply_to_self(PyObject* self, ArrayFunction function);
PyObject* apply_to_self(PyObject* self, ArrayFunctionWithStatus function);

// The entry point of row I of table T.
template <const auto& T, std::size_t I>
struct Entry {
    static constexpr const Declaration& row = T.rows[I];
    static constexpr CallSite site{T.owner, row.name, read_parameters(row.parameters)};
    static constexpr auto pieces = doc_pieces(row.name, !T.owner.empty(), row.parameters, row.doc);
    static constexpr const auto& doc = kJoined<pieces>;
    static_assert(!T.owner.empty() || row.kind == RowKind::Body || row.kind == RowKind::NoArguments,
                  "element-wise rows belong to method tables");

    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guarded([&]() -> PyObject* {
            if constexpr (row.kind == RowKind::Body) {
                return row.body(self, parse_arguments(site, args, nargs, kwnames));
            } else {
                if (nargs != 0 || kwnames) parse_arguments(site, args, nargs, kwnames);
                if constexpr (row.kind == RowKind::ElementWise) return apply_to_self(self, row.element_wise);
                else return apply_to_self(self, row.element_wise_with_status);
            }
        });
    }

    static PyObject* call_without_arguments(PyObject*, PyObject*) noexcept {
        return guarded([] { return row.no_arguments(); });
    }

    static PyMethodDef definition() {
        if constexpr (row.kind == RowKind::NoArguments)
            return {row.name, call_without_arguments, METH_NOARGS, doc.c_str()};
        else
            return {row.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)),
                    METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
    }
};

template <const auto& T, std::size_t I>
struct PropertyEntry {
    static PyObject* get(PyObject* self, void*) noexcept {
        return guarded([&] { return T.rows[I].get(read_array(self)); });
    }
    static PyGetSetDef definition() { return {T.rows[I].name, get, nullptr, T.rows[I].doc, nullptr}; }
};

// Appends the definitions of a table's rows, in order.
template <const auto& T>
void add_entries(std::vector<PyMethodDef>& out) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (out.push_back(Entry<T, I>::definition()), ...);
    }(std::make_index_sequence<T.rows.size()>{});
}

template <const auto& T>
void add_properties(std::vector<PyGetSetDef>& out) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (out.push_back(PropertyEntry<T, I>::definition()), ...);
    }(std::make_index_sequence<T.rows.size()>{});
}

// The class's tp_new (parsing as "<Class>.__new__()") and its doc with the text
// signature of the constructor.
template <const ClassDeclaration& C>
struct ClassEntry {
    static constexpr CallSite site{C.name, "__new__", read_parameters(C.parameters)};
    static constexpr auto pieces = doc_pieces(C.name, false, C.parameters, C.doc);
    static constexpr const auto& doc = kJoined<pieces>;
    static constexpr std::array<std::string_view, 3> name_pieces{kModuleName, ".", C.name};
    static constexpr const auto& qualified = kJoined<name_pieces>;

    static PyObject* new_instance(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
        return guarded([&] { return C.body(type, parse_arguments(site, args, kwargs)); });
    }
};

// Builds class C from its tables; its doc and tp_new come from the declaration.
template <const ClassDeclaration& C>
PyTypeObject* create_class(int basicsize, unsigned flags, TypeTables tables) {
    using E = ClassEntry<C>;
    tables.slots.push_back({Py_tp_doc, const_cast<char*>(E::doc.c_str())});
    tables.slots.push_back({Py_tp_new, slot_pointer(E::new_instance)});
    return create_heap_type(E::qualified.c_str(), basicsize, flags, std::move(tables));
}

}  // namespace boundwise::py
