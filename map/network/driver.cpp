// `config map network`: writes the network daemon's UCI file from the
// network model, publishes the device map to the runtime store and moves
// the finished file into place.
#include "map_network.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "anvil.h"
#include "dump.h"
#include "mapper.h"
#include "tallo.h"

namespace {

constexpr const char *uci_dir = "/var/run/uci";
constexpr const char *tmp_file = "/var/run/uci/network.new";
constexpr const char *final_file = "/var/run/uci/network";

// The file in the order the network daemon reads it: globals, devices,
// interfaces, the modems that no interface uses, routes.
void write_file(network_run &run)
{
    uci_write_section(run.uci, "globals", nullptr, "%s", "globals");
    if (!read_text(run.config, "network.advanced.ula_prefix").empty())
        uci_write_option_config(run.uci, "ula_prefix", run.config, "network.advanced.ula_prefix");
    map_devices(run);
    for (network_node *n = network_first_type(run.model, NETWORK_NODE_INTERFACE); n;
         n = network_next_type(run.model, n, NETWORK_NODE_INTERFACE))
        map_interface(run, n);
    map_modems_without_interface(run);
    map_modems_fw_update_interface(run);
    map_routes(run);
}

// The device map is replaced as one edit group, so readers never see it
// half refreshed; a failed step abandons the group and keeps the old map.
bool publish_device_map(network_t *model)
{
    if (tallo_edit_start() != 0)
        return false;
    bool ok = tallo_delete("network.device_map") == 0;
    int n = 0;
    for (network_node *dev = network_first_type(model, NETWORK_NODE_DEVICE); ok && dev;
         dev = network_next_type(model, dev, NETWORK_NODE_DEVICE), n++) {
        unique_text path(config_path(network_config(dev)));
        ok = tallo_set_string_pathf(network_name(dev), "network.device_map.%d.device", n) == 0 &&
             tallo_set_string_pathf(path ? path.get() : "", "network.device_map.%d.path", n) == 0;
    }
    // Closing the store with the group still open rolls it back.
    return ok && tallo_edit_commit() == 0;
}

// Writes the whole file under its temporary name, mode 0600 (it holds the
// PPPoE, L2TP and dial-in passwords, the NEMO key and the MACsec CAK) and
// synced, ready to be moved over the live one.  A file that could not be
// written completely never replaces the working one.
bool write_network_file(network_run &run)
{
    FILE *out = file_create(tmp_file, FILE_PRIVATE);
    if (!out) {
        log_error("cannot create %s: %m", tmp_file);
        return false;
    }
    run.uci = uci_writer(out);
    write_file(run);
    run.uci = uci_writer();
    if (!file_finish(out, 1)) {
        log_error("cannot write %s: %m", tmp_file);
        unlink(tmp_file);
        return false;
    }
    return true;
}

int query_device(config_t *config, network_t *model, int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("error: expected single parameter for --device PATH\n", stderr);
        return 1;
    }
    config_node *node = config_lookup(config, argv[1]);
    if (!node) {
        std::fputs("error: config lookup failed\n", stderr);
        return 1;
    }
    network_node *device = network_find_device(model, node);
    if (!device) {
        std::fputs("error: network node lookup failed\n", stderr);
        return 1;
    }
    std::printf("%s\n", network_name(device));
    return 0;
}

}  // namespace

extern "C" int map_network(config_t *config, int argc, char **argv)
{
    unique_network owner(network_load(config));
    network_t *model = owner.get();
    log_init("config map network", 0, 1);

    for (int i = 0; i < argc; i++) {
        std::string_view arg = text_view(argv[i]);
        if (arg == "-p") {
            network_dump(model, 0);
            return 0;
        }
        if (arg == "--device")
            return query_device(config, model, argc, argv);
    }

    bool written, published, side_files;
    {
        network_run run;
        run.config = config;
        run.model = model;
        run.store.open();

        // The run directory lives on a tmpfs that starts empty at boot.
        if (mkdir(uci_dir, 0755) != 0 && errno != EEXIST)
            log_error("cannot create %s: %m", uci_dir);

        written = write_network_file(run);
        published = publish_device_map(model);
        if (!published)
            log_error("cannot refresh the device map network.device_map in the runtime store");
        // Side files that could not be written were logged as they failed.
        side_files = !run.side_file_failed;
    }
    owner.reset();

    if (!written)
        return 1;
    if (file_replace(1, tmp_file, final_file, 0) != 1) {
        log_error("cannot replace %s: %m", final_file);
        return 1;
    }
    return published && side_files ? 0 : 1;
}
