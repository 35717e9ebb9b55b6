#include "boundwise/kernels/dispatch.hpp"

#include <cctype>
#include <cstdlib>
#include <string_view>

#include "targets.hpp"

namespace boundwise {

namespace {

bool same_name(std::string_view name, std::string_view upper) {
    if (name.size() != upper.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != upper[i]) return false;
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Whether the comma-separated list names one of the features the AVX2 target needs.
bool disables_avx2(std::string_view list) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::string_view name = list.substr(0, comma);
        while (!name.empty() && is_blank(name.front())) name.remove_prefix(1);
        while (!name.empty() && is_blank(name.back())) name.remove_suffix(1);
        if (same_name(name, "AVX2") || same_name(name, "FMA") || same_name(name, "FMA3")) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

bool avx2_with_fma() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// A table per target for one family: the baseline one where the target is not available.
template <class Table>
const Table& for_target(Target target, const Table& (*baseline)() noexcept,
                        const Table& (*avx2)() noexcept) noexcept {
    return target == Target::Avx2 && target_supported(Target::Avx2) ? avx2() : baseline();
}

}  // namespace

const char* target_name(Target target) noexcept { return target == Target::Avx2 ? "avx2" : "baseline"; }

bool target_supported(Target target) noexcept {
    static const bool avx2 = avx2_with_fma();
    return target == Target::Baseline || avx2;
}

Target choose_target(bool avx2_supported, const char* disabled) noexcept {
    if (avx2_supported && !(disabled && disables_avx2(disabled))) return Target::Avx2;
    return Target::Baseline;
}

Target selected_target() noexcept {
    static const Target target =
        choose_target(target_supported(Target::Avx2), std::getenv("BOUNDWISE_DISABLE_CPU_FEATURES"));
    return target;
}

const ArithmeticKernels& arithmetic_kernels(Target target) noexcept {
    return for_target(target, baseline::arithmetic, avx2::arithmetic);
}

const ArithmeticKernels& arithmetic_kernels() noexcept {
    static const ArithmeticKernels& kernels = arithmetic_kernels(selected_target());
    return kernels;
}

const CompareKernels& compare_kernels(Target target) noexcept {
    return for_target(target, baseline::compare, avx2::compare);
}

const CompareKernels& compare_kernels() noexcept {
    static const CompareKernels& kernels = compare_kernels(selected_target());
    return kernels;
}

const ReduceKernels& reduce_kernels(Target target) noexcept {
    return for_target(target, baseline::reduce, avx2::reduce);
}

const ReduceKernels& reduce_kernels() noexcept {
    static const ReduceKernels& kernels = reduce_kernels(selected_target());
    return kernels;
}

const ElementKernels& element_kernels(Target target) noexcept {
    return for_target(target, baseline::element_functions, avx2::element_functions);
}

const ElementKernels& element_kernels() noexcept {
    static const ElementKernels& kernels = element_kernels(selected_target());
    return kernels;
}

const LayoutKernels& layout_kernels(Target target) noexcept {
    return for_target(target, baseline::layout, avx2::layout);
}

const LayoutKernels& layout_kernels() noexcept {
    static const LayoutKernels& kernels = layout_kernels(selected_target());
    return kernels;
}

}  // namespace boundwise
