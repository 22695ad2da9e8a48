// Secrets files and credential files for every kind of authentication,
// with real keys and certificates made by openssl.
#include <algorithm>

#include "ike_check.h"
#include "ipsec_test.h"

namespace ipsec_test {
namespace {

const std::string local_wan =
    R"("local": {"type": "interface", "interface": "wan"}, "remote": {"hostname": ["203.0.113.5"]})";

nsrun::Spec tunnel_spec(const std::string &name, const std::string &auth,
                        const std::string &extra_config = "")
{
    nsrun::Spec spec;
    spec.config_json =
        tunnels("\"" + name + "\": {" + local_wan + ", \"auth\": " + auth + "}", extra_config);
    interface_up(spec, "wan", "198.51.100.1");
    return spec;
}

TEST(IpsecSecrets, AsymmetricSecretsAndIdentities)
{
    auto spec = tunnel_spec(
        "t1", R"({"type": "asymmetric-secrets", "remote_secret": "r", "local_secret": "l"})");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(file(r, tree + "/secrets/t1.secret"),
              "198.51.100.1 : PSK 0scg==\n203.0.113.5 : PSK 0sbA==\n");
}

TEST(IpsecSecrets, X509WithCaChainTakesRightCaFromTheFirstCertificate)
{
    const auto &k = credentials();
    std::string chain = k.ca[0] + k.ca[1] + k.ca[2];  // PEM files end in a newline
    auto spec =
        tunnel_spec("x1", "{\"type\": \"x509\", \"private_key\": " + quote(k.key) +
                              ", \"cert\": " + quote(k.cert) + ", \"peer_ca\": " + quote(chain) +
                              ", \"crls\": [{\"crl\": \"crl-a\"}, {\"crl\": \"crl-b\"}]}");
    // Each piece of the chain must still read as a certificate.
    spec.after =
        "for f in /var/run/ipsec.d/cacerts/x1.*.cacert; do openssl x509 -noout -in $f && echo ok; done";
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string marker_end = "-----END CERTIFICATE-----";
    auto without_newline = [&](const std::string &pem) {
        return pem.substr(0, pem.rfind(marker_end) + marker_end.size());
    };
    EXPECT_EQ(file(r, tree + "/cacerts/x1.0.cacert"), without_newline(k.ca[0]));
    EXPECT_EQ(file(r, tree + "/cacerts/x1.1.cacert"), "\n" + without_newline(k.ca[1]));
    EXPECT_EQ(file(r, tree + "/cacerts/x1.2.cacert"), "\n" + without_newline(k.ca[2]));
    EXPECT_EQ(tree_entries(r).count("cacerts/x1.3.cacert"), 0u);
    EXPECT_EQ(r.after, "ok\nok\nok\n");
    EXPECT_EQ(file(r, tree + "/certs/x1.cert"), k.cert);
    EXPECT_EQ(file(r, tree + "/private/x1.rsa"), k.key);
    EXPECT_EQ(r.modes[tree + "/private/x1.rsa"] & 077, 0u);
    EXPECT_EQ(file(r, tree + "/crls/x10.crl"), "crl-a");
    EXPECT_EQ(file(r, tree + "/crls/x11.crl"), "crl-b");
    EXPECT_EQ(file(r, tree + "/secrets/x1.secret"), "198.51.100.1 203.0.113.5 : RSA \"x1.rsa\" \n");

    // The daemon finds the CA that rightca names among the CA files (the
    // lists here are no real CRLs).
    auto d = ike_check::load(ike_check::from_result(r));
    std::sort(d.problems.begin(), d.problems.end());
    EXPECT_EQ(d.problems,
              (std::vector<std::string>{"loading crl from '/etc/ipsec.d/crls/x10.crl' failed",
                                        "loading crl from '/etc/ipsec.d/crls/x11.crl' failed"}))
        << d.log;
    const auto *c = d.connection("x1_policy0");
    ASSERT_NE(c, nullptr) << d.statusall;
    EXPECT_NE(c->text.find("ca:    \"C=US, O=Test, CN=Test CA 0\""), std::string::npos) << c->text;

    std::string dn = shell("ipsec pki --dn --in " + k.dir + "/ca0.pem 2>/dev/null");
    dn = dn.substr(0, dn.find('\n'));
    ASSERT_FALSE(dn.empty());
    EXPECT_NE(conn_file(r, "x1").find(
                  "\tleftauth=pubkey\n\trightauth=pubkey\n"
                  "\tleftcert=\"x1.cert\"\n\tleftsendcert=always\n\trightsendcert=always\n"
                  "\trightca=" +
                  dn + "\n\tikelifetime="),
              std::string::npos)
        << conn_file(r, "x1");
}

TEST(IpsecSecrets, X509ConfiguredCaDnAndMissingChain)
{
    const auto &k = credentials();
    auto spec = tunnel_spec(
        "x1", "{\"type\": \"x509\", \"peer_ca_dn\": \"C=US, O=Test, CN=Test CA 0\", \"cert\": " +
                  quote(k.cert) + "}");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    // A distinguished name holds '=' and blanks: bare, the daemon would
    // refuse the whole file.
    EXPECT_NE(conn_file(r, "x1").find("\trightca=\"C=US, O=Test, CN=Test CA 0\"\n"),
              std::string::npos);
    // A name stored in the file's quotes, as it had to be while it was
    // written bare, is the same name.
    spec = tunnel_spec(
        "x1",
        "{\"type\": \"x509\", \"peer_ca_dn\": \"\\\"C=US, O=Test, CN=Test CA 0\\\"\", \"cert\": " +
            quote(k.cert) + "}");
    r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(conn_file(r, "x1").find("\trightca=\"C=US, O=Test, CN=Test CA 0\"\n"),
              std::string::npos);

    // No DN and no chain to read it from: the tunnel cannot verify its peer.
    r = run_ipsec(tunnel_spec("x2", "{\"type\": \"x509\", \"cert\": " + quote(k.cert) + "}"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree_entries(r).count("conf/x2.conf"), 0u);
}

TEST(IpsecSecrets, X509VerifiedByPeerCertificate)
{
    const auto &k = credentials();
    auto spec =
        tunnel_spec("x1",
                    "{\"type\": \"x509\", \"peer_verify\": \"cert\", \"private_key_passphrase\": "
                    "\"p4ss word\", \"private_key\": " +
                        quote(k.key_enc) + ", \"peer_cert\": " + quote(k.ca[1]) + "}");
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(file(r, tree + "/certs/x1.peercert"), k.ca[1]);
    EXPECT_EQ(file(r, tree + "/secrets/x1.secret"),
              "198.51.100.1 203.0.113.5 : RSA \"x1.rsa\" \"p4ss word\"\n");
    EXPECT_NE(conn_file(r, "x1").find(
                  "\tleftcert=\"x1.cert\"\n\tleftsendcert=always\n"
                  "\trightcert=\"x1.peercert\"\n\trightsendcert=always\n\tikelifetime"),
              std::string::npos);
}

TEST(IpsecSecrets, RsasigDerivesThePublicKeyFromAnEncryptedKey)
{
    const auto &k = credentials();
    auto spec = tunnel_spec(
        "r1", "{\"type\": \"rsasig\", \"private_key\": " + quote(k.key_enc) +
                  ", \"private_key_passphrase\": \"p4ss word\", \"peer_public_key\": \"PEER\"}");
    // The passphrase must not show on any command line: a stand-in openssl
    // in front of the real one records its arguments.
    std::string bin = k.dir + "/bin";
    shell(
        "mkdir -p " + bin +
        " && printf '#!/bin/sh\\necho \"$*\" >> /run/openssl.args\\nexec /usr/bin/openssl \"$@\"\\n' > " +
        bin + "/openssl && chmod 755 " + bin + "/openssl");
    spec.path_prepend = {bin};
    spec.after = "cat /run/openssl.args";
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, tree + "/certs/r1.pub"), k.pub);
    EXPECT_EQ(file(r, tree + "/certs/r1.peerpub"), "PEER");
    EXPECT_EQ(r.after.find("p4ss"), std::string::npos) << r.after;
    EXPECT_NE(r.after.find("rsa -in"), std::string::npos) << r.after;
    EXPECT_NE(conn_file(r, "r1").find(
                  "\tleftauth=pubkey\n\trightauth=pubkey\n"
                  "\tleftsigkey=\"r1.pub\"\n\trightsigkey=\"r1.peerpub\"\n\tikelifetime"),
              std::string::npos);
}

TEST(IpsecSecrets, RsasigWithGivenPublicKeyAndWithABrokenKey)
{
    auto r = run_ipsec(
        tunnel_spec("r1", R"({"type": "rsasig", "private_key": "junk", "public_key": "PUB"})"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(file(r, tree + "/certs/r1.pub"), "PUB");

    // openssl exits 1 on a key it cannot read: the tunnel is left out.
    r = run_ipsec(tunnel_spec("r2", R"({"type": "rsasig", "private_key": "junk"})"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree_entries(r).count("conf/r2.conf"), 0u);
    EXPECT_EQ(file(r, tree + "/secrets/r2.secret"), "198.51.100.1 203.0.113.5 : RSA \"r2.rsa\" \n");
}

TEST(IpsecSecrets, VelmoLinksTheDeviceIdentity)
{
    const auto &k = credentials();
    auto spec = tunnel_spec("v1", R"({"type": "velmo", "crls": [{"crl": "c"}]})");
    spec.files["/etc/config/id_rsa"] = k.key;
    spec.files["/etc/config/unique.crt"] = k.cert;
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(file(r, tree + "/private/v1.rsa"), "-> /etc/config/id_rsa");
    EXPECT_EQ(file(r, tree + "/certs/v1.cert"), "-> /etc/config/unique.crt");
    EXPECT_EQ(file(r, tree + "/certs/v1.peercert"), "-> /etc/ssl/velmo-ipsec.crt");
    EXPECT_EQ(file(r, tree + "/crls/v10.crl"), "c");
    EXPECT_NE(conn_file(r, "v1").find(
                  "\trightcert=\"v1.peercert\"\n\trightsendcert=always\n\tikelifetime"),
              std::string::npos);

    spec.files.erase("/etc/config/unique.crt");
    r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
}

const std::string scep_dir = "/etc/config/scep_client/enrol";

TEST(IpsecSecrets, ScepLinksEnrolledFilesAndCaChainInSortedOrder)
{
    const auto &k = credentials();
    auto spec = tunnel_spec("s1", R"({"type": "scep", "scep_client": "enrol"})",
                            R"("network": {"scep_client": {"enrol": {"crl": {"enable": true}}}})");
    spec.files[scep_dir + "/scep_key.pem"] = k.key;
    spec.files[scep_dir + "/scep_cert.pem"] = k.cert;
    spec.files[scep_dir + "/scep_peer_ca.pem-1"] = k.ca[1];
    spec.files[scep_dir + "/scep_peer_ca.pem-0"] = k.ca[0];
    spec.files[scep_dir + "/scep_crl.pem"] = "crl";
    auto r = run_ipsec(spec);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(file(r, tree + "/private/s1.rsa"), "-> " + scep_dir + "/scep_key.pem");
    EXPECT_EQ(file(r, tree + "/certs/s1.cert"), "-> " + scep_dir + "/scep_cert.pem");
    EXPECT_EQ(file(r, tree + "/cacerts/s1.0.cacert"), "-> " + scep_dir + "/scep_peer_ca.pem-0");
    EXPECT_EQ(file(r, tree + "/cacerts/s1.1.cacert"), "-> " + scep_dir + "/scep_peer_ca.pem-1");
    EXPECT_EQ(file(r, tree + "/crls/s1.crl"), "-> " + scep_dir + "/scep_crl.pem");
    EXPECT_NE(conn_file(r, "s1").find(
                  "\tleftcert=\"s1.cert\"\n\tleftsendcert=always\n\trightsendcert=always\n"
                  "\tikelifetime"),
              std::string::npos);

    // The single CA file wins over a chain.
    spec.files[scep_dir + "/scep_peer_ca.pem"] = k.ca[2];
    r = run_ipsec(spec);
    EXPECT_EQ(file(r, tree + "/cacerts/s1.cacert"), "-> " + scep_dir + "/scep_peer_ca.pem");
    EXPECT_EQ(tree_entries(r).count("cacerts/s1.0.cacert"), 0u);

    // An enabled CRL that is missing leaves the tunnel out.
    spec.files.erase(scep_dir + "/scep_crl.pem");
    r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
}

TEST(IpsecSecrets, ScepWithoutCaIsLeftOut)
{
    const auto &k = credentials();
    auto spec = tunnel_spec("s1", R"({"type": "scep", "scep_client": "enrol"})");
    spec.files[scep_dir + "/scep_key.pem"] = k.key;
    spec.files[scep_dir + "/scep_cert.pem"] = k.cert;
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree_entries(r).count("conf/s1.conf"), 0u);
    EXPECT_EQ(file(r, tree + "/private/s1.rsa"), "-> " + scep_dir + "/scep_key.pem");
}

}  // namespace
}  // namespace ipsec_test

namespace ipsec_test {
namespace {

TEST(IpsecSecrets, ScepClientNameCannotLeaveTheScepDirectory)
{
    const auto &k = credentials();
    auto spec = tunnel_spec("s1", R"({"type": "scep", "scep_client": "../elsewhere"})");
    for (auto f : {"scep_key.pem", "scep_cert.pem", "scep_peer_ca.pem"})
        spec.files[std::string("/etc/config/elsewhere/") + f] = k.cert;
    auto r = run_ipsec(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree_entries(r).count("private/s1.rsa"), 0u);
}

}  // namespace
}  // namespace ipsec_test
