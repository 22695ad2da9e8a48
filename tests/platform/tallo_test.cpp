#include "natural.h"
#include "tallo.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string str(const unique_text &t) { return t ? t.get() : "<null>"; }

std::vector<std::string> names(const unique_sl &l)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < sl_len(l.get()); ++i)
        out.push_back(sl_get(l.get(), i));
    return out;
}

std::string run(const std::string &cmd, int *status = nullptr)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int st = pclose(p);
    if (status)
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

class Tallo : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/tallo_test.XXXXXX";
        dir = mkdtemp(tmpl);
        // A directory that does not exist yet: the store creates it.
        setenv("TALLO_DB", (dir + "/sub/tallo.db").c_str(), 1);
        ASSERT_EQ(tallo_init(), 0);
    }
    void TearDown() override
    {
        tallo_deinit();
        unsetenv("TALLO_DB");
        std::string cmd = "rm -rf " + dir;
        (void)!system(cmd.c_str());
    }
};

TEST(NaturalOrder, NumbersCompareAsNumbers)
{
    using tallo::natural_compare;
    EXPECT_LT(natural_compare("5", "10"), 0);
    EXPECT_LT(natural_compare("eth2", "eth10"), 0);
    EXPECT_LT(natural_compare("a", "b"), 0);
    EXPECT_LT(natural_compare("a", "a1"), 0);
    EXPECT_NE(natural_compare("01", "1"), 0);
    EXPECT_EQ(natural_compare("x7y", "x7y"), 0);
    EXPECT_TRUE(tallo::key_less("a.b", "a.b.c"));
    EXPECT_TRUE(tallo::key_less("m.5.z", "m.10.a"));
    EXPECT_TRUE(tallo::key_less("a.z", "a-b"));
}

TEST_F(Tallo, SetGetTyped)
{
    EXPECT_EQ(tallo_get_string("a.b"), nullptr);
    ASSERT_EQ(tallo_set_string("a.b", "hello"), 0);
    EXPECT_EQ(str(unique_text(tallo_get_string("a.b"))), "hello");
    ASSERT_EQ(tallo_set_string_pathf("-42", "net.%s.%d", "wan", 3), 0);
    EXPECT_EQ(tallo_get_int_pathf(9, "net.%s.%d", "wan", 3), -42);
    EXPECT_EQ(tallo_get_int32("net.wan.3", 9), -42);
    EXPECT_EQ(str(unique_text(tallo_get_string_pathf("net.wan.%d", 3))), "-42");
    // Absent, empty, not a number and out of range all give the default.
    EXPECT_EQ(tallo_get_int32("net.wan.4", 9), 9);
    tallo_set_string("n.empty", "");
    tallo_set_string("n.text", "12abc");
    tallo_set_string("n.big", "4294967296");
    tallo_set_string("n.zero", "010");
    tallo_set_string("n.hex", "0x10");
    EXPECT_EQ(str(unique_text(tallo_get_string("n.empty"))), "");
    EXPECT_EQ(tallo_get_int32("n.empty", 9), 9);
    EXPECT_EQ(tallo_get_int32("n.text", 9), 9);
    EXPECT_EQ(tallo_get_int32("n.big", 9), 9);
    EXPECT_EQ(tallo_get_int32("n.zero", 9), 10);
    EXPECT_EQ(tallo_get_int32("n.hex", 9), 9);
    // Keys with empty parts cannot be listed and are refused.
    EXPECT_NE(tallo_set_string("a..b", "x"), 0);
    EXPECT_NE(tallo_set_string("", "x"), 0);
    EXPECT_NE(tallo_set_string("a.", "x"), 0);
}

TEST_F(Tallo, KeysAndEntriesInNaturalOrder)
{
    for (const char *k :
         {"m.ipv4.10", "m.ipv4.5", "m.ipv4.1", "m.ipv4.5.sub", "m.ipv4x", "m.other"})
        ASSERT_EQ(tallo_set_string(k, k), 0);
    tallo_set_string("m/ipv4", "not a child");
    unique_sl keys(tallo_keys("m.ipv4"));
    EXPECT_EQ(names(keys), (std::vector<std::string>{"1", "5", "10"}));
    unique_sl top(tallo_keys_pathf("%s", "m"));
    EXPECT_EQ(names(top), (std::vector<std::string>{"ipv4", "ipv4x", "other"}));
    EXPECT_EQ(tallo_keys("m.none"), nullptr);

    tallo_entry **e = tallo_get_entries("m.ipv4", 0, 0, 0);
    ASSERT_NE(e, nullptr);
    std::vector<std::string> vals;
    for (tallo_entry **p = e; *p; ++p)
        vals.push_back(std::string((*p)->name) + "=" + (*p)->value);
    tallo_entries_free(e);
    EXPECT_EQ(vals, (std::vector<std::string>{"1=m.ipv4.1", "5=m.ipv4.5", "10=m.ipv4.10"}));

    // A key whose children hold no value of their own has no entries.
    tallo_set_string("deep.a.b", "1");
    EXPECT_EQ(tallo_get_entries("deep", 0, 0, 0), nullptr);
    tallo_entries_free(nullptr);
}

