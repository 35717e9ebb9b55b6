// Python buffers (NumPy arrays, array.array, memoryview) as blocks of numbers
// the core can read: the buffer is held for the duration of a call and its
// format string is translated to a NumberFormat.
#pragma once

#include <memory>
#include <optional>

#include "boundwise/create/from_numbers.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

class HeldBuffer {
public:
    // The buffer of `object` with its strides and format, when it exports one
    // of numbers or bytes; nothing for objects without the buffer interface and
    // for buffers of Python objects (format 'O'), which read as sequences.
    // An exporter's own failure propagates.
    static std::optional<HeldBuffer> acquire(PyObject* object);

    int ndim() const { return view_->ndim; }
    // The element count.
    std::uint64_t size() const;
    // The numbers with their shape and byte strides. TypeError "cannot convert
    // a buffer of format '<f>' to interval values; expected numbers of a
    // float, integer or bool format" for any other format.
    StridedNumbers numbers() const;
    // The contents as `n` little-endian doubles, when the buffer holds exactly
    // their 8 * n bytes, contiguously, as unsigned bytes (how pickle protocol 5
    // hands back out-of-band and in-band buffers).
    std::optional<StridedNumbers> as_raw_doubles(std::uint64_t n) const;

private:
    HeldBuffer() = default;
    struct Release {
        void operator()(Py_buffer* view) const;
    };
    // On the heap: exporters may point the view's shape and strides into the
    // view itself (bytes does), so it must not move.
    std::unique_ptr<Py_buffer, Release> view_;
};

}  // namespace boundwise::py
