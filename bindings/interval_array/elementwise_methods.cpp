// Element-wise methods of IntervalArray: rounding, abs, sign, nan_to_num,
// clip, maximum, minimum, the elementary functions and power. Each parses its
// arguments, copies the operand values, runs the core with the interpreter
// lock released, reports status flags and wraps the result.
#include <climits>
#include <optional>
#include <utility>

#include "boundwise/elementwise/functions.hpp"
#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "support/status.hpp"

namespace boundwise::py {

namespace {

template <class Compute>
PyObject* run_released(Compute&& compute) {
    Result<Array> result;
    {
        ReleasedLock unlocked;
        result = compute();
    }
    report_status(result.flags);
    return wrap(std::move(result.value));
}

// Methods without arguments.
template <const char* Display, Result<Array> (*Compute)(const Array&)>
PyObject* unary_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const Signature signature{Display, {}, 0, false};
    parse_arguments(signature, args, kwargs);
    const Array a = read_array(self);
    return run_released([&] { return Compute(a); });
}

template <Elementary F>
Result<Array> elementary_of(const Array& a) { return elementary(a, F); }
template <IntegerRounding Mode>
Result<Array> rounded(const Array& a) { return round_to_integer(a, Mode); }
Result<Array> absolute_of(const Array& a) { return absolute(a); }
Result<Array> sign_of(const Array& a) { return sign(a); }
Result<Array> nan_to_num_of(const Array& a) { return nan_to_num(a); }

PyObject* absolute_slot(PyObject* self) noexcept {
    return guarded([&] {
        const Array a = read_array(self);
        return run_released([&] { return absolute_of(a); });
    });
}

// ndigits: None or absent rounds to integers; otherwise a 32-bit signed integer.
std::optional<std::int32_t> ndigits_argument(const Arguments& a) {
    if (!a.has(0) || a[0] == Py_None) return std::nullopt;
    const std::int64_t n = convert_argument("ndigits", [&] { return to_i64(a[0]); });
    if (n < INT32_MIN || n > INT32_MAX) throw Error(ErrorKind::Overflow, "Python int too large to convert to C int");
    return static_cast<std::int32_t>(n);
}

template <const char* Display>
PyObject* round_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const Signature signature{Display, {"ndigits"}, 0, false};
    const Arguments a = parse_arguments(signature, args, kwargs);
    const std::optional<std::int32_t> ndigits = ndigits_argument(a);
    const Array x = read_array(self);
    return run_released([&]() -> Result<Array> {
        if (ndigits) return round_decimals(x, *ndigits);
        return round_to_integer(x, IntegerRounding::HalfEven);
    });
}

const Signature kClip{"IntervalArray.clip()", {"a_min", "a_max"}, 2, false};
PyObject* clip_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    const Arguments a = parse_arguments(kClip, args, kwargs);
    const double a_min = convert_argument("a_min", [&] { return to_double(a[0]); });
    const double a_max = convert_argument("a_max", [&] { return to_double(a[1]); });
    const Array x = read_array(self);
    return run_released([&] { return Result<Array>(clip(x, a_min, a_max)); });
}

// maximum, minimum and power take an array (broadcast with self) or anything
// PyFloat_AsDouble accepts; other operands fail with the operation's TypeError.
template <const char* Display, const char* Name, class OnArray, class OnNumber>
PyObject* binary_method(PyObject* self, PyObject* args, PyObject* kwargs, OnArray on_array, OnNumber on_number) {
    static const Signature signature{Display, {"other"}, 1, false};
    const Arguments a = parse_arguments(signature, args, kwargs);
    const Array x = read_array(self);
    if (is_interval_array(a[0])) {
        const Array y = read_array(a[0]);
        return run_released([&] { return Result<Array>(on_array(x, y)); });
    }
    const std::optional<double> number = try_double(a[0]);
    if (!number) throw type_error(std::string("unsupported operand type for ") + Name);
    return run_released([&] { return Result<Array>(on_number(x, *number)); });
}

constexpr char kMaximum[] = "IntervalArray.maximum()";
constexpr char kMinimum[] = "IntervalArray.minimum()";
constexpr char kPower[] = "IntervalArray.power()";
constexpr char kMaximumName[] = "maximum";
constexpr char kMinimumName[] = "minimum";
constexpr char kPowerName[] = "power";

PyObject* maximum_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    return binary_method<kMaximum, kMaximumName>(
        self, args, kwargs, [](const Array& x, const Array& y) { return maximum(x, y); },
        [](const Array& x, double y) { return maximum(x, y); });
}
PyObject* minimum_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    return binary_method<kMinimum, kMinimumName>(
        self, args, kwargs, [](const Array& x, const Array& y) { return minimum(x, y); },
        [](const Array& x, double y) { return minimum(x, y); });
}
PyObject* power_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    return binary_method<kPower, kPowerName>(
        self, args, kwargs, [](const Array& x, const Array& y) { return power(x, y); },
        [](const Array& x, double p) { return power(x, p); });
}

