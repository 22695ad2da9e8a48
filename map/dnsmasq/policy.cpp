// Domain-based routing policies: dnsmasq adds the addresses it resolves for
// the policy's domains to ipsets that the packet filter routes by, and the
// host-name sniffer gets the same domains for traffic that bypasses DNS.
// The set names carry the policy's position in the array (every element
// counts, enabled or not), which is how the packet filter names them too.
#include <string>
#include <string_view>
#include <vector>

#include "anvil.h"
#include "internal.h"
#include "quill.h"
#include "text.h"

namespace dnsmasq {

namespace {

// The domains go to dnsmasq as many ipset lines as their length needs:
// each line adds to the same sets.
void write_ipsets(std::FILE *out, const std::vector<const char *> &domains, const std::string &sets,
                  const origin &from)
{
    std::string line = "ipset=";
    bool any = false;
    for (const char *domain : domains) {
        std::string_view d(domain);
        if (any && line.size() + 1 + d.size() + sets.size() > max_line) {
            write_line(out, line + sets, from);
            line = "ipset=";
        }
        line += '/';
        line += d;
        any = true;
    }
    write_line(out, line + sets, from);
}

}  // namespace

void write_domain_policies(std::FILE *out, std::FILE *sniffer, config_node *policies)
{
    int n = 0;
    for (config_node *p = config_array_first(policies); p; p = config_array_next(p), ++n) {
        if (!config_get_bool(p, "enable") ||
            text_or_empty(config_get_string(p, "dst.type")) != "domain")
            continue;
        unique_sl list(config_get_string_list(p, "dst.domain"));
        // The sniffer file separates domains by commas and fields by
        // blanks, so the names that dnsmasq takes are right for it too.
        std::vector<const char *> domains;
        for (size_t i = 0; i < sl_len(list.get()); ++i) {
            const char *domain = sl_get(list.get(), i);
            if (check(domain, field::name, {p, "dst.domain", int(i)}))
                domains.push_back(domain);
        }
        // A policy whose domains were all left out matches nothing.
        if (domains.empty() && sl_len(list.get()) > 0)
            continue;

        std::string_view ip_version = text_or_empty(config_get_string(p, "ip_version"));
        std::string sets, family;
        if (ip_version == "any") {
            sets = "/domain-policy-" + std::to_string(n) + ",domain6-policy-" + std::to_string(n);
            family = "1";
        } else if (ip_version == "ipv4") {
            sets = "/domain-policy-" + std::to_string(n);
            family = "4";
        } else {
            sets = "/,domain6-policy-" + std::to_string(n);
            family = "6";
        }
        write_ipsets(out, domains, sets, {p, ""});
        if (sniffer) {
            for (size_t i = 0; i < domains.size(); ++i)
                std::fprintf(sniffer, "%s%s", i == 0 ? "" : ",", domains[i]);
            std::fprintf(sniffer, " %s %d\n", family.c_str(), n);
        }
    }
}

}  // namespace dnsmasq
