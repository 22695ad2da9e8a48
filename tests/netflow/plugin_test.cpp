// Loads the NETFLOW plug-in the way the iptables tools do (through
// libxtables, from the directory named by XTABLES_LIBDIR) and checks what
// the tools get from it: the registered record, the texts its callbacks
// write, and the shape of the shared object itself.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <getopt.h>
#include <unistd.h>
#include <xtables.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const plugin_dir = NETFLOW_PLUGIN_DIR;
const char *const plugin_path = NETFLOW_PLUGIN_PATH;

// GNU spelling: the member's type carries noreturn, which [[noreturn]] does
// not give the function's type under every compiler.
__attribute__((noreturn, format(printf, 2, 3))) void exit_error(enum xtables_exittype,
                                                                const char *msg, ...)
{
    va_list ap;
    va_start(ap, msg);
    vfprintf(stderr, msg, ap);
    va_end(ap);
    std::abort();
}

// Revisions are normally checked against the running kernel; the test must
// not depend on (or poke at) the host's netfilter modules.
int any_revision(const char *, uint8_t, int) { return 1; }

struct option no_opts[] = {{nullptr, 0, nullptr, 0}};

struct xtables_globals test_globals = {
    0, "netflow-test", "0", no_opts, nullptr, exit_error, any_revision,
};

void init_xtables(uint8_t family)
{
    ASSERT_EQ(setenv("XTABLES_LIBDIR", plugin_dir, 1), 0);
    ASSERT_EQ(xtables_init_all(&test_globals, family), 0);
}

// Runs fn with standard output sent to a temporary file and returns what it
// wrote; the plug-in writes with stdio, so both sides are flushed.
std::string capture_stdout(const std::function<void()> &fn)
{
    std::unique_ptr<FILE, decltype(&fclose)> tmp(tmpfile(), fclose);
    if (!tmp)
        return "<tmpfile failed>";
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(fileno(tmp.get()), STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    rewind(tmp.get());
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, tmp.get())) > 0)
        out.append(buf, n);
    return out;
}

std::vector<std::string> command_lines(const std::string &cmd)
{
    std::vector<std::string> lines;
    std::unique_ptr<FILE, decltype(&pclose)> p(popen(cmd.c_str(), "r"), pclose);
    if (!p)
        return lines;
    char buf[512];
    while (fgets(buf, sizeof buf, p.get())) {
        std::string line(buf);
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class NetflowFamily : public ::testing::TestWithParam<uint8_t> {};

// Both tools must find the target: its family is left unspecified.
TEST_P(NetflowFamily, ToolsLoadTargetFromLibdir)
{
    init_xtables(GetParam());
    struct xtables_target *t = xtables_find_target("NETFLOW", XTF_TRY_LOAD);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->name, "NETFLOW");
    // Lookups are by exact name.
    EXPECT_EQ(xtables_find_target("netflow", XTF_DONT_LOAD), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Families, NetflowFamily,
                         ::testing::Values(uint8_t(NFPROTO_IPV4), uint8_t(NFPROTO_IPV6)),
                         [](const auto &info) {
                             return info.param == NFPROTO_IPV4 ? "IPv4" : "IPv6";
                         });

// The tools only dlopen() an extension; the target must be registered by
// the time that returns.
TEST(Netflow, RegistersWhenLoaded)
{
    init_xtables(NFPROTO_IPV4);
    // XTF_DONT_LOAD never opens an object itself, so finding the target
    // proves that opening it registered it.  (No lookup before the open:
    // libxtables remembers names it failed to find.)
    void *h = dlopen(plugin_path, RTLD_NOW);
    ASSERT_NE(h, nullptr) << dlerror();
    struct xtables_target *t = xtables_find_target("NETFLOW", XTF_DONT_LOAD);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(dlsym(h, "libxt_NETFLOW_init"), nullptr);
}

// Calling the exported entry again must not link the record into the
// target list a second time (it would point at itself and lookups would
// never end).
TEST(Netflow, RepeatedInitRegistersOnce)
{
    init_xtables(NFPROTO_IPV4);
    void *h = dlopen(plugin_path, RTLD_NOW);
    ASSERT_NE(h, nullptr) << dlerror();
    auto init = reinterpret_cast<void (*)()>(dlsym(h, "libxt_NETFLOW_init"));
    ASSERT_NE(init, nullptr);
    init();
    init();
    struct xtables_target *t = xtables_find_target("NETFLOW", XTF_DONT_LOAD);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t->next, t);
    init();
    EXPECT_EQ(xtables_find_target("NETFLOW", XTF_DONT_LOAD), t);
    EXPECT_NE(t->next, t);
    // A miss walks the whole list, which must end.
    EXPECT_EQ(xtables_find_target("NOSUCHTARGET", XTF_DONT_LOAD), nullptr);
}

// No target data travels in the rule and no options are offered; anything
// else would make the kernel reject the rule or the tools accept options
// that go nowhere.
TEST(Netflow, RecordCarriesNoDataOrOptions)
{
    init_xtables(NFPROTO_IPV4);
    struct xtables_target *t = xtables_find_target("NETFLOW", XTF_LOAD_MUST_SUCCEED);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->version, "libxtables.so.12");
    EXPECT_EQ(t->real_name, nullptr);
    EXPECT_EQ(t->revision, 0);
    EXPECT_EQ(t->ext_flags, 0);
    EXPECT_EQ(t->family, NFPROTO_UNSPEC);
    EXPECT_EQ(t->size, 0u);
    EXPECT_EQ(t->userspacesize, 0u);
    EXPECT_EQ(t->init, nullptr);
    EXPECT_EQ(t->alias, nullptr);
    EXPECT_EQ(t->x6_parse, nullptr);
    EXPECT_EQ(t->x6_fcheck, nullptr);
    EXPECT_EQ(t->x6_options, nullptr);
    EXPECT_EQ(t->xlate, nullptr);
    EXPECT_EQ(t->udata_size, 0u);
    ASSERT_NE(t->extra_opts, nullptr);
    EXPECT_EQ(t->extra_opts[0].name, nullptr);
    EXPECT_EQ(t->extra_opts[0].has_arg, 0);
    EXPECT_EQ(t->extra_opts[0].flag, nullptr);
    EXPECT_EQ(t->extra_opts[0].val, 0);
}

