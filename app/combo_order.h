#pragma once
// Where the language list puts a new item so that its items stay ordered by their
// data (the language identifier), whatever order the items arrive in.

#include <cstdint>
#include <span>

// The position to insert `value` at among items whose data are `data` (already in
// ascending order): before the first item whose data is not smaller, found by
// bisection; -1 for the end of the list. An empty list gives 0. Equal data end up
// next to each other. Comparisons are unsigned.
int OrderedInsertPosition(std::span<const uint32_t> data, uint32_t value);
