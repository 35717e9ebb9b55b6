// Reductions along one axis. A row-major array seen along axis k is
// outer x length x inner: lane (o, i) is the sequence of elements
// o * length * inner + j * inner + i for j = 0 .. length - 1, and lanes are
// numbered o * inner + i, which is the element order of the result.
#pragma once

#include <cstdint>
#include <vector>

#include "boundwise/array/shape.hpp"

namespace boundwise {

struct LaneLayout {
    std::uint64_t outer = 1;
    std::uint64_t length = 1;
    std::uint64_t inner = 1;
    Shape reduced;  // the input shape without the axis

    std::uint64_t lanes() const { return outer * inner; }
};

// ValueError "axis A is out of bounds for array of dimension N" first; then
// the ValueError of element_count when the result would be too big (an empty
// array with huge other dimensions), as for any result shape.
LaneLayout lane_layout(const Shape& shape, std::uint64_t axis);

// Runs one reduction over every lane, walking memory in element order (the
// inner index fastest), so a lane's elements arrive in increasing j while
// every access stays sequential:
//   start(state, lane)        before the lane's first element,
//   step(state, index, j)     for element `index`, the j-th of its lane,
//   finish(state, lane)       after its last one (empty lanes: start, finish).
// Lanes are independent, so the result is that of one lane at a time.
template <class State, class Start, class Step, class Finish>
void reduce_lanes(const LaneLayout& layout, Start&& start, Step&& step, Finish&& finish) {
    if (layout.lanes() == 0) return;
    if (layout.length == 0) {  // no element to visit; the lane count may be huge
        State state{};
        for (std::uint64_t lane = 0; lane < layout.lanes(); ++lane) {
            start(state, lane);
            finish(state, lane);
        }
        return;
    }
    std::vector<State> states(layout.inner);
    for (std::uint64_t o = 0; o < layout.outer; ++o) {
        const std::uint64_t first_lane = o * layout.inner;
        for (std::uint64_t i = 0; i < layout.inner; ++i) start(states[i], first_lane + i);
        const std::uint64_t base = o * layout.length * layout.inner;
        for (std::uint64_t j = 0; j < layout.length; ++j) {
            const std::uint64_t row = base + j * layout.inner;
            for (std::uint64_t i = 0; i < layout.inner; ++i) step(states[i], row + i, j);
        }
        for (std::uint64_t i = 0; i < layout.inner; ++i) finish(states[i], first_lane + i);
    }
}

}  // namespace boundwise
