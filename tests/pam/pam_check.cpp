#include "pam_check.h"

#include <sstream>

#include "nsrun.h"

namespace pam_check {

namespace {

// The fields of a rule before its arguments; a bracketed control may hold
// blanks.  False for blank and comment lines.
bool rule_head(const std::string &line, call &out)
{
    std::istringstream in(line);
    std::string control;
    if (!(in >> out.service) || out.service[0] == '#' || !(in >> out.type >> control))
        return false;
    if (control[0] == '[')
        while (control.find(']') == std::string::npos && in >> control) {
        }
    std::string path;
    in >> path;
    out.module = path.substr(path.rfind('/') + 1);
    return true;
}

// The rules of pam_conf and the services they name, in file order.
std::vector<call> rules_of(const std::string &pam_conf, std::vector<std::string> &services)
{
    std::vector<call> rules;
    std::istringstream lines(pam_conf);
    for (std::string line; std::getline(lines, line);) {
        call head;
        if (!rule_head(line, head))
            continue;
        bool seen = false;
        for (const auto &s : services)
            seen = seen || s == head.service;
        if (!seen)
            services.push_back(head.service);
        rules.push_back(std::move(head));
    }
    return rules;
}

}  // namespace

bool available()
{
#ifdef PAM_PROBE
    return true;
#else
    return false;
#endif
}

std::string setup(bool probe_all)
{
#ifdef PAM_PROBE
    return std::string(probe_all ? "PROBE_ALL=1\n" : "") + "PROBE=" PAM_PROBE "\n. " PAM_SETUP "\n";
#else
    (void)probe_all;
    return "echo 'no PAM probe in this build' >&2; exit 1\n";
#endif
}

std::vector<call> parse_log(const std::string &log)
{
    std::vector<call> calls;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        call c;
        std::istringstream in(line);
        in >> c.service >> c.type >> c.module;
        in.get();
        std::string rest;
        std::getline(in, rest, '\0');
        for (size_t start = 0, bar; (bar = rest.find('|', start)) != std::string::npos;
             start = bar + 1)
            c.args.push_back(rest.substr(start, bar - start));
        calls.push_back(std::move(c));
    }
    return calls;
}

std::vector<call> every_rule(const std::string &pam_conf, std::string &error)
{
#ifdef PAM_PROBE
    std::vector<std::string> services;
    rules_of(pam_conf, services);
    nsrun::Spec spec;
    spec.program = "true";
    spec.has_config = false;
    spec.files = {{"/var/run/pam.conf", pam_conf}};
    spec.after = setup(true) + "export PAM_PROBE_IGNORE=1\n";
    for (const auto &service : services)
        for (const char *op : {"authenticate", "acct_mgmt", "chauthtok", "open_session"})
            spec.after +=
                std::string(PAMTESTER " '") + service + "' admin " + op + " >/dev/null 2>&1\n";
    spec.after += "cat $PAM_PROBE_LOG\n";
    nsrun::Result r = nsrun::run(spec);
    if (r.status != 0) {
        error = "cannot run the check: " + r.err;
        return {};
    }
    return parse_log(r.after);
#else
    (void)pam_conf;
    error = "no PAM probe or pamtester in this build";
    return {};
#endif
}

std::string same_rules(const std::string &pam_conf, const std::vector<call> &calls)
{
    // Linux-PAM runs a service's stacks in the order every_rule() calls
    // them, each stack in file order.
    std::vector<std::string> services;
    std::vector<call> all = rules_of(pam_conf, services);
    std::vector<call> rules;
    for (const auto &service : services)
        for (const char *type : {"auth", "account", "password", "session"})
            for (const auto &rule : all)
                if (rule.service == service && rule.type == type)
                    rules.push_back(rule);
    auto text = [](const std::vector<call> &v, size_t n) {
        return n < v.size() ? v[n].service + " " + v[n].type + " " + v[n].module
                            : std::string("(none)");
    };
    for (size_t i = 0; i < rules.size() || i < calls.size(); ++i)
        if (text(rules, i) != text(calls, i))
            return "rule " + std::to_string(i) + ": the file has " + text(rules, i) +
                   ", Linux-PAM called " + text(calls, i);
    return "";
}

}  // namespace pam_check
