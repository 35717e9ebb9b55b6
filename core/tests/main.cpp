#include <cstdio>
#include <cstring>

#include "harness.hpp"

namespace bwtest {

namespace {
int g_failures = 0;
int g_case_failures = 0;
constexpr int kReportedPerCase = 10;
}  // namespace

std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

void fail(const char* file, int line, const char* expression, const std::string& context) {
    ++g_failures;
    if (++g_case_failures <= kReportedPerCase)
        std::printf("  %s:%d: CHECK(%s) failed %s\n", file, line, expression, context.c_str());
}

}  // namespace bwtest

// Runs the cases of the group named by the first argument, or all of them; a
// group without cases is an error, so a misspelt test command cannot pass.
int main(int argc, char** argv) {
    const char* group = argc > 1 ? argv[1] : nullptr;
    int ran = 0;
    int failed_cases = 0;
    for (const bwtest::Case& c : bwtest::registry()) {
        if (group && std::strcmp(group, c.group) != 0) continue;
        bwtest::g_case_failures = 0;
        c.run();
        ++ran;
        if (bwtest::g_case_failures) ++failed_cases;
        std::printf("%s %s.%s\n", bwtest::g_case_failures ? "FAIL" : "ok  ", c.group, c.name);
        if (bwtest::g_case_failures > bwtest::kReportedPerCase)
            std::printf("  (%d failed checks in all)\n", bwtest::g_case_failures);
    }
    if (ran == 0) {
        std::printf("no test case in group %s\n", group ? group : "(all)");
        return 2;
    }
    std::printf("%d cases, %d failed\n", ran, failed_cases);
    return bwtest::g_failures ? 1 : 0;
}
