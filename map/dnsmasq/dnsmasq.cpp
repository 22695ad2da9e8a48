// Global part of /var/run/dnsmasq.conf: header, leases, DNS behaviour,
// upstream servers, allowlist and host records; then the per-interface DHCP
// blocks and the domain-policy ipsets.
#include <cstring>
#include <memory>
#include <string>
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
constexpr const char *sniffer_path = "/var/run/hostnamesniffer.cfg";
constexpr const char *web_filter_id_path = "/etc/config/web-filter-id";
constexpr size_t web_filter_id_length = 16;

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
    // dnsmasq takes the identity as 16 hexadecimal digits and refuses the
    // whole file on anything else.
    unique_text id(file_read(web_filter_id_path));
    if (!id || std::strlen(id.get()) != web_filter_id_length || !fits(id.get(), field::hex)) {
        log_error("Ignoring invalid Umbrella device ID. Try deleting the web-filter-id file");
        return;
    }
    std::fprintf(out, "umbrella=deviceid:%s\n", id.get());
}

void write_servers(std::FILE *out, config_node *dns)
{
    for (config_node *e = config_array_first(config_array(dns, "server")); e;
         e = config_array_next(e)) {
        const char *domain = config_get_string(e, "domain");
        const char *address = config_get_string(e, "address");
        std::string line = "server=";
        if (domain && *domain) {
            line += '/';
            if (!put(line, domain, field::domain, {e, "domain"}))
                continue;
            line += '/';
        }
        if (address && *address && !put(line, address, field::server, {e, "address"}))
            continue;
        write_line(out, line, {e, ""});
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
        std::string line = "server=/";
        if (put(line, sl_get(names.get(), i), field::name, {dns, "allowlist", int(i)}))
            write_line(out, line + "/#", {dns, "allowlist", int(i)});
    }
}

void write_host_records(std::FILE *out, config_node *dns)
{
    std::fputs("host-record=localhost,127.0.0.1\n", out);
    for (config_node *e = config_array_first(config_array(dns, "host")); e;
         e = config_array_next(e)) {
        std::string line = "host-record=";
        if (!put(line, config_get_string(e, "name"), field::name, {e, "name"}))
            continue;
        line += ',';
        if (put(line, config_get_string(e, "address"), field::address, {e, "address"}))
            write_line(out, line, {e, ""});
    }
}

// Opens a file that is rewritten in place, without emptying it yet.
unique_file open_kept(const char *path)
{
    unique_file f(file_create(path, FILE_PUBLIC | FILE_KEEP));
    if (!f)
        log_error("cannot open %s: %m", path);
    return f;
}

// Ends a file; false (logged) when some of it did not reach the file.
bool finish(unique_file &f, const char *path)
{
    if (file_finish(f.release(), 0))
        return true;
    log_error("cannot write %s: %m", path);
    return false;
}

}  // namespace

extern "C" int map_dnsmasq(config_t *config, int, char **)
{
    log_init("config map dnsmasq", 0, 1);

    bool policies = config_object_has_key(config, "network", "route") &&
                    config_has_key(config_object(config, "network.route"), "policy");

    // Both files are rewritten in place: both are open before either is
    // emptied, so a file that cannot be opened never leaves the other one
    // empty.  Without the sniffer file the ipsets still work for resolved
    // names, so dnsmasq's file is still written, and the status tells.
    unique_file conf = open_kept(conf_path);
    if (!conf)
        return 1;
    int status = 0;
    unique_file sniffer;
    if (policies && !(sniffer = open_kept(sniffer_path)))
        status = 1;
    if (!file_truncate(conf.get())) {
        log_error("cannot empty %s: %m", conf_path);
        return 1;
    }
    if (sniffer && !file_truncate(sniffer.get())) {
        log_error("cannot empty %s: %m", sniffer_path);
        sniffer.reset();
        status = 1;
    }
    output out{conf.get(), {}};

    bool web_filter = config_object_has_key(config, "firewall", "web_filter") &&
                      config_get_bool(config, "firewall.web_filter.enable");

    std::fprintf(out.file,
                 "domain-needed\nbogus-priv\nno-hosts\n%scache-size=150\n"
                 "dhcp-script=/bin/dnsmasq-script.sh\nbind-dynamic\n",
                 web_filter ? "resolv-file=/var/run/web-filter-resolv.dnsmasq\n"
                            : "resolv-file=/var/run/resolv.dnsmasq\n");

    std::fputs(config_get_bool(config, "network.advanced.dhcp_persistent_lease")
                   ? "dhcp-leasefile=/etc/config/dhcp.leases\n"
                   : "dhcp-leasefile=/var/run/dhcp.leases\n",
               out.file);
    if (config_get_bool(config, "network.advanced.sequential_dhcp_allocation"))
        std::fputs("dhcp-sequential-ip\n", out.file);

    config_node *dns = config_object(config, "service.dns");
    write_dns_options(out.file, dns);

    if (web_filter &&
        text_or_empty(config_get_string(config, "firewall.web_filter.service")) == "umbrella")
        write_web_filter_identity(out.file);

    write_servers(out.file, dns);
    write_allowlist(out.file, dns);
    write_host_records(out.file, dns);

    unique_network model(network_load(config));
    for (network_node *n = network_first_type(model.get(), NETWORK_NODE_INTERFACE); n;
         n = network_next_type(model.get(), n, NETWORK_NODE_INTERFACE))
        write_dnsmasq_interface(out, n);

    if (policies)
        write_domain_policies(out.file, sniffer.get(),
                              config_array(config, "network.route.policy"));

    if (sniffer && !finish(sniffer, sniffer_path))
        status = 1;
    if (!finish(conf, conf_path))
        status = 1;
    return status;
}
