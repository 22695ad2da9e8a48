#include "policy.h"

#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Marlo : public testing::Test {
protected:
    std::string path;
    uid_t uid = 0;
    std::string user, group;
    void SetUp() override
    {
        char tmpl[] = "/tmp/marlo_test.XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
        // Any account other than root with a primary group will do.
        const passwd *pw = getpwnam("nobody");
        ASSERT_NE(pw, nullptr);
        uid = pw->pw_uid;
        user = pw->pw_name;
        const struct group *gr = getgrgid(pw->pw_gid);
        ASSERT_NE(gr, nullptr);
        group = gr->gr_name;
    }
    void TearDown() override { unlink(path.c_str()); }
    void policy(const std::string &text, mode_t mode = 0644)
    {
        std::ofstream(path) << text;
        chmod(path.c_str(), mode);
    }
    bool may(std::initializer_list<const char *> args)
    {
        std::vector<char *> argv;
        for (const char *a : args)
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        return marlo::allowed(path.c_str(), uid, argv.data());
    }
};

TEST_F(Marlo, RootAlwaysNoGrantRefused)
{
    policy("");
    EXPECT_FALSE(may({"config", "get", "x"}));
    EXPECT_FALSE(may({"config"}));
    const char *argv[] = {"config", "set", nullptr};
    EXPECT_TRUE(marlo::allowed("/nonexistent", 0, const_cast<char *const *>(argv)));
    EXPECT_FALSE(marlo::allowed("/nonexistent", uid, const_cast<char *const *>(argv)));
}

TEST_F(Marlo, UserAndGroupGrants)
{
    policy("# read only\nuser " + user +
           " get dump   # trailing comment\n"
           "user someone-else set\n"
           "group " +
           group + " map\n");
    EXPECT_TRUE(may({"config", "get", "a.b"}));
    EXPECT_TRUE(may({"config", "dump"}));
    EXPECT_TRUE(may({"config", "map", "dnsmasq"}));
    EXPECT_FALSE(may({"config", "set", "a", "b"}));
    EXPECT_FALSE(may({"config"}));
    EXPECT_FALSE(may({"config", "#"}));
}

TEST_F(Marlo, WildcardAndUnsafePolicy)
{
    policy("user " + user + " *\n");
    EXPECT_TRUE(may({"config", "set"}));
    EXPECT_TRUE(may({"config"}));
    // A policy anyone may rewrite grants nothing.
    policy("user " + user + " *\n", 0666);
    EXPECT_FALSE(may({"config", "set"}));
    // Malformed lines grant nothing.
    policy("user " + user + "\nuser\ngroups " + group + " set\n");
    EXPECT_FALSE(may({"config", "set"}));
}

}  // namespace
