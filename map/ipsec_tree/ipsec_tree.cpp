#include "ipsec_tree.h"

#include <glob.h>

#include "anvil.h"

namespace {

bool names_tunnel(std::string_view value, std::string_view tunnel)
{
    constexpr std::string_view separators = " \t,";
    size_t pos = 0;
    while (pos < value.size()) {
        size_t start = value.find_first_not_of(separators, pos);
        if (start == std::string_view::npos)
            break;
        size_t end = value.find_first_of(separators, start);
        if (end == std::string_view::npos)
            end = value.size();
        std::string_view token = value.substr(start, end - start);
        size_t slash = token.rfind('/');
        if (slash != std::string_view::npos)
            token.remove_prefix(slash + 1);
        if (token == tunnel)
            return true;
        pos = end;
    }
    return false;
}

}  // namespace

std::string ipsec_tunnel_conf_file(std::string_view tree, std::string_view tunnel)
{
    std::string path(tree);
    path += "/conf/";
    path += tunnel;
    path += ".conf";
    return path;
}

std::vector<std::string> ipsec_tunnel_files(std::string_view tunnel)
{
    // Tunnel keys hold letters, digits, '_' and '-' only: nothing in the
    // name is a pattern character.  The program runs in the C locale, where
    // glob sorts by byte value.
    std::string pattern = std::string(ipsec_live_tree) + "/*/";
    pattern += tunnel;
    pattern += ".*";
    std::vector<std::string> files;
    glob_t matches{};
    if (glob(pattern.c_str(), 0, nullptr, &matches) == 0)
        files.assign(matches.gl_pathv, matches.gl_pathv + matches.gl_pathc);
    globfree(&matches);
    return files;
}

int map_check_if_tunnel_is_nhrp(config_node *root, const char *tunnel)
{
    if (!root || !tunnel || !*tunnel)
        return 0;
    if (!config_object_has_key(root, "network.route.service", "nhrp"))
        return 0;
    config_node *networks = config_array(root, "network.route.service.nhrp.network");
    for (config_node *n = config_array_first(networks); n; n = config_array_next(n)) {
        const char *value = config_get_string(n, "ipsec");
        if (value && *value && names_tunnel(value, tunnel)) {
            log_debug("Tunnel %s is managed by NHRP", tunnel);
            return 1;
        }
    }
    return 0;
}
