// The one place where status flags of a core result reach Python.
#pragma once

#include "boundwise/status.hpp"

namespace boundwise::py {

// Issues the warning or raises the exception that each set flag stands for.
// Call with the interpreter lock held, after the computation and before the
// result is stored anywhere: when warnings are errors this throws, and the
// caller's operands stay as they were. The breakdowns of linear algebra
// (Singular, NotPositiveDefinite, Unverified, Defective, NotFinite) raise
// ValueError, ComplexEigenvalues NotImplementedError; `where` names
// the failing pivot of a NotPositiveDefinite factorisation.
void report_status(Status flags, const Breakdown& where = {});

}  // namespace boundwise::py
