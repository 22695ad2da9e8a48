// Runs the real iptables tools against the built plug-in.  Each run goes
// through the namespace helper (fresh /run, so no lock or state file of the
// host is touched) and, where the tool talks to the kernel, inside its own
// network namespace.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "nsrun.h"

namespace {

const std::string xtables_libdir = std::string(NETFLOW_PLUGIN_DIR) + ":" + NETFLOW_SYSTEM_XTLIBDIR;

struct Tool {
    const char *label;
    const char *program;    // iptables / ip6tables
    const char *translate;  // iptables-translate / ip6tables-translate
};

const Tool tools[] = {
    {"IPv4", IPTABLES_PROGRAM, IPTABLES_TRANSLATE_PROGRAM},
    {"IPv6", IP6TABLES_PROGRAM, IP6TABLES_TRANSLATE_PROGRAM},
};

void PrintTo(const Tool &tool, std::ostream *os) { *os << tool.label; }

nsrun::Result run_in_netns(const std::string &program, std::vector<std::string> args)
{
    nsrun::Spec spec;
    spec.program = UNSHARE_PROGRAM;
    spec.args = {"--net", program};
    spec.args.insert(spec.args.end(), args.begin(), args.end());
    spec.env["XTABLES_LIBDIR"] = xtables_libdir;
    spec.has_config = false;
    return nsrun::run(spec);
}

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class NetflowTool : public ::testing::TestWithParam<Tool> {
protected:
    void SetUp() override
    {
#ifdef NETFLOW_FOREIGN_PLUGIN
        GTEST_SKIP() << "the plug-in is built for another machine: this machine's iptables "
                        "cannot load it (the in-process plug-in tests cover it)";
#endif
        if (!*GetParam().program || !*GetParam().translate || !*UNSHARE_PROGRAM)
            GTEST_SKIP() << "iptables tools not installed";
    }
};

// The tools end their help with that of the target named by -j.
TEST_P(NetflowTool, HelpEndsWithTargetHelp)
{
    nsrun::Result r = run_in_netns(GetParam().program, {"-j", "NETFLOW", "--help"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ends_with(r.out, "\nNETFLOW target\n")) << r.out;
    EXPECT_EQ(r.err.find("Couldn't load target"), std::string::npos) << r.err;
}

// A rule that jumps to the target parses, and the target takes no options.
TEST_P(NetflowTool, RuleAcceptedWithoutOptions)
{
    nsrun::Result ok = run_in_netns(GetParam().translate, {"-A", "FORWARD", "-j", "NETFLOW"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.err.find("Couldn't load target"), std::string::npos) << ok.err;
    // Without the plug-in the tool would take NETFLOW for a user chain.
    EXPECT_EQ(ok.out.find("jump NETFLOW"), std::string::npos) << ok.out;

    nsrun::Result bad = run_in_netns(GetParam().translate,
                                     {"-A", "FORWARD", "-j", "NETFLOW", "--active-timeout", "60"});
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("unknown option \"--active-timeout\""), std::string::npos) << bad.err;
}

INSTANTIATE_TEST_SUITE_P(Tools, NetflowTool, ::testing::ValuesIn(tools),
                         [](const auto &info) { return std::string(info.param.label); });

}  // namespace