TEST_F(Tallo, DeleteRemovesSubtreeOnly)
{
    for (const char *k : {"x", "x.a", "x.a.b", "x.b", "xy", "x-z"})
        tallo_set_string(k, "v");
    ASSERT_EQ(tallo_delete("x.a"), 0);
    EXPECT_EQ(tallo_get_string("x.a"), nullptr);
    EXPECT_EQ(tallo_get_string("x.a.b"), nullptr);
    EXPECT_EQ(str(unique_text(tallo_get_string("x.b"))), "v");
    ASSERT_EQ(tallo_delete("x"), 0);
    EXPECT_EQ(tallo_get_string("x.b"), nullptr);
    EXPECT_EQ(str(unique_text(tallo_get_string("xy"))), "v");
    EXPECT_EQ(str(unique_text(tallo_get_string("x-z"))), "v");
    EXPECT_EQ(tallo_delete("never.set"), 0);
}

TEST_F(Tallo, EditGroupIsSeenWholeByOthers)
{
    ASSERT_EQ(tallo_edit_start(), 0);
    tallo_set_string("g.a", "1");
    tallo_set_string("g.b", "2");
    // Another process sees nothing of the group before the commit.
    const std::string tool = TALLO_TOOL;
    EXPECT_EQ(run(tool + " dump g"), "");
    ASSERT_EQ(tallo_edit_commit(), 0);
    EXPECT_EQ(run(tool + " dump g"), "g.a=1\ng.b=2\n");

    // An edit group that is never committed is lost as a whole.
    ASSERT_EQ(tallo_edit_start(), 0);
    tallo_set_string("g.c", "3");
    tallo_deinit();
    ASSERT_EQ(tallo_init(), 0);
    EXPECT_EQ(tallo_get_string("g.c"), nullptr);
    EXPECT_NE(tallo_edit_commit(), 0);
}

TEST_F(Tallo, ConcurrentWritersLoseNothing)
{
    tallo_deinit();  // children must not share the parent's connection
    // A store nobody has opened yet: the writers also race to create it.
    setenv("TALLO_DB", (dir + "/fresh/tallo.db").c_str(), 1);
    const int procs = 6, per = 150;
    std::vector<pid_t> pids;
    for (int p = 0; p < procs; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int bad = tallo_init();
            for (int i = 0; i < per && !bad; ++i) {
                // Half the writes go in edit groups, half one by one.
                bool group = i % 2 == 0;
                if (group)
                    bad |= tallo_edit_start();
                bad |= tallo_set_string_pathf("v", "c.%d.%d", p, i);
                bad |= tallo_set_string_pathf("v", "c.%d.%d.twin", p, i);
                if (group)
                    bad |= tallo_edit_commit();
            }
            tallo_deinit();
            _exit(bad ? 1 : 0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int st;
        ASSERT_EQ(waitpid(pid, &st, 0), pid);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    }
    ASSERT_EQ(tallo_init(), 0);
    unique_sl ps(tallo_keys("c"));
    ASSERT_EQ(sl_len(ps.get()), static_cast<size_t>(procs));
    for (int p = 0; p < procs; ++p) {
        unique_sl ks(tallo_keys_pathf("c.%d", p));
        EXPECT_EQ(sl_len(ks.get()), static_cast<size_t>(per)) << p;
        EXPECT_STREQ(sl_get(ks.get(), 9), "9");
        EXPECT_STREQ(sl_get(ks.get(), 10), "10");
    }
}

TEST_F(Tallo, ToolCommandsAndStatuses)
{
    const std::string tool = TALLO_TOOL;
    int st;
    run(tool + " set s.2 'two words'", &st);
    EXPECT_EQ(st, 0);
    run(tool + " set s.10 ten", &st);
    run(tool + " set s.2.x deep", &st);
    EXPECT_EQ(run(tool + " get s.2", &st), "two words\n");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(run(tool + " get s.3 2>&1", &st), "tallo: s.3: not found\n");
    EXPECT_EQ(st, 1);
    EXPECT_EQ(run(tool + " keys s"), "2\n10\n");
    EXPECT_EQ(run(tool + " dump"), "s.2=two words\ns.2.x=deep\ns.10=ten\n");
    EXPECT_EQ(run(tool + " dump s.2"), "s.2=two words\ns.2.x=deep\n");
    run(tool + " delete s.2", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(run(tool + " dump"), "s.10=ten\n");
    run(tool + " set 'bad..key' v 2>/dev/null", &st);
    EXPECT_EQ(st, 1);
    for (const char *bad : {"", "get", "get a b", "set a", "frob x"}) {
        run(tool + " " + bad + " 2>/dev/null", &st);
        EXPECT_EQ(st, 2) << bad;
    }
    // load: KEY VALUE lines, comments skipped, all or nothing.
    run("printf '# c\\n\\nl.a  one two\\nl.b\\n' | " + tool + " load", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(run(tool + " dump l"), "l.a=one two\nl.b=\n");
    run("printf 'l.c 1\\nbad..k 2\\n' | " + tool + " load 2>/dev/null", &st);
    EXPECT_EQ(st, 1);
    EXPECT_EQ(run(tool + " dump l"), "l.a=one two\nl.b=\n");
}

}  // namespace