constexpr char kSin[] = "IntervalArray.sin()";
constexpr char kCos[] = "IntervalArray.cos()";
constexpr char kTan[] = "IntervalArray.tan()";
constexpr char kExp[] = "IntervalArray.exp()";
constexpr char kLn[] = "IntervalArray.ln()";
constexpr char kLog[] = "IntervalArray.log()";
constexpr char kLog2[] = "IntervalArray.log2()";
constexpr char kLog10[] = "IntervalArray.log10()";
constexpr char kSqrt[] = "IntervalArray.sqrt()";
constexpr char kAbs[] = "IntervalArray.abs()";
constexpr char kFloor[] = "IntervalArray.floor()";
constexpr char kCeil[] = "IntervalArray.ceil()";
constexpr char kTrunc[] = "IntervalArray.trunc()";
constexpr char kRound[] = "IntervalArray.round()";
constexpr char kDunderRound[] = "IntervalArray.__round__()";
constexpr char kSign[] = "IntervalArray.sign()";
constexpr char kNanToNum[] = "IntervalArray.nan_to_num()";

void* slot_pointer(auto function) { return reinterpret_cast<void*>(function); }

}  // namespace

void add_elementwise_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(method_def<unary_method<kAbs, absolute_of>>(
        "abs", "abs($self)\n--\n\nElement-wise absolute value."));
    methods.push_back(method_def<unary_method<kFloor, rounded<IntegerRounding::Floor>>>(
        "floor", "floor($self)\n--\n\nElement-wise floor."));
    methods.push_back(method_def<unary_method<kCeil, rounded<IntegerRounding::Ceil>>>(
        "ceil", "ceil($self)\n--\n\nElement-wise ceiling."));
    methods.push_back(method_def<unary_method<kTrunc, rounded<IntegerRounding::Trunc>>>(
        "trunc", "trunc($self)\n--\n\nElement-wise truncation towards zero."));
    methods.push_back(method_def<round_method<kRound>>(
        "round", "round($self, ndigits=None)\n--\n\n"
                 "Round to the nearest integer (ties to even), or to the nearest multiple of 10**-ndigits."));
    methods.push_back(method_def<round_method<kDunderRound>>(
        "__round__", "__round__($self, ndigits=None)\n--\n\n"
                     "Round to the nearest integer (ties to even), or to the nearest multiple of 10**-ndigits."));
    methods.push_back(method_def<unary_method<kSign, sign_of>>(
        "sign", "sign($self)\n--\n\n"
                "Exact -1, 0 or 1 per element: -1 where every point is negative, 1 where every point is "
                "positive, and 0 otherwise (an interval holding 0 or points of both signs, NaN, the entire "
                "line). This is a certain-sign test by design, not an enclosure of the signs."));
    methods.push_back(method_def<unary_method<kNanToNum, nan_to_num_of>>(
        "nan_to_num", "nan_to_num($self)\n--\n\n"
                      "Replace NaN elements by 0 and infinite midpoints and radii by the largest finite doubles."));
    methods.push_back(method_def<clip_method>(
        "clip", "clip($self, a_min, a_max)\n--\n\nClamp every element into [a_min, a_max]."));
    methods.push_back(method_def<maximum_method>(
        "maximum", "maximum($self, other)\n--\n\nElement-wise maximum with an array or a number."));
    methods.push_back(method_def<minimum_method>(
        "minimum", "minimum($self, other)\n--\n\nElement-wise minimum with an array or a number."));
    methods.push_back(method_def<unary_method<kSin, elementary_of<Elementary::Sin>>>(
        "sin", "sin($self)\n--\n\nElement-wise sine."));
    methods.push_back(method_def<unary_method<kCos, elementary_of<Elementary::Cos>>>(
        "cos", "cos($self)\n--\n\nElement-wise cosine."));
    methods.push_back(method_def<unary_method<kTan, elementary_of<Elementary::Tan>>>(
        "tan", "tan($self)\n--\n\nElement-wise tangent."));
    methods.push_back(method_def<unary_method<kExp, elementary_of<Elementary::Exp>>>(
        "exp", "exp($self)\n--\n\nElement-wise exponential."));
    methods.push_back(method_def<unary_method<kLn, elementary_of<Elementary::Ln>>>(
        "ln", "ln($self)\n--\n\nElement-wise natural logarithm."));
    methods.push_back(method_def<unary_method<kLog, elementary_of<Elementary::Ln>>>(
        "log", "log($self)\n--\n\nNumPy-style alias for `ln`."));
    methods.push_back(method_def<unary_method<kLog2, elementary_of<Elementary::Log2>>>(
        "log2", "log2($self)\n--\n\nElement-wise base-2 logarithm."));
    methods.push_back(method_def<unary_method<kLog10, elementary_of<Elementary::Log10>>>(
        "log10", "log10($self)\n--\n\nElement-wise base-10 logarithm."));
    methods.push_back(method_def<unary_method<kSqrt, elementary_of<Elementary::Sqrt>>>(
        "sqrt", "sqrt($self)\n--\n\nElement-wise square root."));
    methods.push_back(method_def<power_method>(
        "power", "power($self, other)\n--\n\nElement-wise power with an array or a number as exponent."));
}

void add_elementwise_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_nb_absolute, slot_pointer(absolute_slot)});
}

}  // namespace boundwise::py
