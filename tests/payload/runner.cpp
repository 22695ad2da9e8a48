#include "runner.h"

#include <cstdlib>
#include <thread>

#include "nsrun.h"
#include "openvpn_check.h"

namespace payload {

namespace {

const std::string dir = "/run/payload";
const std::string out_dir = dir + "/out";

// One line a run: generators, whether to check the OpenVPN files, and the
// configuration (JSON text holds no raw tab or line feed).
const char *script = R"sh(I=/run/payload
O=$I/out
cd /run
mkdir -p $O
n=0
while IFS='	' read -r gens check json; do
	for e in /run/* /run/.[!.]*; do
		case "$e" in /run/payload|/run/tallo) ;; *) rm -rf "$e" ;; esac
	done
	printf '%s\n' "$json" >/etc/config/config.json
	d=$O/$n
	mkdir -p $d/files
	for g in $(echo "$gens" | tr , ' '); do
		(umask 000; exec "$CONFIG" map "$g") </dev/null >/dev/null 2>$d/$g.err
		echo $? >$d/$g.status
	done
	if [ -e /run/payload-ran ]; then : >$d/shell-ran; rm -f /run/payload-ran; fi
	(cd /run && tar -cf - --exclude=./payload --exclude=./tallo .) | tar -C $d/files -xpf -
	if [ "$check" = 1 ]; then sh $I/openvpn.sh >$d/openvpn 2>/dev/null; fi
	n=$((n + 1))
done <$I/inputs
)sh";

// The runs of one namespace.
std::vector<run_output> run_part(const runner &self, const std::vector<run_input> &inputs,
                                 std::string &error)
{
    std::string lines;
    for (const auto &in : inputs) {
        if (in.config.find_first_of("\t\n") != std::string::npos) {
            error = "a configuration must be one line of JSON";
            return {};
        }
        std::string gens;
        for (const auto &g : in.generators)
            gens += (gens.empty() ? "" : ",") + g;
        lines += gens + "\t" + (in.check_openvpn ? "1" : "0") + "\t" + in.config + "\n";
    }
    nsrun::Spec spec;
    spec.has_config = false;
    spec.runtime = self.runtime;
    spec.files = {{dir + "/inputs", lines},
                  {dir + "/run.sh", script},
                  {dir + "/openvpn.sh", ovpn_check::after_commands(self.openvpn_files)}};
    spec.env = {{"CONFIG", nsrun::config_binary()}};
    spec.program = "sh";
    spec.args = {dir + "/run.sh"};
    spec.collect = {out_dir};
    nsrun::Result r = nsrun::run(spec);
    if (r.status != 0) {
        error = "the runs could not be made: status " + std::to_string(r.status) + ": " + r.err;
        return {};
    }

    std::vector<run_output> out(inputs.size());
    for (const auto &[path, contents] : r.files) {
        if (path.compare(0, out_dir.size() + 1, out_dir + "/") != 0)
            continue;
        std::string rest = path.substr(out_dir.size() + 1);
        size_t slash = rest.find('/');
        if (slash == std::string::npos)
            continue;
        size_t n = std::strtoul(rest.substr(0, slash).c_str(), nullptr, 10);
        if (n >= out.size())
            continue;
        std::string name = rest.substr(slash + 1);
        run_output &o = out[n];
        if (name.compare(0, 6, "files/") == 0) {
            std::string generated = "/var/run/" + name.substr(6);
            o.files[generated] = contents;
            o.modes[generated] = r.modes.at(path);
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".err") == 0) {
            o.generators[name.substr(0, name.size() - 4)].messages = contents;
        } else if (name.size() > 7 && name.compare(name.size() - 7, 7, ".status") == 0) {
            o.generators[name.substr(0, name.size() - 7)].status = std::atoi(contents.c_str());
        } else if (name == "shell-ran") {
            o.shell_ran = true;
        } else if (name == "openvpn") {
            o.openvpn = ovpn_check::verdicts(contents);
        }
    }
    return out;
}

}  // namespace

// Many runs go to two namespaces side by side: the machine has two cores,
// and one run mostly waits for the programs it starts.
std::vector<run_output> runner::run(const std::vector<run_input> &inputs, std::string &error) const
{
    if (inputs.size() < 8)
        return run_part(*this, inputs, error);
    size_t half = inputs.size() / 2;
    std::vector<run_input> first(inputs.begin(), inputs.begin() + half);
    std::vector<run_input> second(inputs.begin() + half, inputs.end());
    std::vector<run_output> a, b;
    std::string error_a, error_b;
    std::thread other([&] { b = run_part(*this, second, error_b); });
    a = run_part(*this, first, error_a);
    other.join();
    if (a.empty() || b.empty()) {
        error = error_a.empty() ? error_b : error_a;
        return {};
    }
    a.insert(a.end(), std::make_move_iterator(b.begin()), std::make_move_iterator(b.end()));
    return a;
}

}  // namespace payload
