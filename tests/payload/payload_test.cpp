// Every text key of the schema that reaches a generated file, driven with
// texts that would break the file if written as they are: a line feed, a
// carriage return, quotes, a backslash, a blank, a closing bracket and
// shell substitutions.  The keys come from the schema (keys.h) and the
// configuration is examples/office.json with its runtime values, and the
// same with each of a few modes switched on that the example leaves off
// (other login methods, other IPsec credentials and identities, OpenVPN
// server certificates), so a key added to the schema is driven without a
// change here.
//
// First, which keys reach a file: each key gets a marker of its own and
// the files are searched for it (PayloadKeys; its list is left in
// payload_reach.txt for the runs of the other cases).  Then, per generator
// and per payload, every key that reaches one of its files holds the
// payload, and the files must keep their shape (shape.h): no line,
// directive, section, option, argument or field more than when the same
// keys hold their plain markers, and none less unless a message names the
// key's configuration path.  Every file also passes its reader's own
// check: `dnsmasq --test`, the strict UCI check, the `openvpn` parse,
// Linux-PAM and the IKE daemon.  Messages never hold a value, the modes
// are those the README gives, and no value runs as a shell command.
//
// Keys are put in together and split only where a run left something out
// or failed, so that a key that left out its unit (an IPsec tunnel, say)
// does not hide what the others do.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "dnsmasq_check.h"
#include "ike_check.h"
#include "keys.h"
#include "pam_check.h"
#include "runner.h"
#include "shape.h"
#include "schema.h"

