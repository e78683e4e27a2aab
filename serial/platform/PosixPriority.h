#pragma once
// Process priority classes as nice values.
#include <cstdint>

namespace platform {

int NiceOfPriorityClass(std::int32_t priorityClass);
std::int32_t PriorityClassOfNice(int nice);

}  // namespace platform
