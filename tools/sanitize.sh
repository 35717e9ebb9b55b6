#!/usr/bin/env bash
# Builds the extension and the C++ tests of the core with AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs the Python suite and the C++ tests
# under them. Undefined behaviour aborts the run. The extension goes into a
# virtual environment of its own (default .venv-sanitize), so the ordinary
# development install is left as it is.
#
#   tools/sanitize.sh [pytest arguments...]
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

venv="${SANITIZE_VENV:-.venv-sanitize}"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
export PIP_DISABLE_PIP_VERSION_CHECK=1

[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
# shellcheck disable=SC1091
source "$venv/bin/activate"
pip install -q scikit-build-core scipy-openblas32 cmake ninja pytest hypothesis numpy mpmath

pip install -q --no-build-isolation -e ".[test]" -Cbuild-dir=build-sanitize \
  -Ccmake.define.CMAKE_CXX_FLAGS="$flags"

# The interpreter itself is not instrumented: the ASan runtime must be loaded
# first, with the C++ runtime beside it (ASan intercepts __cxa_throw, which it
# must find at start-up). The leak report is off (the interpreter keeps objects
# at exit; tests/test_reliability.py checks leaks instead), and impossible
# allocations return null, as malloc does, for the tests of MemoryError; so do
# those above 4 GiB, which the fuzzing test may ask for and no test needs.
preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so.6)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:allocator_may_return_null=1:max_allocation_size_mb=4096"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Left out: daemon threads ended by the interpreter's finalisation unwind with
# pthread_exit's forced unwinding, which neither runtime models (ASan reports
# its own sigaltstack call, UBSan the catch of abi::__forced_unwind).
LD_PRELOAD="$preload" python -m pytest -q -p no:cacheprovider \
  --deselect tests/test_parallel.py::test_interpreter_exits_cleanly_with_the_pool_alive_and_daemon_threads_inside_calls \
  "$@"

cmake -S . -B build-sanitize-tests -G Ninja -DBOUNDWISE_BUILD_TESTS=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DPython_EXECUTABLE="$(command -v python)"
cmake --build build-sanitize-tests --target boundwise_core_tests
ctest --test-dir build-sanitize-tests --output-on-failure
