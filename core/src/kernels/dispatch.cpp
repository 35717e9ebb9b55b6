#include "boundwise/kernels/dispatch.hpp"

#include <cctype>
#include <cstdlib>
#include <initializer_list>
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

// Whether the comma-separated list names one of `features`.
bool names_one_of(std::string_view list, std::initializer_list<std::string_view> features) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::string_view name = list.substr(0, comma);
        while (!name.empty() && is_blank(name.front())) name.remove_prefix(1);
        while (!name.empty() && is_blank(name.back())) name.remove_suffix(1);
        for (const std::string_view feature : features)
            if (same_name(name, feature)) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

bool avx2_with_fma() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool avx512_with_dq() noexcept {
    __builtin_cpu_init();
    return avx2_with_fma() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
}

// A table per target for one family: the baseline one where the target is not
// available; `avx512` may be null (the family keeps its AVX2 table there).
template <class Table>
const Table& for_target(Target target, const Table& (*baseline)() noexcept, const Table& (*avx2)() noexcept,
                        const Table& (*avx512)() noexcept = nullptr) noexcept {
    if (target == Target::Baseline || !target_supported(target)) return baseline();
    return target == Target::Avx512 && avx512 ? avx512() : avx2();
}

}  // namespace

const char* target_name(Target target) noexcept {
    switch (target) {
        case Target::Avx2: return "avx2";
        case Target::Avx512: return "avx512";
        default: return "baseline";
    }
}

bool target_supported(Target target) noexcept {
    static const bool avx2 = avx2_with_fma();
    static const bool avx512 = avx512_with_dq();
    return target == Target::Baseline || (target == Target::Avx2 ? avx2 : avx512);
}

Target choose_target(bool avx2_supported, bool avx512_supported, const char* disabled) noexcept {
    const std::string_view list = disabled ? disabled : "";
    if (!avx2_supported || names_one_of(list, {"AVX2", "FMA", "FMA3"})) return Target::Baseline;
    if (!avx512_supported || names_one_of(list, {"AVX512F", "AVX512DQ", "AVX512VL", "AVX512"})) return Target::Avx2;
    return Target::Avx512;
}

Target selected_target() noexcept {
    static const Target target = choose_target(target_supported(Target::Avx2), target_supported(Target::Avx512),
                                               std::getenv("BOUNDWISE_DISABLE_CPU_FEATURES"));
    return target;
}

const ArithmeticKernels& arithmetic_kernels(Target target) noexcept {
    return for_target(target, baseline::arithmetic, avx2::arithmetic, avx512::arithmetic);
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
    return for_target(target, baseline::reduce, avx2::reduce, avx512::reduce);
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