namespace payload {
namespace {

struct payload_text {
    const char *name;
    std::string text;
};

const std::vector<payload_text> payloads = {
    {"line feed", "\n"},
    {"carriage return", "\r"},
    {"double quote", "\""},
    {"single quote", "'"},
    {"backslash", "\\"},
    {"blank", " "},
    {"closing bracket", "]"},
    {"$(...)", "$(id>payload-ran)"},
    {"backquote", "`id>payload-ran`"},
};

const std::vector<std::string> all_generators = {"ipsec", "network", "dnsmasq", "pam"};

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Which generator writes a file below /var/run.
std::string writer_of(const std::string &path)
{
    if (starts_with(path, "/var/run/ipsec."))
        return "ipsec";
    if (path == "/var/run/dnsmasq.conf" || path == "/var/run/hostnamesniffer.cfg")
        return "dnsmasq";
    if (path == "/var/run/pam.conf" || path == "/var/run/radius.conf" ||
        path == "/var/run/ldap.conf")
        return "pam";
    return "network";
}

struct base_config {
    std::string json;
    std::vector<std::pair<std::string, std::string>> runtime;
};

const base_config &office()
{
    static const base_config b = [] {
        base_config c;
        c.json = slurp(std::string(EXAMPLES_DIR) + "/office.json");
        std::istringstream in(slurp(std::string(EXAMPLES_DIR) + "/office.runtime"));
        for (std::string line; std::getline(in, line);) {
            size_t blank = line.find(' ');
            if (!line.empty() && line[0] != '#' && blank != std::string::npos)
                c.runtime.push_back({line.substr(0, blank), line.substr(blank + 1)});
        }
        return c;
    }();
    return b;
}

// Modes the example leaves off, each switched on over the example, so that
// the keys only they write are driven too: a key below the scope that
// reaches no file in the example is looked for there.  The user's own
// OpenVPN options and client file are left off: they are meant to hold
// directives.
struct variant {
    const char *scope;
    std::vector<std::pair<std::string, std::string>> switches;  // path -> JSON
};

const std::vector<variant> variants = {
    {"auth.", {{"auth.method", R"(["tacacs+", "ldap", "radius", "local"])"}}},
    {"vpn.ipsec.tunnel.branch.",
     {{"vpn.ipsec.tunnel.branch.auth.type", R"("asymmetric-secrets")"},
      {"vpn.ipsec.tunnel.branch.xauth_client.enable", "true"},
      {"vpn.ipsec.tunnel.branch.local.id.type", R"("raw")"},
      {"vpn.ipsec.tunnel.branch.remote.id.type", R"("ipv4")"}}},
    {"vpn.ipsec.tunnel.branch.",
     {{"vpn.ipsec.tunnel.branch.auth.type", R"("x509")"},
      {"vpn.ipsec.tunnel.branch.auth.peer_verify", R"("cert")"},
      {"vpn.ipsec.tunnel.branch.local.id.type", R"("rfc822")"},
      {"vpn.ipsec.tunnel.branch.remote.id.type", R"("keyid")"}}},
    {"vpn.ipsec.tunnel.branch.",
     {{"vpn.ipsec.tunnel.branch.auth.type", R"("rsasig")"},
      {"vpn.ipsec.tunnel.branch.local.id.type", R"("ipv6")"},
      {"vpn.ipsec.tunnel.branch.remote.id.type", R"("rfc822")"}}},
    {"vpn.openvpn.server.road.",
     {{"vpn.openvpn.server.road.authentication", R"("both")"},
      {"vpn.openvpn.server.road.autogenerate", "false"}}},
};

// The configuration keys of base b are driven in: the example, or the
// example with a variant's switches.
const std::string &base_json(size_t b)
{
    static const std::vector<std::string> bases = [] {
        std::vector<std::string> out = {with_json(office().json, {})};
        for (const auto &v : variants)
            out.push_back(with_json(office().json, v.switches));
        return out;
    }();
    return bases.at(b);
}

// Every key of the example, then the keys of each variant below its scope,
// markers numbered throughout.
std::vector<key> all_keys(std::string &error)
{
    std::vector<key> out = keys_of(office().json, error);
    for (size_t v = 0; v < variants.size() && !out.empty(); v++) {
        auto more = keys_of(base_json(v + 1), error, out.size());
        for (auto &k : more)
            if (starts_with(k.path, variants[v].scope)) {
                k.base = v + 1;
                out.push_back(std::move(k));
            }
        if (more.empty())
            return {};
    }
    return out;
}

// The files of a run that a generator wrote, with their shapes.
std::map<std::string, shape> shapes_of(const run_output &o, const std::string &generator)
{
    std::map<std::string, shape> out;
    for (const auto &[path, contents] : o.files)
        if (writer_of(path) == generator && contents != "<dir>" && contents.rfind("-> ", 0) != 0)
            out[path] = shape_of(path, contents);
    return out;
}

std::string join(const std::multiset<std::string> &units)
{
    std::string out;
    for (const auto &u : units)
        out += (out.empty() ? "" : ", ") + u;
    return out;
}

// What a run did wrong whatever the values: a value in a message, a mode
// other than the documented one, a value run by a shell, a file its reader
// would choke on.
std::vector<std::string> basic_faults(const run_output &o, const std::string &generator)
{
    std::vector<std::string> faults;
    auto g = o.generators.find(generator);
    if (g == o.generators.end()) {
        faults.push_back(generator + " did not run");
        return faults;
    }
    if (g->second.messages.find("qzx") != std::string::npos)
        faults.push_back("a message holds a value: " + g->second.messages);
    if (o.shell_ran)
        faults.push_back("a value ran as a shell command");
    for (const auto &[path, contents] : o.files) {
        if (writer_of(path) != generator || contents.rfind("-> ", 0) == 0)
            continue;
        bool directory = contents == "<dir>";
        unsigned want = documented_mode(path, directory);
        unsigned got = o.modes.at(path);
        if (!want && !directory) {
            faults.push_back(path + ": no documented mode");
        } else if (want && got != want) {
            char text[80];
            snprintf(text, sizeof text, "mode %04o, documented %04o", got, want);
            faults.push_back(path + ": " + text);
        }
    }
    for (const auto &[path, s] : shapes_of(o, generator))
        if (!s.error.empty())
            faults.push_back(path + ": " + s.error);
    return faults;
}

// Units of the reference run that this run lacks, and units it has that
// the reference lacks, over the generator's files.
void compare(const run_output &ref, const run_output &got, const std::string &generator,
             std::multiset<std::string> &dropped, std::multiset<std::string> &added)
{
    auto a = shapes_of(ref, generator), b = shapes_of(got, generator);
    for (const auto &[path, s] : a) {
        auto it = b.find(path);
        for (const auto &u :
             missing(s.units, it == b.end() ? std::multiset<std::string>{} : it->second.units))
            dropped.insert(path + ": " + u);
    }
    for (const auto &[path, s] : b) {
        auto it = a.find(path);
        for (const auto &u :
             missing(s.units, it == a.end() ? std::multiset<std::string>{} : it->second.units))
            added.insert(path + ": " + u);
    }
}

// ---- which keys reach a file ---------------------------------------------

struct reach_table {
    std::vector<key> keys;
    // Groups of keys whose markers were put in together without leaving
    // anything of the example out (clean), and keys that leave something
    // out on their own (an unknown interface name, say).
    std::vector<std::vector<size_t>> groups;
    std::vector<bool> clean;
    std::vector<std::set<std::string>> reach;  // per key: the files
};

std::vector<std::pair<std::string, std::string>> marker_values(const reach_table &t,
                                                               const std::vector<size_t> &keys)
{
    std::vector<std::pair<std::string, std::string>> v;
    for (size_t k : keys)
        v.push_back({t.keys[k].path, t.keys[k].marker});
    return v;
}

// Nothing of the baseline is missing, and nothing fails.
bool clean_run(const run_output &baseline, const run_output &o)
{
    for (const auto &g : all_generators) {
        if (o.generators.count(g) == 0 ||
            o.generators.at(g).status != baseline.generators.at(g).status)
            return false;
        std::multiset<std::string> dropped, added;
        compare(baseline, o, g, dropped, added);
        if (!dropped.empty())
            return false;
    }
    return true;
}

runner office_runner()
{
    runner r;
    r.runtime = office().runtime;
    return r;
}

// Enumerations and references choose what else of their unit is written:
// with a marker in one, the values beside it may go unread without
// anything being left out.  So they never share a run with other keys,
// and those that do share a run come from far apart in the schema.
bool chooses(const key &k) { return k.type == SCHEMA_ENUM || k.type == SCHEMA_REFERENCE; }

std::vector<std::vector<size_t>> first_groups(const std::vector<key> &keys)
{
    const size_t size = 16;
    std::vector<size_t> values, choosers;
    for (size_t k = 0; k < keys.size(); k++)
        (chooses(keys[k]) ? choosers : values).push_back(k);
    // Neighbours among the values: siblings tend to be left out together.
    std::vector<std::vector<size_t>> out;
    for (size_t i = 0; i < values.size(); i += size)
        out.emplace_back(values.begin() + i, values.begin() + std::min(i + size, values.size()));
    size_t n = (choosers.size() + size - 1) / size;
    for (size_t g = 0; g < n; g++) {
        out.emplace_back();
        for (size_t i = g; i < choosers.size(); i += n)
            out.back().push_back(choosers[i]);
    }
    return out;
}

reach_table discover(std::vector<std::string> &faults)
{
    reach_table t;
    std::string error;
    t.keys = all_keys(error);
    if (t.keys.empty()) {
        faults.push_back(error);
        return t;
    }
    t.reach.resize(t.keys.size());
    runner r = office_runner();
    std::set<std::string> reached;  // paths that reach a file in an earlier base

    for (size_t b = 0; b <= variants.size(); b++) {
        std::vector<key> keys;
        std::vector<size_t> index;
        for (size_t k = 0; k < t.keys.size(); k++)
            if (t.keys[k].base == b && !reached.count(t.keys[k].path)) {
                keys.push_back(t.keys[k]);
                index.push_back(k);
            }
        std::vector<std::vector<size_t>> pending = first_groups(keys);
        for (auto &group : pending)
            for (auto &k : group)
                k = index[k];
        std::vector<run_input> inputs = {{base_json(b), all_generators}};
        auto outs = r.run(inputs, error);
        if (outs.empty()) {
            faults.push_back(error);
            return t;
        }
        const run_output baseline = outs[0];
        const std::string what = b == 0 ? "example" : "variant " + std::to_string(b);
        for (const auto &g : all_generators)
            for (const auto &f : basic_faults(baseline, g))
                faults.push_back(what + ": " + f);

        while (!pending.empty()) {
            inputs.clear();
            for (const auto &group : pending)
                inputs.push_back(
                    {with_values(base_json(b), marker_values(t, group)), all_generators});
            outs = r.run(inputs, error);
            if (outs.empty()) {
                faults.push_back(error);
                return t;
            }
            std::vector<std::vector<size_t>> next;
            for (size_t i = 0; i < pending.size(); i++) {
                const auto &group = pending[i];
                const run_output &o = outs[i];
                bool clean = clean_run(baseline, o);
                if (!clean && group.size() > 1) {
                    size_t half = group.size() / 2;
                    next.emplace_back(group.begin(), group.begin() + half);
                    next.emplace_back(group.begin() + half, group.end());
                    continue;
                }
                for (const auto &g : all_generators)
                    for (const auto &f : basic_faults(o, g))
                        faults.push_back(t.keys[group[0]].path +
                                         (group.size() > 1 ? " ...: " : ": ") + f);
                t.groups.push_back(group);
                t.clean.push_back(clean);
                for (const auto &[path, contents] : o.files)
                    for (size_t k : group)
                        if (contents.find(t.keys[k].tag) != std::string::npos ||
                            contents.find(base64(t.keys[k].marker)) != std::string::npos)
                            t.reach[k].insert(path);
            }
            pending = std::move(next);
        }
        for (size_t k : index)
            if (!t.reach[k].empty())
                reached.insert(t.keys[k].path);
    }
    return t;
}

const char *reach_file = "payload_reach.txt";

// The table as a file: a header that names the keys, then one line a key.
std::string key_list_id(const std::vector<key> &keys)
{
    size_t h = 0;
    for (const auto &k : keys)
        h = h * 131 + std::hash<std::string>()(k.path + "=" + k.marker);
    return std::to_string(keys.size()) + " " + std::to_string(h);
}

void save(const reach_table &t)
{
    std::ofstream out(reach_file);
    out << "# keys " << key_list_id(t.keys) << "\n";
    for (size_t g = 0; g < t.groups.size(); g++)
        for (size_t k : t.groups[g]) {
            out << k << "\t" << g << "\t" << t.clean[g] << "\t" << t.keys[k].path << "\t";
            for (const auto &f : t.reach[k])
                out << f << " ";
            out << "\n";
        }
}

bool load(reach_table &t)
{
    std::string error;
    t.keys = all_keys(error);
    std::ifstream in(reach_file);
    std::string line;
    if (!std::getline(in, line) || line != "# keys " + key_list_id(t.keys))
        return false;
    t.reach.assign(t.keys.size(), {});
    while (std::getline(in, line)) {
        std::istringstream f(line);
        size_t k, g;
        bool clean;
        std::string path, files;
        f >> k >> g >> clean >> path;
        if (k >= t.keys.size())
            return false;
        while (f >> files)
            t.reach[k].insert(files);
        if (t.groups.size() <= g) {
            t.groups.resize(g + 1);
            t.clean.resize(g + 1);
        }
        t.groups[g].push_back(k);
        t.clean[g] = clean;
    }
    return true;
}

// The table of this build: from the file the PayloadKeys case left, or made
// afresh when it is missing or was made for other keys.
const reach_table &table()
{
    static reach_table t;
    static bool done = false;
    if (!done) {
        done = true;
        if (!load(t)) {
            std::vector<std::string> faults;
            t = discover(faults);
        }
    }
    return t;
}

TEST(PayloadKeys, EveryKeyThatReachesAFileIsFound)
{
    std::vector<std::string> faults;
    reach_table t = discover(faults);
    // The markers are plain words: nothing may go wrong with them.
    EXPECT_EQ(faults, std::vector<std::string>{});
    ASSERT_FALSE(t.keys.empty());
    save(t);

    std::map<std::string, std::vector<std::string>> by_generator;
    size_t reaching = 0;
    for (size_t k = 0; k < t.keys.size(); k++) {
        if (t.reach[k].empty())
            continue;
        reaching++;
        std::string files;
        for (const auto &f : t.reach[k])
            files += " " + f;
        std::set<std::string> gens;
        for (const auto &f : t.reach[k])
            gens.insert(writer_of(f));
        for (const auto &g : gens)
            by_generator[g].push_back(t.keys[k].path + ":" + files);
    }
    std::cout << t.keys.size() << " keys, " << reaching << " reach a file, " << t.groups.size()
              << " runs\n";
    for (const auto &[g, list] : by_generator) {
        std::cout << g << ":\n";
        for (const auto &line : list)
            std::cout << "  " << line << "\n";
    }
    // The example reaches a file of every generator.
    for (const auto &g : all_generators)
        EXPECT_FALSE(by_generator[g].empty()) << g;
}

// ---- the payloads --------------------------------------------------------

// Keys that reach a file of the generator, in the groups they are driven
// in: the values of clean groups together, the enumerations and references
// of clean groups together, and every key that leaves something out with
// its marker on its own.
std::vector<std::vector<size_t>> payload_groups(const reach_table &t, const std::string &generator)
{
    auto reaches = [&](size_t k) {
        for (const auto &f : t.reach[k])
            if (writer_of(f) == generator)
                return true;
        return false;
    };
    std::vector<std::vector<size_t>> out;
    for (size_t b = 0; b <= variants.size(); b++) {
        std::vector<size_t> values, choosers;
        std::vector<std::vector<size_t>> alone;
        for (size_t g = 0; g < t.groups.size(); g++)
            for (size_t k : t.groups[g]) {
                if (t.keys[k].base != b || !reaches(k))
                    continue;
                if (!t.clean[g])
                    alone.push_back({k});
                else
                    (chooses(t.keys[k]) ? choosers : values).push_back(k);
            }
        for (auto *list : {&values, &choosers})
            if (!list->empty())
                out.push_back(*list);
        out.insert(out.end(), alone.begin(), alone.end());
    }
    return out;
}

// The configuration a group of keys is driven in.
const std::string &base_of(const reach_table &t, const std::vector<size_t> &group)
{
    return base_json(t.keys[group.at(0)].base);
}

struct job {
    size_t group;
    std::vector<size_t> subset;  // the keys of the group that hold the payload
};

// What the daemons said of a run's files: each complaint once, with every
// value of the run replaced by "<value>", so that the complaints about a
// run with payloads can be held against those about the same keys with
// their plain markers (a marker in an enumeration is no cipher the IKE
// daemon knows, whatever it holds).
using verdict = std::multiset<std::string>;

// The values of a run, longest first, as they are put in place of.
using run_values = std::vector<std::string>;

std::string neutral(std::string text, const run_values &values)
{
    for (const auto &v : values)
        for (size_t at; !v.empty() && (at = text.find(v)) != std::string::npos;)
            text.replace(at, v.size(), "<value>");
    return text;
}

// Lines of a file of the tree and of the files it includes, that start
// with prefix ("conn ") or, with prefix empty, that are entries.
size_t count_included(const run_output &o, const std::string &top, const std::string &prefix)
{
    size_t n = 0;
    auto count = [&](const std::string &text, bool follow, auto &self) -> void {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.compare(0, 8, "include ") == 0) {
                auto it = o.files.find(line.substr(8));
                if (follow && it != o.files.end())
                    self(it->second, false, self);
            } else if (prefix.empty() ? !line.empty()
                                      : line.compare(0, prefix.size(), prefix) == 0) {
                n++;
            }
        }
    };
    auto it = o.files.find(top);
    if (it != o.files.end())
        count(it->second, true, count);
    return n;
}

