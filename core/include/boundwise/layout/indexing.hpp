// NumPy-style reading and writing by key, with outer (orthogonal) selection:
// every axis of the key contributes its own positions and the result takes
// every combination, so two lists of indices do not pair up element by element.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "boundwise/array/array.hpp"

namespace boundwise {

// The positions that one key item selects along one axis, or a new axis.
struct AxisSelection {
    enum class Kind : std::uint8_t { NewAxis, Range, List };
    Kind kind = Kind::Range;
    bool drop = false;        // an integer index: the axis is consumed and leaves the result
    std::uint64_t start = 0;  // Range: start, start + step, ... (count of them)
    std::int64_t step = 1;
    std::uint64_t count = 0;
    std::vector<std::uint64_t> positions;  // List: in order, repetitions kept

    std::uint64_t at(std::uint64_t i) const {
        // Modular arithmetic: every position lies in [0, axis length).
        return kind == Kind::List ? positions[i] : start + i * static_cast<std::uint64_t>(step);
    }
};

struct OuterSelection {
    std::vector<AxisSelection> axes;  // key order: one per new axis and one per array axis
    Shape result_shape;               // 1 per new axis, the count of every axis not dropped
    // Number of selected elements; nothing when it does not fit in 64 bits.
    std::optional<std::uint64_t> count;
    // Every array axis fixed by an integer and no new axis: a single element.
    bool single() const { return result_shape.empty(); }
};

// What the caller knows of each key item before converting it.
enum class KeyKind : std::uint8_t { NewAxis, Ellipsis, Integer, Selection };

// Builds the outer selection of a key item by item, in key order; an
// Ellipsis stands for full selections of the axes no other item addresses.
class KeyResolver {
public:
    // IndexError for a second ellipsis and for more integer and selection
    // items than dimensions; ValueError when the result would have more than
    // 64 dimensions (new axes included).
    KeyResolver(const Shape& shape, std::span<const KeyKind> kinds);

    // The axis that the next integer or selection item consumes, and its length.
    std::size_t axis() const { return axis_; }
    std::uint64_t axis_length() const { return shape_[axis_]; }

    void new_axis();
    void ellipsis();
    // An index as written (negative counts from the end); IndexError when out of bounds.
    void integer(std::int64_t index);
    // Bounds as unpacked from a slice object (defaults filled in, clamped to
    // 64 bits), adjusted to the axis length as Python adjusts them; IndexError for step 0.
    void slice(std::int64_t start, std::int64_t stop, std::int64_t step);
    // Indices as written, each under the integer rule.
    void integer_list(std::span<const std::int64_t> indices);
    // The positions where the mask is true; IndexError unless its length is the axis length.
    void mask(std::span<const std::uint8_t> bytes);

    OuterSelection finish();

private:
    AxisSelection& consume();
    std::uint64_t position(std::int64_t index) const;

    Shape shape_;
    std::size_t axis_ = 0;
    std::size_t ellipsis_axes_ = 0;
    std::vector<AxisSelection> axes_;
};

// The selected elements, midpoints and radii copied exactly, in the result shape.
// ValueError when the result would hold more elements than an array can.
Array gather(const Array& a, const OuterSelection& selection);
// The one element of a single() selection, after the endpoint round trip.
Interval gather_single(const Array& a, const OuterSelection& selection);

// a[selection] = value at every selected position.
void assign(Array& a, const OuterSelection& selection, Interval value);
// a[selection] = values: a one-element array counts as that element (after
// the endpoint round trip) written everywhere; any other must hold exactly as
// many elements as are selected (ValueError "cannot assign V element(s) to a
// slice of S element(s)"), written in row-major order of the selection.
// Nothing is written unless every check passes; the buffer is made unique first.
void assign(Array& a, const OuterSelection& selection, const Array& values);

}  // namespace boundwise
