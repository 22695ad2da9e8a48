#include "proto_test.h"

using namespace proto_test;

namespace {

const std::string live = "/var/run/ipsec.d";

nsrun::Result run_ipsec_iface(const std::string &vpn, std::map<std::string, std::string> files,
                              const std::string &extra = "")
{
    nsrun::Spec spec;
    spec.config_json = R"({"vpn": {"ipsec": )" + vpn + "}" + extra + "}";
    spec.files = std::move(files);
    return map_network(spec);
}

}  // namespace

TEST(IpsecInterface, SectionRetrySettingsAndFingerprint)
{
    std::map<std::string, std::string> files = {
        {live + "/conf/hq.conf", "conn hq\n"},
        {live + "/secrets/hq.secrets", ": PSK \"x\"\n"},
        {live + "/certs/hq.crt", "CERT\n"},
        {live + "/conf/other.conf", "conn other\n"},
    };
    auto r = run_ipsec_iface(R"({"advanced": {
          "connection_retry_timeout": {"duration": "1m", "limit": "2h", "jitter": 5, "base": 1.5},
          "connection_try_interval": {"duration": 20, "limit": "10m", "jitter": 1, "base": 3}},
        "tunnel": {"other": {"enable": false}, "hq": {"metric": 40, "ike": {"initiate": false},
          "remote": {"hostname": ["any", "203.0.113.2", "203.0.113.3"]},
          "policy": [{"remote": {"network": "10.1.0.0/16"}}, {"remote": {"network": "10.2.0.0/16"}}]}}})",
                             files);
    ASSERT_EQ(r.status, 0) << r.err;
    // cat sorts the glob: certs, conf, secrets.
    std::string digest = md5("CERT\nconn hq\n: PSK \"x\"\n");
    EXPECT_EQ(
        section(file(r, network_file), "ipsec_hq"),
        "\nconfig interface ipsec_hq\n\toption proto \"ipsec\"\n\toption ifname \"ipsec2\"\n"
        "\toption metric 40\n\toption initiate \"route\"\n\toption policies 2\n\toption num_hosts 3\n"
        "\toption retry_timeout_initial 60\n\toption retry_timeout_limit 7200\n"
        "\toption retry_timeout_jitter 5\n\toption retry_timeout_base \"1.500000\"\n"
        "\toption try_interval_initial 20\n\toption try_interval_limit 600\n"
        "\toption try_interval_jitter 1\n\toption try_interval_base \"3.000000\"\n"
        "\toption conf_md5sum \"" +
            digest + "\"\n");
    // The interface of a disabled tunnel follows its connection file only.
    EXPECT_NE(section(file(r, network_file), "ipsec_other"), "");
}

TEST(IpsecInterface, CertificateChangeChangesTheDigest)
{
    const std::string vpn = R"({"tunnel": {"hq": {}}})";
    auto a = run_ipsec_iface(
        vpn, {{live + "/conf/hq.conf", "conn hq\n"}, {live + "/certs/hq.crt", "A\n"}});
    auto b = run_ipsec_iface(
        vpn, {{live + "/conf/hq.conf", "conn hq\n"}, {live + "/certs/hq.crt", "B\n"}});
    std::string sa = section(file(a, network_file), "ipsec_hq"),
                sb = section(file(b, network_file), "ipsec_hq");
    ASSERT_NE(sa, "");
    EXPECT_NE(sa, sb);
    EXPECT_NE(
        sa.find("\toption initiate \"initiate\"\n\toption policies 1\n\toption num_hosts 0\n"),
        std::string::npos)
        << sa;
}

TEST(IpsecInterface, NoSectionWithoutConnectionFileOrUnderNhrp)
{
    auto r = run_ipsec_iface(R"({"tunnel": {"hq": {}}})", {{live + "/certs/hq.crt", "A\n"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, network_file), "\nconfig globals globals\n");
    r = run_ipsec_iface(
        R"({"tunnel": {"hq": {}}})", {{live + "/conf/hq.conf", "conn hq\n"}},
        R"(, "network": {"route": {"service": {"nhrp": {"network": [{"ipsec": "hq"}]}}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, network_file), "\nconfig globals globals\n");
}

// The digest reads the tunnel's files whole and in byte order of their
// paths, binary ones (a DER CRL, a zero byte) included; files of other
// tunnels, however alike their names, stay out.
TEST(IpsecInterface, DigestCoversTheTunnelsFilesWholeInPathOrder)
{
    const std::string der("\x30\x82\x00\x0a\x00\xff\r\nCRL", 11);
    auto r = run_ipsec_iface(R"({"tunnel": {"hq": {}, "hq10": {}}})",
                             {{live + "/conf/hq.conf", "conn hq\n"},
                              {live + "/crls/hq.crl", der},
                              {live + "/cacerts/hq.0.cacert", "CA0"},
                              {live + "/cacerts/hq.1.cacert", "CA1\n"},
                              {live + "/conf/hq10.conf", "conn hq10\n"},
                              {live + "/certs/hq10.cert", "OTHER\n"},
                              {live + "/certs/hq", "NO DOT\n"}});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string digest = md5("CA0CA1\nconn hq\n" + der);
    EXPECT_NE(section(file(r, network_file), "ipsec_hq")
                  .find("\toption conf_md5sum \"" + digest + "\"\n"),
              std::string::npos)
        << file(r, network_file);
    EXPECT_NE(section(file(r, network_file), "ipsec_hq10")
                  .find("\toption conf_md5sum \"" + md5("OTHER\nconn hq10\n") + "\"\n"),
              std::string::npos)
        << file(r, network_file);
}