struct daemon_checks {
    std::map<std::string, verdict> seen;
    std::mutex lock;  // of seen: prefetch() checks two runs at a time

    verdict once(const std::string &what, const std::function<verdict()> &check)
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            auto it = seen.find(what);
            if (it != seen.end())
                return it->second;
        }
        verdict v = check();
        std::lock_guard<std::mutex> hold(lock);
        return seen.emplace(what, std::move(v)).first->second;
    }

    size_t checked()
    {
        std::lock_guard<std::mutex> hold(lock);
        return seen.size();
    }

    // Checks the runs ahead of their use, two at a time: each check starts a
    // daemon or a namespace and mostly waits for it.
    void prefetch(const std::vector<std::pair<const run_output *, run_values>> &runs,
                  const std::string &generator)
    {
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t i; (i = next++) < runs.size();)
                run(*runs[i].first, generator, runs[i].second);
        };
        std::thread other(work);
        work();
        other.join();
    }

    verdict run(const run_output &o, const std::string &generator, const run_values &values)
    {
        auto file = [&o](const std::string &path) {
            auto it = o.files.find(path);
            return it == o.files.end() ? std::string() : it->second;
        };
        auto one = [&values](const std::string &what, const std::string &said) {
            verdict v;
            if (!said.empty())
                v.insert(what + ": " + neutral(said, values));
            return v;
        };
        if (generator == "dnsmasq") {
            std::string conf = file("/var/run/dnsmasq.conf");
            return once("dnsmasq " + conf, [&] {
                std::string said = dnsmasq_test::daemon_check(conf);
                // "... at line 12 of /tmp/dnsmasq-test-XXXXXX"
                size_t at = said.find(" at line ");
                return one("dnsmasq --test", at == std::string::npos ? said : said.substr(0, at));
            });
        }
        if (generator == "network") {
            verdict v;
            for (const auto &[path, said] : o.openvpn)
                if (said != "accepted")
                    v.insert("openvpn " + path + ": " + neutral(said, values));
            return v;
        }
        if (generator == "pam") {
            std::string conf = file("/var/run/pam.conf");
            return once("pam " + conf, [&] {
                std::string error;
                auto calls = pam_check::every_rule(conf, error);
                return one("Linux-PAM", error.empty() ? pam_check::same_rules(conf, calls) : error);
            });
        }
        // The IKE daemon reads what ipsec.conf and ipsec.secrets include,
        // and the key and certificate files.
        ike_check::Files f;
        f.conf = file("/var/run/ipsec.conf");
        f.secrets = file("/var/run/ipsec.secrets");
        std::string id = f.conf + "\n" + f.secrets;
        for (const auto &[path, contents] : o.files)
            if (path.compare(0, 17, "/var/run/ipsec.d/") == 0) {
                f.tree[path] = contents;
                bool included = f.conf.find("include " + path + "\n") != std::string::npos ||
                                f.secrets.find("include " + path + "\n") != std::string::npos;
                if (included || (path.compare(0, 22, "/var/run/ipsec.d/conf/") != 0 &&
                                 path.compare(0, 25, "/var/run/ipsec.d/secrets/") != 0))
                    id += "\n" + path + "\n" + contents;
            }
        return once("ipsec " + id, [&] {
            verdict v;
            auto d = ike_check::load(f);
            if (!d.started)
                return one("IKE daemon did not start", d.error + d.log);
            for (const auto &p : d.starter_problems)
                v.insert("starter: " + neutral(p, values));
            for (const auto &p : d.problems)
                v.insert("IKE daemon: " + neutral(p, values));
            size_t conns = count_included(o, "/var/run/ipsec.conf", "conn ");
            size_t secrets = count_included(o, "/var/run/ipsec.secrets", "");
            for (size_t i = d.connections.size(); i < conns; i++)
                v.insert("a connection of the files not loaded");
            for (size_t i = d.secrets.size(); i < secrets; i++)
                v.insert("a secret of the files not loaded");
            return v;
        });
    }
};

