// Element kernels of the layout family: moving elements into a new layout
// passes each one through the endpoint round trip (interval/endpoints.hpp),
// so that a moved element is what its outward-rounded ends describe.
//
// Every target's table gives exactly the bits of endpoint_round_trip for
// every input, NaN and infinite parts included (see dispatch.hpp for the
// choice of table).
#pragma once

#include <cstddef>

#include "boundwise/kernels/dispatch.hpp"

namespace boundwise {

// out[i] = endpoint_round_trip(mid[i], rad[i]) for i in [0, n). The output
// may be the input itself (out_mid == mid and out_rad == rad) but must not
// overlap it otherwise.
using RoundTripKernel = void (*)(const double* mid, const double* rad, double* out_mid, double* out_rad,
                                 std::size_t n) noexcept;

struct LayoutKernels {
    RoundTripKernel round_trip;
};

// The table of `target`; the baseline one when the processor lacks `target`.
const LayoutKernels& layout_kernels(Target target) noexcept;
// The table of selected_target().
const LayoutKernels& layout_kernels() noexcept;

}  // namespace boundwise
