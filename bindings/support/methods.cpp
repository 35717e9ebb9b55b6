#include "support/methods.hpp"

#include <optional>

#include "support/status.hpp"

namespace boundwise::py {

namespace {

// Below this many elements an element-wise method keeps the interpreter lock:
// handing it over costs more than the work.
constexpr std::uint64_t kReleaseLockFrom = 4096;

template <class Function>
PyObject* apply(PyObject* self, Function function) {
    const Array a = read_array(self);
    Result<Array> result = [&]() -> Result<Array> {
        std::optional<ReleasedLock> unlocked;
        if (a.size() >= kReleaseLockFrom) unlocked.emplace();
        return function(a);
    }();
    report_status(result.flags);
    return wrap(std::move(result.value));
}

}  // namespace

PyObject* apply_to_self(PyObject* self, ArrayFunction function) { return apply(self, function); }
PyObject* apply_to_self(PyObject* self, ArrayFunctionWithStatus function) { return apply(self, function); }

}  // namespace boundwise::py
