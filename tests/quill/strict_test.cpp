// Value reads of keys the schema does not know: silent by default, a stop
// that names the path when the test helper's flag is set.
#include <csignal>
#include <cstdlib>

#include "fixture.h"

namespace {

TEST_F(StoreTest, UnknownKeysReadAsAbsentWithoutTheFlag)
{
    if (getenv("QUILL_STRICT_READS"))
        GTEST_SKIP() << "QUILL_STRICT_READS is set for the whole run";
    copy_ptr c = load_text(R"({"system": {"retries": 5}})");
    ASSERT_TRUE(c);
    EXPECT_STREQ(config_get_string(c.get(), "system.hostnme"), "");
    EXPECT_EQ(config_get_int(c.get(), "system.retires"), 0);
    EXPECT_EQ(config_array(c.get(), "system.server"), nullptr);
}

TEST_F(StoreTest, StrictReadsStopAtAnUnknownKeyNamingIt)
{
    // The child re-runs only this test, so the flag is read for the first
    // time inside it.  Where the binary cannot be started again (under an
    // emulator) the child is a plain fork, which holds as long as nothing
    // before it in this process read an unknown key: CTest runs each test
    // in a process of its own.
#ifdef DEATH_TESTS_WITHOUT_EXEC
    GTEST_FLAG_SET(death_test_style, "fast");
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
    copy_ptr c = load_text(R"({"system": {"retries": 5},
        "network": {"interface": {"lan": {"mtu": 1400}}}})");
    ASSERT_TRUE(c);
    config_node *lan = config_lookup(c.get(), "network.interface.lan");
    ASSERT_TRUE(lan);
    EXPECT_EXIT(
        {
            setenv("QUILL_STRICT_READS", "1", 1);
            // Known keys, set or not, members that do not exist and paths
            // asked for by users (lookups and key tests) read as before.
            bool fine = config_get_int(c.get(), "system.retries") == 5 &&
                        config_get_int(lan, "mtu") == 1400 &&
                        std::string(config_get_string(c.get(), "system.hostname")) == "router" &&
                        config_get_int(c.get(), "network.interface.wan.mtu") == 0 &&
                        !config_lookup(c.get(), "system.colour") &&
                        !config_has_key(c.get(), "colour") &&
                        config_array_count(config_array(c.get(), "system.servers")) == 0;
            if (!fine)
                std::exit(3);
            config_get_int(lan, "mtuu");
            std::exit(4);
        },
        testing::KilledBySignal(SIGABRT),
        "read of network\\.interface\\.lan\\.mtuu: the schema has no such key");
}

}  // namespace