// Whether a generator may exit as it did: as with the markers, or for the
// IPsec generator 1 when every tunnel was left out (it has nothing to
// start).
bool status_ok(const std::string &generator, const run_output &ref, const run_output &got)
{
    int want = ref.generators.at(generator).status, status = got.generators.at(generator).status;
    if (status == want)
        return true;
    if (generator != "ipsec" || status != 1)
        return false;
    for (const auto &[path, contents] : got.files)
        if (path.compare(0, 22, "/var/run/ipsec.d/conf/") == 0)
            return false;
    return true;
}

struct payload_result {
    size_t runs = 0, written = 0, left_out = 0;
    std::vector<std::string> failures;
    std::vector<std::string> outcomes;  // per key, for PAYLOAD_VERBOSE
};

// How the messages name what was left out: the key, the object or list it
// belongs to, or (for a value used in another node's section) another
// configuration path.  Empty when no message names a path.
std::string naming(const std::string &messages, const std::string &path)
{
    if (messages.find(path) != std::string::npos ||
        messages.find(without_indexes(path)) != std::string::npos)
        return "named";
    for (size_t dot = path.rfind('.'); dot != std::string::npos && dot > 0;
         dot = path.rfind('.', dot - 1)) {
        std::string up = path.substr(0, dot);
        if (std::count(up.begin(), up.end(), '.') < 2)
            break;
        if (messages.find(up + ":") != std::string::npos ||
            messages.find(up + " ") != std::string::npos)
            return "names " + up;
    }
    // Any path below a top-level key of the schema.
    const schema_node *root = quill::builtin_schema();
    for (uint32_t i = 0; i < root->nchildren; i++) {
        std::string top = std::string(root->children[i].key) + ".";
        for (size_t at = messages.find(top); at != std::string::npos;
             at = messages.find(top, at + 1)) {
            if (at > 0 && messages[at - 1] != ' ' && messages[at - 1] != '\'')
                continue;
            size_t end = messages.find_first_of(" :;,'()", at);
            return "names " + messages.substr(at, end == std::string::npos ? end : end - at);
        }
    }
    return "";
}

