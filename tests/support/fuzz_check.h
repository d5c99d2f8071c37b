#pragma once
// The fuzz targets' one check: a result that breaks its rule ends the run, and libFuzzer keeps
// the input that broke it.
#include <cstdlib>

namespace mv::testing {

inline void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace mv::testing
