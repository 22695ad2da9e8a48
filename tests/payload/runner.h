// Runs the generators on many configurations in one private namespace
// (nsrun.h): one namespace costs far more than one run of a generator, and
// the payload test makes hundreds of runs.  Before each run everything the
// previous one wrote below /var/run is removed (the runtime store stays),
// and the generators run under umask 000, so the modes they get are their
// own.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace payload {

struct run_input {
    std::string config;                   // /etc/config/config.json
    std::vector<std::string> generators;  // `config map NAME`, in this order
    bool check_openvpn = false;           // put the OpenVPN files to the daemon
};

struct generator_result {
    int status = -1;
    std::string messages;  // standard error
};

struct run_output {
    std::map<std::string, generator_result> generators;
    // Every file and directory the run left below /var/run: path ->
    // contents ("<dir>" for a directory, "-> target" for a link).
    std::map<std::string, std::string> files;
    std::map<std::string, unsigned> modes;
    // A value ran as a shell command: a payload "$(id>payload-ran)" left
    // its file (the generators run in /run).
    bool shell_ran = false;
    // OpenVPN file -> "accepted" or the daemon's first option error.
    std::map<std::string, std::string> openvpn;
};

struct runner {
    std::vector<std::pair<std::string, std::string>> runtime;  // store values
    std::vector<std::string> openvpn_files;                    // checked when a run asks for it

    // Outputs in the order of inputs; empty with error set when the
    // namespace could not be set up.
    std::vector<run_output> run(const std::vector<run_input> &inputs, std::string &error) const;
};

}  // namespace payload
