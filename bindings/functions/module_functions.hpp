// Module-level functions, in the order they are registered on the module.
#pragma once

#include <vector>

#include "support/python.hpp"

namespace boundwise::py {

void add_constructor_functions(std::vector<PyMethodDef>& functions);
void add_joining_functions(std::vector<PyMethodDef>& functions);
void add_raw_parts_function(std::vector<PyMethodDef>& functions);
void add_runtime_functions(std::vector<PyMethodDef>& functions);
void add_random_functions(std::vector<PyMethodDef>& functions);
// det, inv, solve, lstsq; then cholesky and matrix_power.
void add_linear_system_functions(std::vector<PyMethodDef>& functions);
void add_factorisation_functions(std::vector<PyMethodDef>& functions);
// eig, svd, pinv (between lstsq and cholesky); matrix_rank, cond (last).
void add_eigen_svd_functions(std::vector<PyMethodDef>& functions);
void add_rank_cond_functions(std::vector<PyMethodDef>& functions);
// Underscore-prefixed helpers for the test suite, registered after the public functions.
void add_private_functions(std::vector<PyMethodDef>& functions);
void add_private_linalg_functions(std::vector<PyMethodDef>& functions);

}  // namespace boundwise::py
