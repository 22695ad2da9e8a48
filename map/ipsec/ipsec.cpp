// `config map ipsec`: the run as a whole.  Every tunnel of vpn.ipsec.tunnel
// that is enabled, wanted (failover) and has a ready local end point gets
// its secrets, credentials and connection file in a fresh tree, which is
// swapped into /var/run/ipsec.d at the end.
#include "ipsec.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "anvil.h"
#include "ipsec_internal.h"
#include "ipsec_writer.h"
#include "network.h"
#include "tallo.h"

namespace ipsec {

std::string format(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
    return out;
}

FILE *open_tree_file(tunnel &t, const std::string &path, int flags, const char *what)
{
    FILE *f = file_create(path.c_str(), flags);
    if (!f) {
        log_error("error opening tunnel %s file %s: %m", what, path.c_str());
        t.write_failed = true;
    }
    return f;
}

bool finish_tree_file(tunnel &t, FILE *f, const std::string &path)
{
    if (file_finish(f, 0))
        return true;
    log_error("error writing %s: %m", path.c_str());
    t.write_failed = true;
    return false;
}

bool write_tree_file(tunnel &t, const std::string &path, std::string_view data, int flags)
{
    if (file_write_data(path.c_str(), data.data(), data.size(), flags))
        return true;
    log_error("error writing %s: %m", path.c_str());
    t.write_failed = true;
    return false;
}

namespace {

struct entries_deleter {
    void operator()(tallo_entry **e) const noexcept { tallo_entries_free(e); }
};
constexpr const char *tree_dirs[] = {
    "conf", "secrets", "private", "certs", "cacerts", "acerts", "aacerts", "ocspcerts", "crls",
};

// A run that was interrupted can leave the .new tree behind (its files
// would be carried into this run's tree) or the .old tree (the first
// rename of the swap would then fail for good).  Neither holds anything
// this run needs.
void remove_leftovers()
{
    file_remove_tree(new_tree);
    file_remove_tree(old_tree);
}

// Directories get their mode explicitly too, whatever the umask.
bool make_directory(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) == 0 && chmod(path.c_str(), 0755) == 0)
        return true;
    log_error("cannot create %s: %m", path.c_str());
    return false;
}

bool create_tree()
{
    if (!make_directory(new_tree))
        return false;
    for (const char *d : tree_dirs)
        if (!make_directory(format("%s/%s", new_tree, d)))
            return false;
    return true;
}

// Moves the new tree into place; the previous one is kept when that fails.
bool swap_tree()
{
    bool had_live = rename(live_tree, old_tree) == 0;
    if (rename(new_tree, live_tree) != 0) {
        log_error("failed to move %s to %s: %m", new_tree, live_tree);
        if (had_live)
            rename(old_tree, live_tree);
        return false;
    }
    file_remove_tree(old_tree);
    return true;
}

// Empties a top-level file opened with FILE_KEEP and writes it whole.
bool rewrite(FILE *f, const char *path, const std::string &text)
{
    bool ok = file_truncate(f) && fwrite(text.data(), 1, text.size(), f) == text.size();
    int err = errno;
    if (!file_finish(f, 0)) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        errno = err;
        log_error("error writing %s: %m", path);
    }
    return ok;
}

// Failover tunnels stand by while their primary is up in either family.
bool primary_is_up(const tunnel &t)
{
    std::string failover(get_string(t.node, "ipsec_failover"));
    if (failover.empty() || failover == t.name)
        return false;
    int ready4 = tallo_get_int_pathf(2, "vpn.ipsec.tunnel.%s.ipv4.ready", failover.c_str());
    int ready6 = tallo_get_int_pathf(2, "vpn.ipsec.tunnel.%s.ipv6.ready", failover.c_str());
    if (ready4 == 0 || ready6 == 0)
        return false;
    return ready4 == 1 || ready6 == 1;
}

