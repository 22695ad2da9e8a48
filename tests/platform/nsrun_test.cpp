#include "nsrun.h"

#include <gtest/gtest.h>

namespace {

TEST(Nsrun, FilesInFilesOutAndStatus)
{
    nsrun::Spec s;
    s.program = "sh";
    s.args = {"-c",
              "cat /etc/config/config.json; cat /var/run/in/a; echo err >&2;"
              "mkdir -p /run/out/sub; echo made >/run/out/sub/f; chmod 600 /run/out/sub/f;"
              "ln -s /x/y /run/out/link; ln -s /dev/zero /run/out/zero;"
              "mkfifo /run/out/fifo; cat; exit 3"};
    s.config_json = "{\"a\": 1}\n";
    s.files["/var/run/in/a"] = "in-a\n";
    s.stdin_data = "from stdin\n";
    s.collect = {"/run/out", "/etc/config/config.json", "/run/missing"};
    auto r = nsrun::run(s);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "{\"a\": 1}\nin-a\nfrom stdin\n");
    EXPECT_EQ(r.err, "err\n");
    EXPECT_EQ(r.files["/run/out"], "<dir>");
    EXPECT_EQ(r.files["/run/out/sub/f"], "made\n");
    EXPECT_EQ(r.modes["/run/out/sub/f"], 0600u);
    EXPECT_EQ(r.files["/run/out/link"], "-> /x/y");
    // Neither is read: a link whose target exists here keeps its own name,
    // and a FIFO would block the collection for good.
    EXPECT_EQ(r.files["/run/out/zero"], "-> /dev/zero");
    EXPECT_EQ(r.files["/run/out/fifo"], "<fifo>");
    EXPECT_EQ(r.files["/etc/config/config.json"], "{\"a\": 1}\n");
    EXPECT_EQ(r.files.count("/run/missing"), 0u);
}

TEST(Nsrun, PrivateMountsAndNoConfig)
{
    nsrun::Spec s;
    s.program = "sh";
    s.has_config = false;
    s.tmpfs = {"/etc/nsrun-test"};
    s.files["/etc/nsrun-test/p"] = "x";
    s.args = {"-c", "ls -A /run /etc/config; cat /etc/nsrun-test/p"};
    auto r = nsrun::run(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "/etc/config:\n\n/run:\nx");
}

TEST(Nsrun, RuntimeValuesEnvPathAndAfter)
{
    nsrun::Spec s;
    s.program = nsrun::tallo_binary();
    s.args = {"dump"};
    s.runtime = {
        {"net.if.wan.up", "1"}, {"net.if.wan.addr", "10.0.0.1"}, {"odd", " spaced\nvalue "}};
    s.after = std::string("echo $FOO; ") + nsrun::tallo_binary() + " get odd";
    s.env["FOO"] = "bar";
    auto r = nsrun::run(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "net.if.wan.addr=10.0.0.1\nnet.if.wan.up=1\nodd= spaced\nvalue \n");
    EXPECT_EQ(r.after, "\n spaced\nvalue \n");

    nsrun::Spec p;
    p.program = "stand-in";
    p.tmpfs = {"/opt/nsrun-bin"};
    p.files["/opt/nsrun-bin/stand-in"] = "#!/bin/sh\necho stand-in \"$FOO\"\n";
    p.path_prepend = {"/opt/nsrun-bin"};
    p.env["FOO"] = "it's";
    p.files["/opt/nsrun-bin/data"] = "plain";
    p.collect = {"/opt/nsrun-bin"};
    auto q = nsrun::run(p);
    EXPECT_EQ(q.out, "stand-in it's\n");
    EXPECT_EQ(q.modes["/opt/nsrun-bin/stand-in"], 0755u);
    EXPECT_EQ(q.modes["/opt/nsrun-bin/data"], 0644u);
}

TEST(Nsrun, RunsAsOtherUserAndRefusesOutsidePaths)
{
    nsrun::Spec s;
    s.program = "id";
    s.args = {"-u"};
    s.uid = 65534;
    s.gid = 65534;
    auto r = nsrun::run(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "65534\n");

    nsrun::Spec bad;
    bad.files["/etc/passwd"] = "x";
    auto b = nsrun::run(bad);
    EXPECT_EQ(b.status, -1);
    EXPECT_NE(b.err.find("/etc/passwd"), std::string::npos);
}

}  // namespace
