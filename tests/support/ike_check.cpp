// Loads IPsec files into the real IKE daemon; see ike_check.h.
#include "ike_check.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace ike_check {

namespace {

using nsrun::lines_of;

const std::string dir = "/run/ike-check";
const std::string tree_root = "/var/run/ipsec.d";

// The daemon's own settings: everything as installed, plus a log file in
// which each line is written at once (the daemon is stopped by killing its
// namespace).  Level 2 of the configuration group names every secret it
// loads without showing it.
const char *strongswan_conf = R"(charon {
	load_modular = yes
	plugins {
		include strongswan.d/charon/*.conf
	}
	filelog {
		ike_check {
			path = /run/ike-check/charon.log
			default = 1
			cfg = 2
			flush_line = yes
		}
	}
}
include strongswan.d/*.conf
)";

// Runs as PID 1 of the daemon's namespaces, with the number of connections
// to wait for as its argument.
const char *script = R"sh(I=/run/ike-check
expected=$1
while IFS='	' read -r target link; do
	mkdir -p "$(dirname "$link")" && ln -s "$target" "$link"
done <$I/links
while read -r d; do mkdir -p "$d"; done <$I/dirs
mount --bind $I/ipsec.conf /etc/ipsec.conf &&
mount --bind $I/ipsec.secrets /etc/ipsec.secrets &&
mount --bind $I/strongswan.conf /etc/strongswan.conf || exit 1
if [ -d /var/run/ipsec.d ]; then mount --bind /var/run/ipsec.d /etc/ipsec.d || exit 1; fi
ipsec start >$I/start.out 2>&1 || exit 0
i=0
while [ ! -S /var/run/charon.ctl ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
[ -S /var/run/charon.ctl ] || exit 0
i=0
while [ $i -lt 60 ]; do
	n=$(ipsec statusall 2>/dev/null | sed -n '/^Connections:/,/^Security Associations/s/^ *\([^ :][^ :]*\):  .*/\1/p' | sort -u | wc -l)
	[ "$n" -ge "$expected" ] && break
	sleep 0.05
	i=$((i + 1))
done
ipsec statusall >$I/statusall 2>&1
)sh";

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Connections the daemon should end up with: those of the file and of the
// tree files it includes.
size_t count_connections(const Files &files)
{
    size_t n = 0;
    auto count = [&n](const std::string &text) {
        for (const auto &line : lines_of(text))
            if (starts_with(line, "conn ") && line != "conn %default")
                ++n;
    };
    count(files.conf);
    for (const auto &line : lines_of(files.conf)) {
        if (!starts_with(line, "include "))
            continue;
        auto it = files.tree.find(line.substr(8));
        if (it != files.tree.end())
            count(it->second);
    }
    return n;
}

// "[id] uses pre-shared key authentication" -> id and "pre-shared key".
void side_of(const std::string &rest, std::string &id, std::string &auth)
{
    std::string tail = rest;
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.rfind("] uses ");
        if (close == std::string::npos)
            close = rest.rfind(']');
        id = rest.substr(1, close - 1);
        tail = rest.substr(close + 1);
    }
    size_t uses = tail.find("uses ");
    size_t end = tail.find(" authentication");
    if (uses != std::string::npos && end != std::string::npos && end > uses)
        auth = tail.substr(uses + 5, end - uses - 5);
}

void parse_statusall(Report &r)
{
    bool in_connections = false;
    for (const auto &line : lines_of(r.statusall)) {
        if (line == "Connections:") {
            in_connections = true;
            continue;
        }
        if (starts_with(line, "Security Associations"))
            in_connections = false;
        if (!in_connections)
            continue;
        size_t start = line.find_first_not_of(' ');
        size_t colon = line.find(':', start);
        if (start == std::string::npos || colon == std::string::npos)
            continue;
        std::string name = line.substr(start, colon - start);
        std::string rest = line.substr(colon + 1);
        auto it = std::find_if(r.connections.begin(), r.connections.end(),
                               [&](const Connection &c) { return c.name == name; });
        if (it == r.connections.end()) {
            r.connections.push_back({});
            it = r.connections.end() - 1;
            it->name = name;
        }
        it->text += line + "\n";
        size_t field = rest.find_first_not_of(' ');
        if (field == std::string::npos)
            continue;
        rest = rest.substr(field);
        if (starts_with(rest, "local:") && it->local_auth.empty())
            side_of(rest.substr(rest.find_first_not_of(' ', 6)), it->local_id, it->local_auth);
        else if (starts_with(rest, "remote:") && it->remote_auth.empty())
            side_of(rest.substr(rest.find_first_not_of(' ', 7)), it->remote_id, it->remote_auth);
    }
}

