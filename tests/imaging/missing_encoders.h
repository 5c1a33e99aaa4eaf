#pragma once
// The imaging tests link their own answer to which encoders the system has, in place of the
// library's (all of them), so that a test can take one away as a system without it would.

#include <set>
#include <string>

namespace testing_support {

// CLSID texts of the encoders the system is to lack; empty: none is missing.
std::set<std::string>& MissingEncoders();

}  // namespace testing_support
