// Global part of /var/run/dnsmasq.conf: header, leases, DNS behaviour,
// upstream servers, allowlist and host records; then the per-interface DHCP
// blocks and the domain-policy ipsets.
#include <cstring>
#include <memory>
#include <string_view>

#include "anvil.h"
#include "dnsmasq.h"
#include "internal.h"
#include "network.h"
#include "quill.h"
#include "text.h"

namespace {

using namespace dnsmasq;

constexpr const char *conf_path = "/var/run/dnsmasq.conf";
constexpr const char *web_filter_id_path = "/etc/config/web-filter-id";
constexpr size_t web_filter_id_length = 16;

struct model_deleter {
    void operator()(network_t *m) const noexcept { network_free(m); }
};
using unique_model = std::unique_ptr<network_t, model_deleter>;

void write_dns_options(std::FILE *out, config_node *dns)
{
    if (!config_get_bool(dns, "cache_negative_responses"))
        std::fputs("no-negcache\n", out);
    if (config_get_bool(dns, "query_all_servers"))
        std::fputs("all-servers\n", out);
    if (config_get_bool(dns, "stop_dns_rebind")) {
        std::fputs("stop-dns-rebind\n", out);
        if (config_get_bool(dns, "rebind_localhost_ok"))
            std::fputs("rebind-localhost-ok\n", out);
    }
}

// The content filter recognises the device by an identity that another
// daemon fetches into a file; until then the resolver runs without it.
void write_web_filter_identity(std::FILE *out)
{
    if (!file_exists(web_filter_id_path)) {
        log_debug("Umbrella device ID has not been obtained yet");
        return;
    }
    unique_text id(file_read(web_filter_id_path));
    if (!id || std::strlen(id.get()) != web_filter_id_length || has_line_break(id.get())) {
        log_error("Ignoring invalid Umbrella device ID. Try deleting the web-filter-id file");
        return;
    }
    std::fprintf(out, "umbrella=deviceid:%s\n", id.get());
}

void write_servers(std::FILE *out, config_node *dns)
{
    for (config_node *e = config_array_first(config_array(dns, "server")); e; e = config_array_next(e)) {
        const char *domain = config_get_string(e, "domain");
        const char *address = config_get_string(e, "address");
        if (!domain)
            domain = "";
        if (!address)
            address = "";
        if (!fits_line(domain, "upstream server domain", "service.dns") ||
            !fits_line(address, "upstream server address", "service.dns"))
            continue;
        const char *sep = *domain ? "/" : "";
        std::fprintf(out, "server=%s%s%s%s\n", sep, domain, sep, address);
    }
}

// An allowlist turns every other name into a local dead end (address=/#/)
// and forwards only the listed ones.
void write_allowlist(std::FILE *out, config_node *dns)
{
    unique_sl names(config_get_string_list(dns, "allowlist"));
    size_t n = sl_len(names.get());
    if (n == 0)
        return;
    std::fputs("address=/#/\n", out);
    for (size_t i = 0; i < n; ++i) {
        const char *name = sl_get(names.get(), i);
        if (name && fits_line(name, "allowlist name", "service.dns"))
            std::fprintf(out, "server=/%s/#\n", name);
    }
}

void write_host_records(std::FILE *out, config_node *dns)
{
    std::fputs("host-record=localhost,127.0.0.1\n", out);
    for (config_node *e = config_array_first(config_array(dns, "host")); e; e = config_array_next(e)) {
        std::string_view name = text_or_empty(config_get_string(e, "name"));
        std::string_view address = text_or_empty(config_get_string(e, "address"));
        if (!fits_line(name, "host record name", "service.dns") ||
            !fits_line(address, "host record address", "service.dns"))
            continue;
        std::fprintf(out, "host-record=%.*s,%.*s\n", int(name.size()), name.data(), int(address.size()),
                     address.data());
    }
}

}  // namespace

extern "C" int map_dnsmasq(config_t *config, int, char **)
{
    log_init("config map dnsmasq", 0, 1);

    unique_file file(std::fopen(conf_path, "w"));
    if (!file)
        return 1;
    std::FILE *out = file.get();

    bool web_filter = config_object_has_key(config, "firewall", "web_filter") &&
                      config_get_bool(config, "firewall.web_filter.enable");

    std::fprintf(out,
                 "domain-needed\nbogus-priv\nno-hosts\n%scache-size=150\n"
                 "dhcp-script=/bin/dnsmasq-script.sh\nbind-dynamic\n",
                 web_filter ? "resolv-file=/var/run/web-filter-resolv.dnsmasq\n"
                            : "resolv-file=/var/run/resolv.dnsmasq\n");

    std::fputs(config_get_bool(config, "network.advanced.dhcp_persistent_lease")
                   ? "dhcp-leasefile=/etc/config/dhcp.leases\n"
                   : "dhcp-leasefile=/var/run/dhcp.leases\n",
               out);
    if (config_get_bool(config, "network.advanced.sequential_dhcp_allocation"))
        std::fputs("dhcp-sequential-ip\n", out);

    config_node *dns = config_object(config, "service.dns");
    write_dns_options(out, dns);

    if (web_filter && text_or_empty(config_get_string(config, "firewall.web_filter.service")) == "umbrella")
        write_web_filter_identity(out);

    write_servers(out, dns);
    write_allowlist(out, dns);
    write_host_records(out, dns);

    unique_model model(network_load(config));
    for (network_node *n = network_first_type(model.get(), NETWORK_NODE_INTERFACE); n;
         n = network_next_type(model.get(), n, NETWORK_NODE_INTERFACE))
        write_dnsmasq_interface(out, n);

    if (config_object_has_key(config, "network", "route") &&
        config_has_key(config_object(config, "network.route"), "policy"))
        write_domain_policies(out, config_array(config, "network.route.policy"));

    return 0;
}
