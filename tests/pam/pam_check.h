// PAM rules as Linux-PAM itself reads them: a single-file PAM
// configuration is loaded by the real PAM library (driven by pamtester) in
// a private namespace, with a probe module standing in for the modules, and
// each call the library makes is reported with the arguments it passed.
// Every test that makes PAM rules can put them to it.
#pragma once
#include <string>
#include <vector>

namespace pam_check {

// One module call as Linux-PAM made it.
struct call {
    std::string service, type, module;  // "sshd", "auth", "pam_ldap.so"
    std::vector<std::string> args;
};

// False when the build has no probe module or pamtester; the check cannot
// run then.
bool available();

// Shell commands for nsrun::Spec::after, run once the rules are at
// /var/run/pam.conf: Linux-PAM reads them from then on, the router's own
// modules replaced by the probe (every module when probe_all), which logs
// to $PAM_PROBE_LOG.  Call `pamtester SERVICE USER OPERATION` after it.
std::string setup(bool probe_all = false);

// The probe's log as calls.
std::vector<call> parse_log(const std::string &log);

// Loads pam_conf through Linux-PAM with every module a probe that answers
// "ignore", and runs the auth, account, password and session stacks of
// every service that pam_conf names: so every rule is called once, in
// order.  error tells when the check could not run.
std::vector<call> every_rule(const std::string &pam_conf, std::string &error);

// "" when calls are the rules of pam_conf one for one: the same services,
// types and modules in the same order (so no rule was lost, cut short into
// another module or added); else the first difference.
std::string same_rules(const std::string &pam_conf, const std::vector<call> &calls);

}  // namespace pam_check