TEST(Netflow, CallbacksWriteFixedTexts)
{
    init_xtables(NFPROTO_IPV4);
    struct xtables_target *t = xtables_find_target("NETFLOW", XTF_LOAD_MUST_SUCCEED);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(t->help, nullptr);
    ASSERT_NE(t->print, nullptr);
    ASSERT_NE(t->save, nullptr);
    ASSERT_NE(t->parse, nullptr);
    ASSERT_NE(t->final_check, nullptr);

    EXPECT_EQ(capture_stdout([&] { t->help(); }), "NETFLOW target\n");
    // Listing shows the name where options would go, numeric or not.
    EXPECT_EQ(capture_stdout([&] { t->print(nullptr, nullptr, 0); }), "NETFLOW ");
    EXPECT_EQ(capture_stdout([&] { t->print(nullptr, nullptr, 1); }), "NETFLOW ");
    // A saved rule is the bare jump: no options after it.
    EXPECT_EQ(capture_stdout([&] { t->save(nullptr, nullptr); }), "");

    unsigned int flags = 0x5a;
    struct xt_entry_target *info = nullptr;
    char arg0[] = "iptables";
    char *argv[] = {arg0, nullptr};
    std::string out = capture_stdout([&] {
        EXPECT_EQ(t->parse('x', argv, 0, &flags, nullptr, &info), 1);
        t->final_check(flags);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(flags, 0x5au);
    EXPECT_EQ(info, nullptr);
}

// The tools load the object into processes that have no C++ runtime; it may
// need nothing but libxtables and libc.  A sanitizer build's object needs
// the sanitizers' runtimes too, which then supply its few libc calls.
TEST(NetflowObject, NeedsOnlyLibxtablesAndLibc)
{
    std::vector<std::string> needed;
    for (const auto &line : command_lines(std::string("readelf -d ") + plugin_path)) {
        auto open = line.find("Shared library: [");
        if (line.find("(NEEDED)") == std::string::npos || open == std::string::npos)
            continue;
        auto start = open + 17;
        std::string name = line.substr(start, line.find(']', start) - start);
        if (NETFLOW_SANITIZED &&
            (name.starts_with("libasan.so") || name.starts_with("libubsan.so")))
            continue;
        needed.push_back(name);
    }
    ASSERT_GE(needed.size(), 1u);
    EXPECT_EQ(needed[0], "libxtables.so.12");
    if (!NETFLOW_SANITIZED || needed.size() > 1) {
        ASSERT_EQ(needed.size(), 2u);
        EXPECT_EQ(needed[1].rfind("libc.so", 0), 0u) << needed[1];
    }
}

TEST(NetflowObject, ExportsOnlyInitEntry)
{
    std::vector<std::string> exported;
    for (const auto &line : command_lines(std::string("nm -D --defined-only ") + plugin_path)) {
        std::istringstream in(line);
        std::string addr, type, name;
        in >> addr >> type >> name;
        exported.push_back(type + " " + name);
    }
    ASSERT_EQ(exported.size(), 1u);
    EXPECT_EQ(exported[0], "T libxt_NETFLOW_init");
}

}  // namespace