// How often a key's value shows in the generator's files: its tag, or the
// whole value in Base64 (pre-shared keys).
size_t places(const key &k, const std::string &value, const run_output &o,
              const std::string &generator)
{
    size_t n = 0;
    std::string coded = base64(value);
    for (const auto &[path, contents] : o.files) {
        if (writer_of(path) != generator)
            continue;
        for (const std::string *what : {&k.tag, static_cast<const std::string *>(&coded)})
            for (size_t at = contents.find(*what); at != std::string::npos;
                 at = contents.find(*what, at + 1))
                n++;
    }
    return n;
}

// The values a job puts in, longest first.
run_values values_of(const reach_table &t, const std::vector<size_t> &group, size_t p)
{
    run_values v;
    for (size_t k : group) {
        v.push_back(t.keys[k].marker);
        if (p < payloads.size())
            v.push_back(t.keys[k].with(payloads[p].text));
    }
    std::sort(v.begin(), v.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    return v;
}

payload_result drive(const reach_table &t, const std::string &generator, size_t p,
                     const std::vector<std::vector<size_t>> &groups,
                     const std::vector<run_output> &refs, const std::vector<verdict> &ref_verdicts,
                     const runner &r, const std::vector<std::string> &gens, daemon_checks &daemons)
{
    payload_result res;
    std::vector<job> pending;
    for (size_t g = 0; g < groups.size(); g++)
        pending.push_back({g, groups[g]});
    while (!pending.empty()) {
        std::vector<run_input> inputs;
        for (const auto &j : pending) {
            std::vector<std::pair<std::string, std::string>> values;
            for (size_t k : groups[j.group]) {
                bool on = std::find(j.subset.begin(), j.subset.end(), k) != j.subset.end();
                values.push_back(
                    {t.keys[k].path, on ? t.keys[k].with(payloads[p].text) : t.keys[k].marker});
            }
            inputs.push_back(
                {with_values(base_of(t, groups[j.group]), values), gens, generator == "network"});
        }
        std::string error;
        auto outs = r.run(inputs, error);
        if (outs.empty()) {
            res.failures.push_back(error);
            return res;
        }
        res.runs += outs.size();
        struct assessed {
            std::vector<std::string> faults;
            std::multiset<std::string> dropped;
        };
        std::vector<assessed> found(pending.size());
        std::vector<std::pair<const run_output *, run_values>> to_check;
        for (size_t i = 0; i < pending.size(); i++) {
            const job &j = pending[i];
            const run_output &ref = refs[j.group], &o = outs[i];
            std::vector<std::string> &faults = found[i].faults;
            faults = basic_faults(o, generator);
            if (!status_ok(generator, ref, o))
                faults.push_back("exit status " +
                                 std::to_string(o.generators.at(generator).status));
            std::multiset<std::string> added;
            compare(ref, o, generator, found[i].dropped, added);
            if (!added.empty())
                faults.push_back("more than with plain values: " + join(added));
            // The runs below that are put to the daemon: the whole ones, and
            // every single key.
            if (j.subset.size() == 1 || (faults.empty() && found[i].dropped.empty()))
                to_check.push_back({&o, values_of(t, groups[j.group], p)});
        }
        daemons.prefetch(to_check, generator);
        std::vector<job> next;
        for (size_t i = 0; i < pending.size(); i++) {
            const job &j = pending[i];
            const run_output &ref = refs[j.group], &o = outs[i];
            std::vector<std::string> faults = std::move(found[i].faults);
            const std::multiset<std::string> &dropped = found[i].dropped;
            if (j.subset.size() > 1 && faults.empty() && !dropped.empty()) {
                // The keys that lost a place where their value stood left
                // something out; the others were written whole.
                std::vector<size_t> suspects;
                for (size_t k : j.subset)
                    if (places(t.keys[k], t.keys[k].with(payloads[p].text), o, generator) <
                        places(t.keys[k], t.keys[k].marker, ref, generator))
                        suspects.push_back(k);
                if (!suspects.empty() && suspects.size() < j.subset.size()) {
                    // The others go on together: their file still has to
                    // pass its daemon.
                    std::vector<size_t> whole;
                    for (size_t k : j.subset)
                        if (std::find(suspects.begin(), suspects.end(), k) == suspects.end())
                            whole.push_back(k);
                    next.push_back({j.group, whole});
                    for (size_t k : suspects)
                        next.push_back({j.group, {k}});
                    continue;
                }
            }
            if (j.subset.size() > 1 && (!faults.empty() || !dropped.empty())) {
                // Which key did it, and what does each do on its own?
                size_t half = j.subset.size() / 2;
                next.push_back({j.group, {j.subset.begin(), j.subset.begin() + half}});
                next.push_back({j.group, {j.subset.begin() + half, j.subset.end()}});
                continue;
            }
            verdict said = missing(daemons.run(o, generator, values_of(t, groups[j.group], p)),
                                   ref_verdicts[j.group]);
            if (j.subset.size() > 1 && !said.empty()) {
                size_t half = j.subset.size() / 2;
                next.push_back({j.group, {j.subset.begin(), j.subset.begin() + half}});
                next.push_back({j.group, {j.subset.begin() + half, j.subset.end()}});
                continue;
            }
            const std::string what = j.subset.size() == 1
                                         ? t.keys[j.subset[0]].path
                                         : std::to_string(j.subset.size()) + " keys";
            if (dropped.empty()) {
                res.written += j.subset.size();
                res.outcomes.push_back("written: " + what);
                faults.insert(faults.end(), said.begin(), said.end());
            } else {
                // Left out: only with a message that names where.  A daemon
                // may then refuse what lacks the unit (a client without its
                // key), but it reads what is there: the shapes say so.
                std::string named =
                    naming(o.generators.at(generator).messages, t.keys[j.subset[0]].path);
                if (named.empty()) {
                    faults.push_back("left out " + join(dropped) + " without a message naming it");
                } else {
                    res.left_out++;
                    std::string note = "left out: " + what + " (" + named + ")";
                    for (const auto &v : said)
                        note += "; then " + v;
                    res.outcomes.push_back(note);
                }
            }
            for (const auto &f : faults)
                res.failures.push_back(what + " with a " + payloads[p].name + ": " + f);
        }
        pending = std::move(next);
    }
    return res;
}

void drive_generator(const std::string &generator)
{
    const reach_table &t = table();
    ASSERT_FALSE(t.keys.empty());
    auto groups = payload_groups(t, generator);
    ASSERT_FALSE(groups.empty()) << "no key reaches a file of " << generator;
    std::vector<std::string> gens = {generator};
    if (generator == "network")
        gens = {"ipsec", "network"};  // the network file reads the IPsec tree

    // The example as it is, and each group with its markers: what the
    // payload runs are held against.
    runner r = office_runner();
    std::string error;
    std::vector<run_input> bases;
    for (size_t b = 0; b <= variants.size(); b++)
        bases.push_back({base_json(b), gens});
    auto base = r.run(bases, error);
    ASSERT_EQ(base.size(), bases.size()) << error;
    std::set<std::string> openvpn_files;
    for (const auto &o : base)
        for (const auto &[path, contents] : o.files)
            if (path.compare(0, 21, "/var/run/config_file_") == 0)
                openvpn_files.insert(path);
    r.openvpn_files.assign(openvpn_files.begin(), openvpn_files.end());
    bool openvpn = generator == "network";
    if (openvpn) {
        EXPECT_FALSE(r.openvpn_files.empty());
    }
    std::vector<run_input> inputs = {{base_json(0), gens, openvpn}};
    for (const auto &g : groups)
        inputs.push_back({with_values(base_of(t, g), marker_values(t, g)), gens, openvpn});
    auto outs = r.run(inputs, error);
    ASSERT_EQ(outs.size(), inputs.size()) << error;
    std::vector<run_output> refs(outs.begin() + 1, outs.end());

    daemon_checks daemons;
    std::vector<std::string> faults = basic_faults(outs[0], generator);
    for (const auto &f : daemons.run(outs[0], generator, {}))
        faults.push_back(f);
    EXPECT_EQ(faults, std::vector<std::string>{}) << "the example itself";
    std::vector<verdict> ref_verdicts;
    for (size_t g = 0; g < groups.size(); g++)
        ref_verdicts.push_back(
            daemons.run(refs[g], generator, values_of(t, groups[g], payloads.size())));
    for (size_t g = 0; g < groups.size(); g++) {
        // Every key of the group reaches the file with its marker beside
        // the others: none hides another.
        for (size_t k : groups[g]) {
            bool found = false;
            for (const auto &[path, contents] : refs[g].files)
                found = found || (writer_of(path) == generator &&
                                  (contents.find(t.keys[k].tag) != std::string::npos ||
                                   contents.find(base64(t.keys[k].marker)) != std::string::npos));
            EXPECT_TRUE(found) << t.keys[k].path << " hidden by the keys beside it";
        }
        EXPECT_EQ(basic_faults(refs[g], generator), std::vector<std::string>{});
    }
    size_t keys = 0;
    for (const auto &g : groups)
        keys += g.size();
    std::cout << generator << ": " << keys << " keys in " << groups.size() << " groups\n";
    size_t checks = daemons.checked();
    for (size_t p = 0; p < payloads.size(); p++) {
        payload_result res = drive(t, generator, p, groups, refs, ref_verdicts, r, gens, daemons);
        std::cout << "  " << payloads[p].name << ": " << res.runs << " runs, " << res.written
                  << " keys written, " << res.left_out << " left out with a message, "
                  << res.failures.size() << " failures\n";
        if (getenv("PAYLOAD_VERBOSE"))
            for (const auto &line : res.outcomes)
                std::cout << "    " << line << "\n";
        for (const auto &f : res.failures)
            ADD_FAILURE() << f;
    }
    std::cout << "  " << daemons.checked() - checks << " files put to their daemon\n";
}

TEST(Payloads, Dnsmasq) { drive_generator("dnsmasq"); }
TEST(Payloads, Ipsec) { drive_generator("ipsec"); }
TEST(Payloads, Network) { drive_generator("network"); }
TEST(Payloads, Pam) { drive_generator("pam"); }

}  // namespace
}  // namespace payload
