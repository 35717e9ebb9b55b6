// A small self-contained test harness: cases register themselves under a
// group, `boundwise_core_tests GROUP` runs one group (or every group without an
// argument), and a failed CHECK prints its expression and context and marks
// the run failed without stopping the case.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace bwtest {

struct Case {
    const char* group;
    const char* name;
    void (*run)();
};

std::vector<Case>& registry();

struct Register {
    Register(const char* group, const char* name, void (*run)()) { registry().push_back({group, name, run}); }
};

// Records one failure of the running case; `context` says which input failed.
void fail(const char* file, int line, const char* expression, const std::string& context);

template <class... Parts>
std::string describe(const Parts&... parts) {
    std::ostringstream text;
    text.precision(17);
    ((text << parts << ' '), ...);
    return text.str();
}

inline std::uint64_t bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

inline double from_bits(std::uint64_t b) {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

}  // namespace bwtest

#define BW_TEST(group, name)                                                         \
    static void group##_##name();                                                    \
    static const ::bwtest::Register group##_##name##_registered(#group, #name, group##_##name); \
    static void group##_##name()

// CHECK(condition, context...): the context parts are printed only on failure.
#define CHECK(condition, ...)                                                                  \
    do {                                                                                       \
        if (!(condition)) ::bwtest::fail(__FILE__, __LINE__, #condition, ::bwtest::describe(__VA_ARGS__)); \
    } while (0)
