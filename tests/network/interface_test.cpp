// Shared interface section writers that the protocol mappers call directly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "mapper.h"
#include "network.h"
#include "quill.h"
#include "unit_support.h"
#include "tallo.h"

namespace {

using unit::load_config_text;

std::string written(void (*fn)(network_run &, config_node *), config_node *node)
{
    unit::memory_stream s;
    network_run run;
    run.uci = uci_writer(s.out());
    fn(run, node);
    return s.text();
}

class Metric : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/nettest-tallo-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        db_dir = dir;
        setenv("TALLO_DB", (db_dir + "/tallo.db").c_str(), 1);
        ASSERT_EQ(tallo_init(), 0);
        tallo_edit_start();
        tallo_set_string("vigilo.ipsec_passed.passed", "y");
        tallo_set_string("vigilo.ipsec_failed.passed", "n");
        tallo_edit_commit();
        config = load_config_text(R"({"network": {"interface": {"wan": {"ipv4": {"metric": 7}}}},
            "vpn": {"ipsec": {"tunnel": {
              "passed": {"metric": 20, "vigilo": {"enable": true}},
              "failed": {"metric": 20, "vigilo": {"enable": true}},
              "unknown": {"metric": 20, "vigilo": {"enable": true}},
              "unchecked": {"metric": 20},
              "zero": {"vigilo": {"enable": true}}}}}})");
        ASSERT_TRUE(config);
    }
    void TearDown() override
    {
        tallo_deinit();
        std::string cmd = "rm -rf " + db_dir;
        std::system(cmd.c_str());
        unsetenv("TALLO_DB");
    }
    std::string metric(const char *path)
    {
        return written(map_interface_metric, config_lookup(config.get(), path));
    }
    std::string db_dir;
    unique_config config;
};

TEST_F(Metric, TunnelLosesRoutesUntilItsLinkCheckPasses)
{
    EXPECT_EQ(metric("vpn.ipsec.tunnel.passed"), "\toption metric 20\n");
    EXPECT_EQ(metric("vpn.ipsec.tunnel.failed"), "\toption metric 2147483647\n");
    EXPECT_EQ(metric("vpn.ipsec.tunnel.unknown"), "\toption metric 2147483647\n");
    EXPECT_EQ(metric("vpn.ipsec.tunnel.unchecked"), "\toption metric 20\n");
    EXPECT_EQ(metric("vpn.ipsec.tunnel.zero"), "");
    EXPECT_EQ(metric("network.interface.wan.ipv4"), "\toption metric 7\n");
    EXPECT_EQ(metric("network.interface.missing"), "");
}

TEST(InterfaceOptions, MtuAndDeviceOptionsFollowTheSchema)
{
    unique_config c = load_config_text(
        R"({"network": {"interface": {"lan": {"ipv4": {"mtu": 1400, "mac": "02:00:00:00:00:01"},
                                                                     "ipv6": {"mac": ""}}}}})");
    ASSERT_TRUE(c);
    // The interface object has no MTU of its own; each family has one.
    EXPECT_EQ(written(map_interface_mtu, config_lookup(c.get(), "network.interface.lan")), "");
    EXPECT_EQ(
        written(map_interface_device_options, config_lookup(c.get(), "network.interface.lan.ipv4")),
        "\toption macaddr \"02:00:00:00:00:01\"\n\toption mtu 1400\n\toption reqopts \"mtu\"\n");
    EXPECT_EQ(
        written(map_interface_device_options, config_lookup(c.get(), "network.interface.lan.ipv6")),
        "\toption mtu 1500\n\toption reqopts \"mtu\"\n");
}

}  // namespace
