#pragma once
// An array as the original's procedures received it: any lower bound, possibly more than one
// dimension, possibly never allocated.

#include <cstdint>
#include <vector>

namespace forms {

template <class T>
struct BasicArray {
  std::int32_t LowerBound = 0;
  std::vector<T> Elements;
  int Dimensions = 1;  // 0: never allocated
};

using LongArray = BasicArray<std::int32_t>;

}  // namespace forms
