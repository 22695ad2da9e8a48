// The policy check behind marlo_command_allowed, with the file and the user
// as parameters so that it can be exercised without being root.
#pragma once
#include <sys/types.h>

namespace marlo {

inline constexpr const char *policy_path = "/etc/marlo/policy";

// True when uid may run argv according to the policy file at path.
bool allowed(const char *path, uid_t uid, char *const argv[]);

}  // namespace marlo
