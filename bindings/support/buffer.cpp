#include "support/buffer.hpp"

#include <bit>
#include <cstring>
#include <string>
#include <string_view>

#include "boundwise/error.hpp"

namespace boundwise::py {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// A struct-module format of one number: an optional byte-order character and
// one type letter. '@' (or none) means native sizes, the others standard sizes.
std::optional<NumberFormat> parse_format(std::string_view format) {
    bool native_sizes = true, swap = false;
    if (!format.empty()) {
        switch (format.front()) {
            case '@': format.remove_prefix(1); break;
            case '=': native_sizes = false; format.remove_prefix(1); break;
            case '<': native_sizes = false; swap = !kLittleEndian; format.remove_prefix(1); break;
            case '>':
            case '!': native_sizes = false; swap = kLittleEndian; format.remove_prefix(1); break;
        }
    }
    if (format.size() != 1) return std::nullopt;
    const auto make = [&](NumberKind kind, std::size_t size) { return NumberFormat{kind, static_cast<std::uint8_t>(size), swap}; };
    switch (format.front()) {
        case '?': return make(NumberKind::Bool, 1);
        case 'b': return make(NumberKind::Signed, 1);
        case 'B': return make(NumberKind::Unsigned, 1);
        case 'h': return make(NumberKind::Signed, 2);
        case 'H': return make(NumberKind::Unsigned, 2);
        case 'i': return make(NumberKind::Signed, 4);
        case 'I': return make(NumberKind::Unsigned, 4);
        case 'l': return make(NumberKind::Signed, native_sizes ? sizeof(long) : 4);
        case 'L': return make(NumberKind::Unsigned, native_sizes ? sizeof(long) : 4);
        case 'q': return make(NumberKind::Signed, 8);
        case 'Q': return make(NumberKind::Unsigned, 8);
        case 'e': return make(NumberKind::Float, 2);
        case 'f': return make(NumberKind::Float, 4);
        case 'd': return make(NumberKind::Float, 8);
    }
    if (native_sizes) {
        switch (format.front()) {
            case 'n': return make(NumberKind::Signed, sizeof(Py_ssize_t));
            case 'N': return make(NumberKind::Unsigned, sizeof(std::size_t));
            case 'g': return make(NumberKind::Float, sizeof(long double));
        }
    }
    return std::nullopt;
}

std::string_view format_of(const Py_buffer& view) { return view.format ? view.format : "B"; }

}  // namespace

void HeldBuffer::Release::operator()(Py_buffer* view) const {
    PyBuffer_Release(view);
    delete view;
}

std::optional<HeldBuffer> HeldBuffer::acquire(PyObject* object) {
    if (!PyObject_CheckBuffer(object)) return std::nullopt;
    auto view = std::make_unique<Py_buffer>();
    check_status(PyObject_GetBuffer(object, view.get(), PyBUF_RECORDS_RO));
    HeldBuffer held;
    held.view_.reset(view.release());
    const std::string_view format = format_of(*held.view_);
    if (format == "O" || format == "@O") return std::nullopt;
    return held;
}

std::uint64_t HeldBuffer::size() const {
    if (view_->itemsize == 0) return 0;
    return static_cast<std::uint64_t>(view_->len / view_->itemsize);
}

StridedNumbers HeldBuffer::numbers() const {
    const std::string_view format = format_of(*view_);
    const std::optional<NumberFormat> parsed = parse_format(format);
    if (!parsed || parsed->size != view_->itemsize || !is_readable(*parsed))
        throw type_error("cannot convert a buffer of format '" + std::string(format) +
                         "' to interval values; expected numbers of a float, integer or bool format");
    StridedNumbers numbers;
    numbers.data = static_cast<const std::byte*>(view_->buf);
    numbers.format = *parsed;
    if (!view_->shape) {  // only when the exporter ignored PyBUF_ND: one flat run
        numbers.shape = {size()};
        numbers.strides = {view_->itemsize};
        return numbers;
    }
    std::int64_t contiguous = view_->itemsize;
    numbers.shape.resize(static_cast<std::size_t>(view_->ndim));
    numbers.strides.resize(static_cast<std::size_t>(view_->ndim));
    for (int k = view_->ndim; k-- > 0;) {
        numbers.shape[k] = static_cast<std::uint64_t>(view_->shape[k]);
        numbers.strides[k] = view_->strides ? view_->strides[k] : contiguous;
        contiguous *= view_->shape[k];
    }
    return numbers;
}

std::optional<StridedNumbers> HeldBuffer::as_raw_doubles(std::uint64_t n) const {
    if (n == 0 || format_of(*view_) != "B" || view_->itemsize != 1 || static_cast<std::uint64_t>(view_->len) / 8 != n ||
        view_->len % 8 != 0 || !PyBuffer_IsContiguous(view_.get(), 'C'))
        return std::nullopt;
    StridedNumbers numbers;
    numbers.data = static_cast<const std::byte*>(view_->buf);
    numbers.format = {NumberKind::Float, 8, !kLittleEndian};
    numbers.shape = {n};
    numbers.strides = {8};
    return numbers;
}

}  // namespace boundwise::py
