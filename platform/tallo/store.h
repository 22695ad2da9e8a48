// Extra operations of the runtime store for the tallo tool.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace tallo {

using entry_list = std::vector<std::pair<std::string, std::string>>;

// Every key at or below prefix ("" for all) that holds a value, with its
// value, in natural key order.  False when the store cannot be read.
bool dump(const std::string &prefix, entry_list &out);

// Last error of the store, for messages.
std::string last_error();

}  // namespace tallo
