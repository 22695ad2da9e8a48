// Domain-based routing policies: dnsmasq adds the addresses it resolves for
// the policy's domains to ipsets that the packet filter routes by, and the
// host-name sniffer gets the same domains for traffic that bypasses DNS.
// The set names carry the policy's position in the array (every element
// counts, enabled or not), which is how the packet filter names them too.
#include <string>
#include <string_view>

#include "anvil.h"
#include "internal.h"
#include "quill.h"
#include "text.h"

namespace dnsmasq {

namespace {

constexpr const char *sniffer_path = "/var/run/hostnamesniffer.cfg";

void write_policy(std::FILE *out, std::FILE *sniffer, const sl_list *domains, std::string_view ip_version, int n)
{
    size_t count = sl_len(domains);
    std::fputs("ipset=", out);
    for (size_t i = 0; i < count; ++i)
        std::fprintf(out, "/%s", sl_get(domains, i));
    if (sniffer)
        for (size_t i = 0; i < count; ++i)
            std::fprintf(sniffer, "%s%s", i == 0 ? "" : ",", sl_get(domains, i));

    if (ip_version == "any") {
        std::fprintf(out, "/domain-policy-%d,domain6-policy-%d\n", n, n);
        if (sniffer)
            std::fprintf(sniffer, " 1 %d\n", n);
    } else if (ip_version == "ipv4") {
        std::fprintf(out, "/domain-policy-%d\n", n);
        if (sniffer)
            std::fprintf(sniffer, " 4 %d\n", n);
    } else {
        std::fprintf(out, "/,domain6-policy-%d\n", n);
        if (sniffer)
            std::fprintf(sniffer, " 6 %d\n", n);
    }
}

}  // namespace

void write_domain_policies(std::FILE *out, config_node *policies)
{
    // Without the sniffer file the ipsets still work for resolved names.
    unique_file sniffer(std::fopen(sniffer_path, "w"));

    int n = 0;
    for (config_node *p = config_array_first(policies); p; p = config_array_next(p), ++n) {
        if (!config_get_bool(p, "enable") || text_or_empty(config_get_string(p, "dst.type")) != "domain")
            continue;
        unique_sl domains(config_get_string_list(p, "dst.domain"));
        std::string owner = "network.route.policy." + std::to_string(n);
        bool usable = true;
        for (size_t i = 0; i < sl_len(domains.get()) && usable; ++i)
            usable = fits_line(sl_get(domains.get(), i), "domain", owner);
        if (!usable)
            continue;
        write_policy(out, sniffer.get(), domains.get(), text_or_empty(config_get_string(p, "ip_version")), n);
    }
}

}  // namespace dnsmasq
