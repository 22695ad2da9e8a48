// Ordering of runtime keys: numeric parts compare as numbers, so "x.5" comes
// before "x.10", and keys sort part by part as in a tree.
#pragma once
#include <string_view>

namespace tallo {

// <0, 0, >0 like strcmp, for one name (no dots considered).
int natural_compare(std::string_view a, std::string_view b);
// Whole dot paths, part by part: a parent sorts before its children.
bool key_less(std::string_view a, std::string_view b);

}  // namespace tallo
