// Runs a program of the build inside a private mount namespace.  The set-up,
// the run and the collection of files are one generated shell script, so a
// run costs one unshare and one shell, not a process per step.
#include "nsrun.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace nsrun {

namespace {

#ifndef NSRUN_CONFIG
#define NSRUN_CONFIG "config"
#define NSRUN_CONFIG_FILE "config"
#endif

std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += "'";
    return out;
}

void put(const fs::path &path, const std::string &data)
{
    std::ofstream f(path, std::ios::binary);
    f << data;
}

std::string slurp(const fs::path &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// "/a/b/" -> "/a/b"; keeps "/".
std::string trim_slash(std::string p)
{
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

bool below(const std::string &path, const std::string &dir)
{
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           path[dir.size()] == '/');
}

// Runs argv and waits; returns the exit status or -1.
int spawn_wait(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

void collect(const fs::path &root, const std::string &path, Result &r)
{
    fs::path host = root / fs::path(path).relative_path();
    std::error_code ec;
    auto st = fs::symlink_status(host, ec);
    if (ec || !fs::exists(st))
        return;
    auto add = [&](const std::string &name, const fs::path &p, fs::file_status s) {
        r.modes[name] = static_cast<unsigned>(s.permissions()) & 07777;
        if (fs::is_symlink(s))
            r.files[name] = "-> " + fs::read_symlink(p).string();
        else if (fs::is_directory(s))
            r.files[name] = "<dir>";
        else if (fs::is_fifo(s))
            r.files[name] = "<fifo>"; /* opening it would wait for a writer forever */
        else if (!fs::is_regular_file(s))
            r.files[name] = "<special>"; /* a device or socket: not read either */
        else
            r.files[name] = slurp(p);
    };
    add(path, host, st);
    if (!fs::is_directory(st))
        return;
    for (auto it = fs::recursive_directory_iterator(host, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        // Lexically: fs::relative would follow a symlink whose target
        // exists on the host (/dev/zero) and name the target instead.
        std::string rel = it->path().lexically_relative(host).string();
        add(path + "/" + rel, it->path(), it->symlink_status());
    }
}

}  // namespace

std::string config_binary() { return NSRUN_CONFIG; }
std::string tallo_binary() { return NSRUN_TALLO; }
std::string config_file() { return NSRUN_CONFIG_FILE; }

Result run(const Spec &spec)
{
    Result r;
    const char *tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/nsrun.XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        r.err = std::string("nsrun: cannot create a temporary directory: ") + strerror(errno);
        return r;
    }
    const fs::path h = tmpl;

    std::vector<std::string> mounts = {"/run", "/etc/config"};
    for (const auto &d : spec.tmpfs)
        mounts.push_back(trim_slash(d));
    for (const auto &[path, _] : spec.files) {
        bool ok = below(path, "/var/run");
        for (const auto &m : mounts)
            ok = ok || below(path, m);
        if (!ok || path.find("/../") != std::string::npos) {
            r.err = "nsrun: refusing to create " + path +
                    " outside the private mounts (/run, /etc/config, tmpfs)\n";
            fs::remove_all(h);
            return r;
        }
    }

    std::ostringstream sh;
    sh << "set -e\nexec 2>" << quote((h / "setup.err").string()) << "\n"
       << "H=" << quote(h.string()) << "\n";
    for (const auto &m : mounts)
        sh << "mkdir -p " << quote(m) << "\nmount -n -t tmpfs -o mode=0755 nsrun " << quote(m)
           << "\n";

    fs::create_directory(h / "in");
    int n = 0;
    for (const auto &[path, data] : spec.files) {
        std::string staged = (h / "in" / std::to_string(n++)).string();
        put(staged, data);
        sh << "mkdir -p \"$(dirname " << quote(path) << ")\"\ncp " << quote(staged) << " "
           << quote(path) << "\n";
        // Stand-in programs are given as scripts; they need to be runnable.
        if (data.compare(0, 2, "#!") == 0)
            sh << "chmod 755 " << quote(path) << "\n";
    }
    if (spec.has_config) {
        put(h / "in" / "config.json", spec.config_json);
        sh << "cp \"$H/in/config.json\" /etc/config/config.json\n";
    }

    // Values go in with one `tallo load`; the rare value with a line break
    // needs a `tallo set` of its own.
    std::string load;
    for (const auto &[key, value] : spec.runtime) {
        if (value.find_first_of("\r\n") == std::string::npos && !value.empty() &&
            value.front() != ' ' && value.front() != '\t' && value.back() != ' ' &&
            value.back() != '\t')
            load += key + " " + value + "\n";
        else
            sh << "env -u TALLO_DB " << quote(tallo_binary()) << " set " << quote(key) << " "
               << quote(value) << "\n";
    }
    if (!load.empty()) {
        put(h / "in" / "runtime", load);
        sh << "env -u TALLO_DB " << quote(tallo_binary()) << " load \"$H/in/runtime\"\n";
    }

    if (!spec.before.empty())
        sh << spec.before << "\n";
    put(h / "in" / "stdin", spec.stdin_data);
    sh << "set +e\ncd /\n";
    std::string path_env = "";
    for (const auto &d : spec.path_prepend)
        path_env += d + ":";
    // A generator that reads a key the schema does not know (a misspelling
    // that would read as "" or 0) stops with the path named; a test may
    // still turn that off through env.
    sh << "(\nunset TALLO_DB\nexport QUILL_STRICT_READS=1\n";
    if (!path_env.empty())
        sh << "PATH=" << quote(path_env) << "\"$PATH\"\n";
    for (const auto &[k, v] : spec.env)
        sh << "export " << k << "=" << quote(v) << "\n";
    sh << "exec ";
    if (spec.uid != 0 || spec.gid != 0)
        sh << "setpriv --reuid=" << spec.uid << " --regid=" << spec.gid << " --clear-groups -- ";
    sh << quote(spec.program.empty() ? config_binary() : spec.program);
    for (const auto &a : spec.args)
        sh << " " << quote(a);
    sh << "\n) <\"$H/in/stdin\" >\"$H/out\" 2>\"$H/err\"\n"
       << "echo $? >\"$H/status\"\n";
    if (!spec.after.empty()) {
        put(h / "in" / "after", spec.after);
        sh << "(unset TALLO_DB; sh \"$H/in/after\") </dev/null >\"$H/after\" 2>\"$H/after.err\"\n";
    }
    sh << "mkdir \"$H/c\"\n";
    for (const auto &c : spec.collect) {
        std::string p = trim_slash(c);
        std::string rel = p.substr(
            p.find_first_not_of('/') == std::string::npos ? p.size() : p.find_first_not_of('/'));
        sh << "if [ -e " << quote(p) << " ] || [ -L " << quote(p) << " ]; then tar -C / -cpf - "
           << quote(rel) << " | tar -C \"$H/c\" -xpf -; fi\n";
    }
    put(h / "run.sh", sh.str());

    std::vector<std::string> cmd;
    if (geteuid() == 0)
        cmd = {"unshare", "--mount", "--propagation", "private"};
    else
        cmd = {"unshare", "--user", "--map-root-user", "--mount"};
    cmd.push_back("sh");
    cmd.push_back((h / "run.sh").string());
    int rc = spawn_wait(cmd);

    r.out = slurp(h / "out");
    r.err = slurp(h / "err");
    r.after = slurp(h / "after");
    std::string status = slurp(h / "status");
    if (status.empty()) {
        r.status = -1;
        r.err +=
            "nsrun: set-up failed (status " + std::to_string(rc) + "): " + slurp(h / "setup.err");
    } else {
        r.status = std::atoi(status.c_str());
    }
    for (const auto &c : spec.collect)
        collect(h / "c", trim_slash(c), r);

    if (!getenv("NSRUN_KEEP"))
        fs::remove_all(h);
    return r;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string json_string(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            // JSON takes no raw control byte inside a string.
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

}  // namespace nsrun
