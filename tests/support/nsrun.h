// Runs the real `config` binary (or another program of the build) inside a
// private mount namespace, with fresh tmpfs mounts over /run (so /var/run)
// and /etc/config, so every fixed path is exercised as written and nothing
// on the host is touched.  Every end-to-end test goes through this helper.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace nsrun {

struct Spec {
    // Arguments after the program name.
    std::vector<std::string> args;
    // Program to run; empty means the built `config`.
    std::string program;
    // Contents of /etc/config/config.json; nullopt-like: when has_config is
    // false no file is written (a new device).
    std::string config_json;
    bool has_config = true;
    // Runtime-store values set (with the built `tallo`) before the run.
    std::vector<std::pair<std::string, std::string>> runtime;
    // Further files created before the run: absolute path -> contents.
    // Parent directories are created.  Paths under /run, /var/run,
    // /etc/config or a directory in `tmpfs` only.  Files that start with "#!" are made
    // executable (mode 0755), the rest get 0644.
    std::map<std::string, std::string> files;
    // Further directories that get a fresh tmpfs (e.g. /etc/marlo, /sys/...).
    std::vector<std::string> tmpfs;
    // Files or directories (recursively) whose contents come back in
    // Result::files after the run.  Directories also report symlinks.
    std::vector<std::string> collect;
    // Extra environment for the program (the rest is inherited).  Every
    // run has QUILL_STRICT_READS=1: a read of a key the schema does not
    // know stops the program with the path named.
    std::map<std::string, std::string> env;
    // Directories prepended to PATH inside the namespace (stand-in programs).
    std::vector<std::string> path_prepend;
    std::string stdin_data;
    // Run the program as this uid/gid (after the set-up, which runs as root).
    // Needs a root host: an unprivileged host maps only uid 0.
    int uid = 0, gid = 0;
    // Shell commands run inside the namespace before the program (as root,
    // after the files and runtime values are in place), in the shell that
    // starts it: e.g. "umask 000", or filling a file system.
    std::string before;
    // Shell commands run inside the namespace after the program (as root),
    // e.g. to read the runtime store: their stdout lands in Result::after.
    std::string after;
};

struct Result {
    // Exit status, 128+signal when killed; -1 when the set-up failed (err
    // then says why, e.g. a file outside the private mounts).
    int status = -1;
    std::string out, err;
    // Collected paths: path -> contents; symlinks appear as "-> target";
    // directories as "<dir>", FIFOs as "<fifo>", other special files as
    // "<special>" (never opened).  A path that did not exist is absent.
    std::map<std::string, std::string> files;
    std::map<std::string, unsigned> modes;  // permission bits of collected files
    std::string after;
};

Result run(const Spec &spec);

// Commands that start the built programs (set by the build).  In a cross
// build they are scripts that run the programs under the emulator.
std::string config_binary();
std::string tallo_binary();
// The built `config` file itself, for tools that read it (nm).
std::string config_file();

// A text as a JSON string literal, for building configurations in tests
// (certificates and keys span lines).
std::string json_string(const std::string &text);

// The lines of a program's output or a generated file, without their line
// feeds; a last line without one counts too.
std::vector<std::string> lines_of(const std::string &text);

}  // namespace nsrun