bool find_local_interface(tunnel &t)
{
    std::string_view type = get_string(t.node, "local.type");
    if (type == "defaultroute") {
        std::string key = format("network.route.default.metric.%s", t.family.c_str());
        std::unique_ptr<tallo_entry *, entries_deleter> entries(
            tallo_get_entries(key.c_str(), 0, 0, 0));
        constexpr std::string_view prefix = "network.interface.";
        for (tallo_entry **e = entries.get(); e && *e; ++e) {
            std::string_view value = (*e)->value ? (*e)->value : "";
            if (value.starts_with(prefix)) {
                t.interface = value.substr(prefix.size());
                break;
            }
        }
    } else if (type == "interface") {
        t.interface = get_string(t.node, "local.interface");
    }
    return !t.interface.empty();
}

bool find_left(tunnel &t)
{
    const char *ifname = t.interface.c_str();
    const char *fam = t.family.c_str();
    t.left_from = format("network.interface.%s.%s.address", ifname, fam);
    unique_text address(tallo_get_string(t.left_from.c_str()));
    if (tallo_get_int_pathf(0, "network.interface.%s.%s.passthrough", ifname, fam) == 0) {
        if (address)
            t.left = address.get();
    } else {
        // The interface's address belongs to the host behind the router:
        // the daemon binds to any and the updown script gets the real one.
        t.left = t.ipv6 ? "::" : "0.0.0.0";
        if (address)
            t.passthrough_src = address.get();
    }
    return !t.left.empty();
}

// Runs the steps of one tunnel; true when it is to be included.
bool map_tunnel(tunnel &t)
{
    // The store keeps its keys plain; the name becomes file names and
    // connection names, so nothing else may pass.
    if (!plain_name(t.name)) {
        log_error("tunnel '%s' name is not a plain key. Skipping tunnel", t.name);
        return false;
    }
    if (primary_is_up(t))
        return false;
    if (!config_get_bool(t.node, "enable"))
        return false;

    t.family = get_string(t.node, "remote.ip_version");
    t.ipv6 = t.family == "ipv6";

    if (!find_local_interface(t)) {
        log_error("tunnel '%s' local endpoint interface not available. Skipping tunnel", t.name);
        return false;
    }
    if (tallo_get_int_pathf(0, "network.interface.%s.%s.ready", t.interface.c_str(),
                            t.family.c_str()) == 0) {
        log_error("tunnel '%s' local endpoint interface not ready. Skipping tunnel", t.name);
        return false;
    }
    if (!find_left(t)) {
        log_error("tunnel '%s' local endpoint address is not available. Skipping tunnel", t.name);
        return false;
    }

    const char *hosts_key = t.ipv6 ? "remote.hostname6" : "remote.hostname";
    unique_sl hosts(config_get_string_list(t.node, hosts_key));
    unique_text right(sl_join(hosts.get(), ","));
    t.right_from = t.path + "." + hosts_key;
    t.right = right ? right.get() : "";

    t.initiate = config_get_bool(t.node, "ike.initiate");
    if (strcasecmp(t.right.c_str(), "any") == 0) {
        t.right = "%any";
        if (t.initiate) {
            log_error(
                "cannot initiate tunnel '%s' with 'any' remote end-point, disabling initiate option.",
                t.name);
            t.initiate = false;
        }
    }

    t.left_id = endpoint_identity(config_object(t.node, "local"), t.left_id_from);
    t.right_id = endpoint_identity(config_object(t.node, "remote"), t.right_id_from);

    return write_secrets(t) && settle_right_ca(t) && write_connections(t);
}

}  // namespace
}  // namespace ipsec

using namespace ipsec;