void parse_log(Report &r)
{
    const std::string loaded = "loaded ";
    for (const auto &line : lines_of(r.log)) {
        // "00[CFG] message": what the daemon makes of the files is in the
        // configuration group; secrets are indented below their file.
        size_t group = line.find("[CFG] ");
        if (group == std::string::npos)
            continue;
        std::string text = line.substr(group + 6);
        std::string bare = text.substr(std::min(text.size(), text.find_first_not_of(' ')));
        if (starts_with(bare, "loaded ") && (bare.find(" secret for ") != std::string::npos ||
                                             bare.find(" private key from ") != std::string::npos))
            r.secrets.push_back(bare.substr(loaded.size()));
        static const char *const refusals[] = {"failed",  "invalid",   "skipped",
                                               "missing", "unable to", "not found",
                                               "no such", "error",     "unknown"};
        bool refused = starts_with(bare, "line ");  // a secrets line it could not parse
        for (const char *word : refusals)
            refused = refused || bare.find(word) != std::string::npos;
        // Things the daemon always says in an empty namespace.
        if (refused && bare.find("HA config misses") == std::string::npos &&
            bare.find("RADIUS server") == std::string::npos)
            r.problems.push_back(bare);
    }
}

void parse_starter(Report &r, const std::string &out)
{
    std::set<std::string> unknown;
    for (const auto &line : lines_of(out)) {
        const std::string keyword = "# unknown keyword '";
        if (starts_with(line, "Starting strongSwan"))
            continue;
        if (starts_with(line, keyword)) {
            unknown.insert(line.substr(keyword.size(), line.size() - keyword.size() - 1));
            continue;
        }
        if (starts_with(line, "### ") && line.find(" parsing error") != std::string::npos &&
            line.find("(0 fatal)") != std::string::npos)
            continue;
        r.starter_problems.push_back(line);
    }
    r.unknown_keywords.assign(unknown.begin(), unknown.end());
}

}  // namespace

const Connection *Report::connection(const std::string &name) const
{
    for (const auto &c : connections)
        if (c.name == name)
            return &c;
    return nullptr;
}

Files from_result(const nsrun::Result &r)
{
    Files f;
    auto get = [&r](const std::string &path) {
        auto it = r.files.find(path);
        return it == r.files.end() ? std::string() : it->second;
    };
    f.conf = get("/var/run/ipsec.conf");
    f.secrets = get("/var/run/ipsec.secrets");
    for (const auto &[path, contents] : r.files)
        if (starts_with(path, tree_root + "/"))
            f.tree[path] = contents;
    return f;
}

Report load(const Files &files)
{
    Report report;
    nsrun::Spec spec;
    spec.has_config = false;
    spec.program = "unshare";
    spec.args = {"--net", "--pid",           "--fork",
                 "sh",    dir + "/check.sh", std::to_string(count_connections(files))};
    spec.files[dir + "/check.sh"] = script;
    spec.files[dir + "/strongswan.conf"] = strongswan_conf;
    spec.files[dir + "/ipsec.conf"] = files.conf;
    spec.files[dir + "/ipsec.secrets"] = files.secrets;
    std::string links, dirs = tree_root + "\n";
    for (const auto &[path, contents] : files.tree) {
        if (contents == "<dir>")
            dirs += path + "\n";
        else if (starts_with(contents, "-> "))
            links += contents.substr(3) + "\t" + path + "\n";
        else
            spec.files[path] = contents;
    }
    for (const auto &[path, contents] : files.extra)
        spec.files[path] = contents;
    spec.files[dir + "/links"] = links;
    spec.files[dir + "/dirs"] = dirs;
    spec.collect = {dir};

    nsrun::Result r = nsrun::run(spec);
    auto get = [&r](const std::string &name) {
        auto it = r.files.find(dir + "/" + name);
        return it == r.files.end() ? std::string() : it->second;
    };
    if (r.status != 0) {
        report.error =
            "ike_check: set-up failed (status " + std::to_string(r.status) + "): " + r.err;
        return report;
    }
    report.statusall = get("statusall");
    report.log = get("charon.log");
    report.started = report.statusall.find("Status of IKE charon daemon") != std::string::npos;
    parse_starter(report, get("start.out"));
    parse_statusall(report);
    parse_log(report);
    return report;
}

}  // namespace ike_check