std::string ipsec::endpoint_identity(config_node *side, std::string &from)
{
    std::string_view type = get_string(side, "id.type");
    std::string_view prefix, separator;
    std::string value;
    from.clear();
    if (type == "any") {
        value = "%any";
    } else if (type == "raw" || type == "ipv4" || type == "ipv6" || type == "rfc822" ||
               type == "fqdn" || type == "keyid") {
        if (type != "raw") {
            prefix = type;
            separator = ":";
        }
        std::string key = format("id.%.*s_id", static_cast<int>(type.size()), type.data());
        value = get_string(side, key.c_str());
        unique_text side_path(config_path(side));
        from = side_path ? std::string(side_path.get()) + "." + key : key;
    } else if (type == "mac_address" || type == "serial_number") {
        const char *key = type == "mac_address" ? "system.mac" : "system.serial";
        unique_text runtime(tallo_get_string(key));
        // A live value with a line break is no MAC address or serial
        // number: it is as unknown as a missing one.
        if (!runtime || !*runtime || !text_is_one_line(runtime.get())) {
            log_error("Unable to determine %s", key);
            return {};
        }
        prefix = "keyid";
        separator = ":";
        value = runtime.get();
        from = key;
    }
    // "@[...]" asks for the text inside the brackets to be used verbatim.
    std::string_view shown = value;
    if (shown.starts_with("@[")) {
        shown = shown.size() > 3 ? shown.substr(2, shown.size() - 3) : std::string_view();
    }
    std::string out;
    out.reserve(prefix.size() + separator.size() + shown.size());
    out.append(prefix).append(separator).append(shown);
    return out;
}

extern "C" char *ipsec_endpoint_identity(config_node *side)
{
    std::string from;
    return strdup(endpoint_identity(side, from).c_str());
}

extern "C" int map_ipsec(config_t *config, int, char **)
{
    log_init("config map ipsec", 0, 1);
    unique_network model(network_load(config));

    if (config_object_has_key(config, "system", "fips") && config_get_bool(config, "system.fips"))
        return 0;

    // Both files are rewritten in place, and only once the new tree is
    // complete: both are opened first, so that a failed open, or a failed
    // run, leaves both as they were.
    const char *conf_path = "/var/run/ipsec.conf";
    const char *secrets_path = "/var/run/ipsec.secrets";
    unique_file conf(file_create(conf_path, FILE_PUBLIC | FILE_KEEP));
    if (!conf) {
        log_error("cannot open %s: %m", conf_path);
        return 1;
    }
    unique_file secrets(file_create(secrets_path, FILE_PRIVATE | FILE_KEEP));
    if (!secrets) {
        log_error("cannot open %s: %m", secrets_path);
        return 1;
    }

    bool have_tallo = tallo_init() == 0;
    if (!have_tallo)
        log_error("failed to initialize tallo interface");

    remove_leftovers();
    bool failed = !create_tree();

    std::string conf_includes = "config setup\n\n";
    std::string secrets_includes;
    bool included = false;
    int ordinal = 0;
    config_node *tunnels = config_object(config, "vpn.ipsec.tunnel");
    for (config_node *n = failed ? nullptr : config_object_first(tunnels); n;
         n = config_object_next(n)) {
        tunnel t;
        t.root = config;
        t.model = model.get();
        t.node = n;
        t.ordinal = ++ordinal;
        const char *name = config_key(n);
        t.name = name ? name : "";
        unique_text path(config_path(n));
        t.path = path ? path.get() : "";
        bool mapped = map_tunnel(t);
        if (t.write_failed) {
            failed = true;
            break;
        }
        if (!mapped)
            continue;
        conf_includes += "include " + ipsec_tunnel_conf_file(live_tree, t.name) + "\n";
        secrets_includes += format("include %s/secrets/%s.secret\n", live_tree, t.name);
        included = true;
    }
    if (have_tallo)
        tallo_deinit();

    // A tree that could not be written whole never replaces the live one.
    if (failed || !swap_tree()) {
        file_remove_tree(new_tree);
        return 1;
    }
    bool written = rewrite(conf.release(), conf_path, conf_includes);
    written = rewrite(secrets.release(), secrets_path, secrets_includes) && written;
    return included && written ? 0 : 1;
}
