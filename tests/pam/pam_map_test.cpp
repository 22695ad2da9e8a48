// `config map pam` run for real in a private namespace; every generated file
// is compared whole with the text the router's daemons must get.
#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "nsrun.h"
#include "pam_check.h"

namespace {

const std::string L = "[success=done new_authtok_reqd=done default=ignore]";
const std::string A =
    "[success=done new_authtok_reqd=done auth_err=die user_unknown=die default=ignore]";
const std::string S = "[ success=done new_authtok_reqd=done ignore=ignore default=die ]";

// The template once per service, "@" standing for the service name.
std::string each(std::initializer_list<const char *> services, const std::string &tmpl)
{
    std::string out;
    for (const char *service : services) {
        std::string t = tmpl;
        for (size_t at; (at = t.find('@')) != std::string::npos;)
            t.replace(at, 1, service);
        out += t;
    }
    return out;
}

std::string token(const std::string &control, const std::string &idle = "")
{
    return "httpd auth " + control + " pam_token_decrypt.so" + idle + "\n" + "httpd account " +
           control + " pam_token_decrypt.so\n";
}

const std::string kLocal =
    each({"sshd", "login"}, "@ auth " + L +
                                " pam_qel.so admin -o shell -o serial\n"
                                "@ account " +
                                L + " pam_qel.so admin -o shell -o serial\n") +
    each({"httpd", "httpd_login"}, "@ auth " + L +
                                       " pam_qel.so\n"
                                       "@ account " +
                                       L + " pam_qel.so\n");

const std::string kFallback = each({"sshd", "login", "httpd", "httpd_login"},
                                   "@ auth required pam_deny.so\n"
                                   "@ account required pam_deny.so\n"
                                   "@ session required pam_qel.so\n"
                                   "@ session required pam_motd.so motd=/var/run/motd\n"
                                   "@ session required pam_env.so readenv=0\n") +
                              each({"cli", "shell", "serial"},
                                   "@ auth required pam_deny.so\n"
                                   "@ account required pam_deny.so\n"
                                   "@ password required pam_deny.so\n"
                                   "@ session required pam_qel.so\n") +
                              "openvpn auth required pam_qel.so\n"
                              "openvpn account required pam_qel.so\n"
                              "openvpn password required pam_deny.so\n"
                              "openvpn session required pam_deny.so\n"
                              "other auth required pam_warn.so\n"
                              "other auth required pam_deny.so\n"
                              "other account required pam_warn.so\n"
                              "other account required pam_deny.so\n"
                              "other session required pam_warn.so\n"
                              "other session required pam_deny.so\n";

const std::initializer_list<const char *> kClientServices = {"sshd",    "login", "serial",
                                                             "openvpn", "httpd", "httpd_login"};

// Plain RADIUS rules: no debug, no NAS id, not authoritative.
const std::string kRadius =
    each(kClientServices, "@ auth " + L +
                              " pam_radius_auth.so  localifdown  conf=/var/run/radius.conf\n"
                              "@ account " +
                              L +
                              " pam_radius_auth.so conf=/var/run/radius.conf\n"
                              "@ session optional pam_radius_auth.so conf=/var/run/radius.conf\n");

// The TACACS+ block: its control, the service= and groupname= arguments as
// written (with the blank before them), and the server list that ends
// every line.
std::string tacacs_block(const std::string &control, const std::string &svc,
                         const std::string &group, const std::string &sv)
{
    auto login = [&](const char *service, const std::string &proto) {
        return each({service},
                    "@ auth " + control +
                        " pam_tacplus.so debug try_first_pass login=pap prompt=Password:_" + sv +
                        "@ account " + control + " pam_tacplus.so debug try_first_pass login=pap" +
                        svc + " protocol=" + proto + group + sv +
                        "@ session optional pam_tacplus.so debug try_first_pass login=pap" + svc +
                        " protocol=" + proto + sv);
    };
    return login("sshd", "ssh") + login("login", "telnet") + login("httpd", "https") +
           login("httpd_login", "https") +
           each({"cli", "shell", "serial"},
                "@ session optional pam_tacplus.so debug try_first_pass login=pap service=@ "
                "protocol=unknown" +
                    sv) +
           login("openvpn", "openvpn");
}

const char *kPamConf = "/var/run/pam.conf";
const char *kRadiusConf = "/var/run/radius.conf";
const char *kLdapConf = "/var/run/ldap.conf";

nsrun::Result run_map(const std::string &json, bool has_config = true,
                      std::map<std::string, std::string> files = {})
{
    nsrun::Spec spec;
    spec.args = {"map", "pam"};
    spec.config_json = json;
    spec.has_config = has_config;
    spec.files = std::move(files);
    spec.collect = {kPamConf, kRadiusConf, kLdapConf};
    // Temporary files must never be left behind.
    spec.after = "ls -A /var/run";
    return nsrun::run(spec);
}

std::string file(const nsrun::Result &r, const char *path)
{
    auto it = r.files.find(path);
    return it == r.files.end() ? "<missing>" : it->second;
}

void expect_no_leftovers(const nsrun::Result &r)
{
    std::istringstream names(r.after);
    for (std::string name; std::getline(names, name);) {
        bool temporary = name.rfind("pam.conf.", 0) == 0 ||
                         (name.rfind("radius.", 0) == 0 && name != "radius.conf") ||
                         (name.rfind("ldap.", 0) == 0 && name != "ldap.conf");
        EXPECT_FALSE(temporary) << name;
    }
}

// Linux-PAM's calls of every rule of pam_conf, checked to be the rules of
// the file one for one (none is lost, cut short or added).
std::vector<pam_check::call> pam_reads_every_rule(const std::string &pam_conf)
{
    if (!pam_check::available())
        return {};
    std::string error;
    auto calls = pam_check::every_rule(pam_conf, error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(pam_check::same_rules(pam_conf, calls), "") << pam_conf;
    return calls;
}

TEST(PamMap, WithoutUsableMethodsTheLocalBlockStands)
{
    const std::string expected = token(L) + kLocal + kFallback;
    const struct {
        const char *what;
        const char *json;
        bool has_config;
    } cases[] = {
        {"new device", "", false},
        {"empty method list", R"({"auth": {"method": []}})", true},
        {"TACACS+ without servers", R"({"auth": {"method": ["tacacs+"]}})", true},
        {"RADIUS and LDAP without servers",
         R"({"auth": {"method": ["radius", "ldap"], "radius": {"server": []}}})", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto r = run_map(c.json, c.has_config);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(file(r, kPamConf), expected);
        EXPECT_EQ(file(r, kRadiusConf), "<missing>");
        EXPECT_EQ(file(r, kLdapConf), "<missing>");
        // TACACS+ secrets may sit in the rules: owner only.
        EXPECT_EQ(r.modes[kPamConf], 0600u);
        expect_no_leftovers(r);
    }
}

TEST(PamMap, RadiusBeforeLocalWithIpv6Server)
{
    auto r = run_map(R"({"auth": {"method": ["radius", "local"], "radius": {"server": [
        {"hostname": "10.0.0.1", "port": 1812, "secret": "s1", "timeout": 3},
        {"hostname": "fd00::1", "port": 1645, "secret": "a]b]", "timeout": 5}]}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, kPamConf), token(L) + kRadius + kLocal + kFallback);
    EXPECT_EQ(file(r, kRadiusConf),
              "10.0.0.1:1812 s1 3\n"
              "[fd00::1]:1645 a\\]b\\] 5\n");
    EXPECT_EQ(r.modes[kRadiusConf], 0600u);
    expect_no_leftovers(r);
}

TEST(PamMap, RadiusDebugNasIdAndAuthoritative)
{
    auto r = run_map(R"({"auth": {"method": ["radius"], "radius": {
        "debug": true, "nas_id": "rtr-1", "authoritative": true,
        "server": [{"hostname": "radius.example.net", "secret": "k"}]}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, kPamConf),
              token(L) +
                  each(kClientServices,
                       "@ auth " + A +
                           " pam_radius_auth.so debug localifdown client_id=rtr-1 "
                           "conf=/var/run/radius.conf\n"
                           "@ account " +
                           A +
                           " pam_radius_auth.so conf=/var/run/radius.conf\n"
                           "@ session optional pam_radius_auth.so conf=/var/run/radius.conf\n") +
                  kFallback);
    // Port and timeout come from the defaults.
    EXPECT_EQ(file(r, kRadiusConf), "radius.example.net:1812 k 3\n");
}

TEST(PamMap, TacacsRulesCarryEveryServer)
{
    auto r = run_map(R"({"auth": {"method": ["tacacs+", "local"], "tacacs+": {
        "service": "ppp", "group_attribute": "grp", "authoritative": true,
        "server": [{"hostname": "10.0.0.5", "port": 49, "secret": "t]op"},
                   {"hostname": "tac2.example.net", "port": 4949, "secret": "two words"}]}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string sv =
        " server=10.0.0.5:49 [secret=t\\]op]  server=tac2.example.net:4949 [secret=two words] \n";
    const std::string tacacs = tacacs_block(A, " service=ppp", " groupname=grp", sv);
    EXPECT_EQ(file(r, kPamConf), token(L) + tacacs + kLocal + kFallback);
    EXPECT_EQ(file(r, kRadiusConf), "<missing>");
    pam_reads_every_rule(file(r, kPamConf));
}

TEST(PamMap, LdapOverTlsWithBindDn)
{
    auto r = run_map(R"({"auth": {"method": ["ldap"], "ldap": {
        "server": [{"hostname": "ldap1.example.net", "port": 636},
                   {"hostname": "10.1.1.1", "port": 3269}],
        "tls": "on", "verify_server_cert": false, "base_dn": "dc=example,dc=net",
        "login_attribute": "sAMAccountName", "group_attribute": "memberOf",
        "bind_dn": "cn=router,dc=example,dc=net", "bind_password": "p w]d",
        "timeout": 7}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string ldap =
        each({"sshd", "login", "serial", "openvpn"},
             "@ auth " + L +
                 " pam_ldap.so  groupname=memberOf config=/var/run/ldap.conf\n"
                 "@ account " +
                 L +
                 " pam_ldap.so config=/var/run/ldap.conf\n"
                 "@ session optional pam_ldap.so try_first_pass config=/var/run/ldap.conf\n") +
        each({"httpd"},
             "@ auth " + L +
                 " pam_ldap.so use_first_pass groupname=memberOf config=/var/run/ldap.conf\n"
                 "@ account " +
                 L +
                 " pam_ldap.so config=/var/run/ldap.conf\n"
                 "@ session optional pam_ldap.so try_first_pass config=/var/run/ldap.conf\n") +
        each({"httpd_login"},
             "@ auth " + L +
                 " pam_ldap.so  groupname=memberOf config=/var/run/ldap.conf\n"
                 "@ account " +
                 L +
                 " pam_ldap.so config=/var/run/ldap.conf\n"
                 "@ session optional pam_ldap.so try_first_pass config=/var/run/ldap.conf\n");
    EXPECT_EQ(file(r, kPamConf), token(L) + ldap + kFallback);
    EXPECT_EQ(file(r, kLdapConf),
              "uri ldaps://ldap1.example.net:636 ldaps://10.1.1.1:3269\n"
              "base dc=example,dc=net\n"
              "pam_login_attribute sAMAccountName\n"
              "ssl on\n"
              "tls_checkpeer no\n"
              "tls_cacertfile /etc/ssl/certs/ca-certificates.crt\n"
              "binddn cn=router,dc=example,dc=net\n"
              "bindpw p w]d\n"
              "timelimit 7\n"
              "bind_timelimit 7\n");
    EXPECT_EQ(r.modes[kLdapConf], 0600u);
    expect_no_leftovers(r);
}

TEST(PamMap, LdapWithoutBindDnBindsAnonymously)
{
    auto r = run_map(R"({"auth": {"method": ["ldap"], "ldap": {
        "server": [{"hostname": "ldap.example.net"}], "base_dn": "dc=x",
        "bind_dn": "", "bind_password": "unused"}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, kLdapConf),
              "uri ldap://ldap.example.net:389\n"
              "base dc=x\n"
              "pam_login_attribute uid\n"
              "ssl off\n"
              "tls_checkpeer yes\n"
              "tls_cacertfile /etc/ssl/certs/ca-certificates.crt\n"
              "timelimit 10\n"
              "bind_timelimit 10\n");
}

TEST(PamMap, OneTimePasswordsAndIdleTimeout)
{
    auto r = run_map(R"({"auth": {"idle_timeout": "5m", "user": {
        "admin": {"2fa": {"enable": false}}, "ops": {"2fa": {"enable": true}}}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, kPamConf),
              each({"sshd", "login", "httpd_login"},
                   "@ auth required pam_google_authenticator.so "
                   "secret=/etc/config/2fa/${USER}.conf nullok user=root debug\n") +
                  token(S, " 300") + kLocal + kFallback);

    // Without a user asking for it the lenient control stays.
    r = run_map(R"({"auth": {"idle_timeout": 90, "user": {
        "admin": {"2fa": {"enable": false}}}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, kPamConf), token(L, " 90") + kLocal + kFallback);
}

TEST(PamMap, MethodListedTwiceIsStackedTwice)
{
    auto r = run_map(R"({"auth": {"method": ["local", "radius", "local", "radius"],
        "radius": {"server": [{"hostname": "10.0.0.1", "secret": "s", "timeout": 2}]}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, kPamConf), token(L) + kLocal + kRadius + kLocal + kRadius + kFallback);
    EXPECT_EQ(file(r, kRadiusConf), "10.0.0.1:1812 s 2\n");
}

TEST(PamMap, ClientFileOfAnUnusedMethodIsLeftAlone)
{
    auto r = run_map(R"({"auth": {"method": ["radius", "local"]}})", true,
                     {{kRadiusConf, "old\n"}, {kLdapConf, "older\n"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file(r, kPamConf), token(L) + kLocal + kFallback);
    EXPECT_EQ(file(r, kRadiusConf), "old\n");
    EXPECT_EQ(file(r, kLdapConf), "older\n");
}

// A client file that cannot be put in place takes its method's rules with
// it; either file that cannot be put in place is a failure, not a success.
TEST(PamMap, FilesThatCannotBeMovedAreReported)
{
    const std::string json = R"({"auth": {"method": ["radius"],
        "radius": {"server": [{"hostname": "10.0.0.1", "secret": "s"}]}}})";
    auto r = run_map(json, true, {{"/var/run/radius.conf/keep", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(file(r, kPamConf), token(L) + kLocal + kFallback);
    EXPECT_NE(r.err.find("/var/run/radius.conf"), std::string::npos) << r.err;
    expect_no_leftovers(r);

    r = run_map(json, true, {{"/var/run/pam.conf/keep", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/var/run/pam.conf"), std::string::npos) << r.err;
    expect_no_leftovers(r);
}

// A server entry that cannot be written safely is dropped with a message;
// the others still work.
TEST(PamMap, UnusableServersAreLeftOut)
{
    auto r = run_map(R"({"auth": {"method": ["tacacs+", "radius"],
        "tacacs+": {"server": [{"hostname": "a.example.net", "secret": "ends\\"},
                               {"hostname": "bad host", "secret": "x"},
                               {"hostname": "10.0.0.9", "secret": "ok"}]},
        "radius": {"server": [{"hostname": "", "secret": "x"}]}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string pam = file(r, kPamConf);
    EXPECT_NE(pam.find("protocol=ssh groupname= server=10.0.0.9:49 [secret=ok] \n"),
              std::string::npos)
        << pam;
    EXPECT_EQ(pam.find("a.example.net"), std::string::npos);
    EXPECT_EQ(pam.find("bad host"), std::string::npos);
    // RADIUS had no usable server, so no RADIUS rule and no client file.
    EXPECT_EQ(pam.find("pam_radius_auth"), std::string::npos);
    EXPECT_EQ(file(r, kRadiusConf), "<missing>");
    EXPECT_NE(r.err.find("auth.tacacs+.server"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("auth.radius.server"), std::string::npos) << r.err;
}

// A line break in a value would add a rule of its own: an authentication
// bypass.  Such a value must never reach any file.
TEST(PamMap, LineBreaksNeverReachTheFiles)
{
    const std::string evil = R"(x\nother auth sufficient pam_permit.so)";
    const std::string cases[] = {
        R"({"auth": {"method": ["radius"], "radius": {"server": [{"hostname": "r", "secret": ")" +
            evil + R"("}]}}})",
        R"({"auth": {"method": ["radius"], "radius": {"nas_id": ")" + evil +
            R"(", "server": [{"hostname": "r", "secret": "s"}]}}})",
        R"({"auth": {"method": ["tacacs+"], "tacacs+": {"server": [{"hostname": ")" + evil +
            R"(", "secret": "s"}]}}})",
        R"({"auth": {"method": ["tacacs+"], "tacacs+": {"group_attribute": ")" + evil +
            R"(", "server": [{"hostname": "t", "secret": "s"}]}}})",
        R"({"auth": {"method": ["ldap"], "ldap": {"bind_dn": "cn=x", "bind_password": ")" + evil +
            R"(", "server": [{"hostname": "l"}]}}})",
    };
    for (const auto &json : cases) {
        SCOPED_TRACE(json);
        auto r = run_map(json, true, {{kPamConf, "previous\n"}});
        for (const auto &[path, text] : r.files)
            EXPECT_EQ(text.find("pam_permit"), std::string::npos) << path << ":\n" << text;
        // Either the value was refused with the whole configuration, or it
        // was left out; in both cases someone is told.
        EXPECT_FALSE(r.err.empty());
        if (r.status != 0) {
            EXPECT_EQ(file(r, kPamConf), "previous\n");
        }
    }
}

// Blanks, brackets, quotes and shell syntax in every value that becomes a
// module argument or a client-file field: each value stays one argument or
// one field, or is left out with a message that names its path.
const std::string kPayloads = R"json({"auth": {"method": ["tacacs+", "radius", "ldap"],
    "tacacs+": {"service": "my svc", "group_attribute": "a]b$(x)`y`'z'\"",
      "server": [{"hostname": "fd00::7", "port": 49, "secret": "se cret]\\x"},
                 {"hostname": "10.0.0.6", "secret": "has#hash"},
                 {"hostname": "10.0.0.8", "secret": "ends\\"}]},
    "radius": {"nas_id": "rtr 1 conf=/tmp/evil.conf",
      "server": [{"hostname": "fd00::9", "port": 1812, "secret": "r]1", "timeout": 3},
                 {"hostname": "10.0.0.2", "secret": "two words"},
                 {"hostname": "10.0.0.3", "secret": ""}]},
    "ldap": {"group_attribute": "Domain Users", "tls": "on", "base_dn": "dc=example, dc=net",
      "bind_dn": "cn=reader,dc=example", "bind_password": " padded",
      "server": [{"hostname": "fd00::5", "port": 636}, {"hostname": "ldap.example.net"}]}}})json";

TEST(PamMap, PayloadsStayOneArgument)
{
    auto r = run_map(kPayloads);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string sv = " server=[fd00::7]:49 [secret=se cret\\]\\x] \n";
    const std::string tacacs =
        tacacs_block(L, " [service=my svc]", " groupname=a]b$(x)`y`'z'\"", sv);
    const std::string radius =
        each(kClientServices,
             "@ auth " + L +
                 " pam_radius_auth.so  localifdown [client_id=rtr 1 conf=/tmp/evil.conf] "
                 "conf=/var/run/radius.conf\n"
                 "@ account " +
                 L +
                 " pam_radius_auth.so conf=/var/run/radius.conf\n"
                 "@ session optional pam_radius_auth.so conf=/var/run/radius.conf\n");
    const std::string ldap_rules =
        "@ account " + L +
        " pam_ldap.so config=/var/run/ldap.conf\n"
        "@ session optional pam_ldap.so try_first_pass config=/var/run/ldap.conf\n";
    const std::string ldap =
        each({"sshd", "login", "serial", "openvpn"},
             "@ auth " + L + " pam_ldap.so  [groupname=Domain Users] config=/var/run/ldap.conf\n" +
                 ldap_rules) +
        each(
            {"httpd"},
            "@ auth " + L +
                " pam_ldap.so use_first_pass [groupname=Domain Users] config=/var/run/ldap.conf\n" +
                ldap_rules) +
        each({"httpd_login"},
             "@ auth " + L + " pam_ldap.so  [groupname=Domain Users] config=/var/run/ldap.conf\n" +
                 ldap_rules);
    const std::string pam_conf = file(r, kPamConf);
    EXPECT_EQ(pam_conf, token(L) + tacacs + radius + ldap + kFallback);
    EXPECT_EQ(file(r, kRadiusConf), "[fd00::9]:1812 r\\]1 3\n");
    EXPECT_EQ(file(r, kLdapConf),
              "uri ldaps://[fd00::5]:636 ldaps://ldap.example.net:389\n"
              "base dc=example, dc=net\n"
              "pam_login_attribute uid\n"
              "ssl on\n"
              "tls_checkpeer yes\n"
              "tls_cacertfile /etc/ssl/certs/ca-certificates.crt\n"
              "binddn cn=reader,dc=example\n"
              "timelimit 10\n"
              "bind_timelimit 10\n");
    EXPECT_EQ(
        r.err,
        "config map pam: auth.tacacs+.server.1.secret: the value holds '#', which ends a PAM rule; "
        "left out\n"
        "config map pam: auth.tacacs+.server.2.secret: the value ends in a backslash, which PAM would "
        "read as part of what follows; left out\n"
        "config map pam: auth.radius.server.1.secret: the value holds a blank, which would split it "
        "into two fields; left out\n"
        "config map pam: auth.radius.server.2.secret: the value is empty, which would shift the fields "
        "after it; left out\n"
        "config map pam: auth.ldap.bind_password: the value starts or ends with a blank, which the LDAP "
        "module drops; left out\n");

    if (!pam_check::available())
        GTEST_SKIP() << "no PAM probe or pamtester";
    auto calls = pam_reads_every_rule(pam_conf);
    auto args_of = [&](const char *type, const char *module) {
        for (const auto &c : calls)
            if (c.service == "sshd" && c.type == type && c.module == module)
                return c.args;
        return std::vector<std::string>{};
    };
    using args = std::vector<std::string>;
    EXPECT_EQ(args_of("account", "pam_tacplus.so"),
              (args{"debug", "try_first_pass", "login=pap", "service=my svc", "protocol=ssh",
                    "groupname=a]b$(x)`y`'z'\"", "server=[fd00::7]:49", "secret=se cret]\\x"}));
    EXPECT_EQ(
        args_of("auth", "pam_radius_auth.so"),
        (args{"localifdown", "client_id=rtr 1 conf=/tmp/evil.conf", "conf=/var/run/radius.conf"}));
    EXPECT_EQ(args_of("auth", "pam_ldap.so"),
              (args{"groupname=Domain Users", "config=/var/run/ldap.conf"}));
}

// What Linux-PAM cannot carry at all is left out: a '#' anywhere ends the
// rule, and a trailing backslash joins what follows to the argument.
TEST(PamMap, ArgumentsPamCannotCarryAreLeftOut)
{
    auto r = run_map(R"({"auth": {"method": ["radius", "ldap"],
        "radius": {"nas_id": "rtr#1", "server": [{"hostname": "10.0.0.1", "secret": "s"}]},
        "ldap": {"group_attribute": "staff\\", "server": [{"hostname": "10.0.0.2"}]}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string pam_conf = file(r, kPamConf);
    EXPECT_NE(pam_conf.find("sshd auth " + L +
                            " pam_radius_auth.so  localifdown  conf=/var/run/radius.conf\n"),
              std::string::npos)
        << pam_conf;
    EXPECT_NE(pam_conf.find("sshd auth " + L + " pam_ldap.so  config=/var/run/ldap.conf\n"),
              std::string::npos)
        << pam_conf;
    pam_reads_every_rule(pam_conf);
    EXPECT_EQ(
        r.err,
        "config map pam: auth.radius.nas_id: the value holds '#', which ends a PAM rule; left out\n"
        "config map pam: auth.ldap.group_attribute: the value ends in a backslash, which PAM would "
        "read as part of what follows; left out\n");
}

// Every file is 0600 whatever the umask, also over an older file that was
// readable by others.
TEST(PamMap, ModesDoNotDependOnTheUmask)
{
    nsrun::Spec spec;
    spec.args = {"map", "pam"};
    spec.config_json = R"({"auth": {"method": ["radius", "ldap"],
        "radius": {"server": [{"hostname": "10.0.0.1", "secret": "s"}]},
        "ldap": {"server": [{"hostname": "10.0.0.2"}]}}})";
    spec.files = {{kPamConf, "old\n"}, {kRadiusConf, "old\n"}};
    spec.before = "umask 000; chmod 666 /var/run/pam.conf /var/run/radius.conf";
    spec.collect = {kPamConf, kRadiusConf, kLdapConf};
    auto r = nsrun::run(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *path : {kPamConf, kRadiusConf, kLdapConf})
        EXPECT_EQ(r.modes[path], 0600u) << path;
}

// A file system with no room left: nothing is moved into place, the
// previous files stay, and the run fails naming the file.
TEST(PamMap, FullFileSystemKeepsThePreviousFiles)
{
    nsrun::Spec spec;
    spec.args = {"map", "pam"};
    spec.config_json = R"({"auth": {"method": ["radius"],
        "radius": {"server": [{"hostname": "10.0.0.1", "secret": "s"}]}}})";
    spec.before =
        "mount -t tmpfs -o size=16k full /run; mkdir /run/x; "
        "echo previous > /run/pam.conf; echo previous > /run/radius.conf; "
        "dd if=/dev/zero of=/run/x/fill bs=4k 2>/dev/null || true";
    spec.collect = {kPamConf, kRadiusConf};
    spec.after = "ls -A /var/run";
    auto r = nsrun::run(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(file(r, kPamConf), "previous\n");
    EXPECT_EQ(file(r, kRadiusConf), "previous\n");
    EXPECT_EQ(r.err,
              "config map pam: cannot write /var/run/radius.conf: No space left on device\n"
              "config map pam: cannot write /var/run/pam.conf: No space left on device\n");
    expect_no_leftovers(r);
}

// The schema refuses such a value when it is set, and keeps the old one.
TEST(PamMap, LineBreaksAreRefusedWhenSet)
{
    for (const char *path : {"auth.ldap.bind_password", "auth.ldap.base_dn", "auth.radius.nas_id",
                             "auth.tacacs+.group_attribute"}) {
        SCOPED_TRACE(path);
        nsrun::Spec spec;
        spec.args = {"set", path, "x\nother auth sufficient pam_permit.so"};
        spec.config_json = R"({"auth": {"radius": {"nas_id": "keep"}}})";
        spec.collect = {"/etc/config/config.json"};
        auto r = nsrun::run(spec);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
        EXPECT_EQ(r.files["/etc/config/config.json"], spec.config_json);
    }
}

#ifdef PAMTESTER
// The real PAM library reads the generated single-file configuration, with
// the router's own modules replaced by a probe that logs its arguments.
TEST(PamMap, PamLibraryRunsTheGeneratedRules)
{
    nsrun::Spec spec;
    spec.args = {"map", "pam"};
    spec.config_json = R"({"auth": {"method": ["tacacs+", "radius", "ldap", "local"],
        "user": {"admin": {"2fa": {"enable": true}}},
        "tacacs+": {"service": "ppp", "server": [{"hostname": "10.0.0.5", "secret": "a]b c"}]},
        "radius": {"nas_id": "rtr", "server": [{"hostname": "fd00::1", "secret": "r"}]},
        "ldap": {"group_attribute": "memberOf", "server": [{"hostname": "ldap.example.net"}]}}})";
    spec.after = pam_check::setup() +
                 "t() { " PAMTESTER
                 " \"$@\" >/dev/null 2>&1; echo \"$1 $?\"; }\n"
                 "PAM_PROBE_FAIL=pam_tacplus.so,pam_radius_auth.so t sshd admin authenticate\n"
                 "PAM_PROBE_FAIL=pam_token_decrypt.so t httpd admin authenticate\n"
                 "t other admin authenticate\n"
                 "echo ---\n"
                 "cat $PAM_PROBE_LOG\n";
    auto r = nsrun::run(spec);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.after,
              "sshd 0\n"
              "httpd 1\n"
              "other 1\n"
              "---\n"
              "sshd auth pam_google_authenticator.so "
              "secret=/etc/config/2fa/${USER}.conf|nullok|user=root|debug|\n"
              // The bracketed secret arrives whole, blank and bracket included.
              "sshd auth pam_tacplus.so debug|try_first_pass|login=pap|prompt=Password:_|"
              "server=10.0.0.5:49|secret=a]b c|\n"
              "sshd auth pam_radius_auth.so localifdown|client_id=rtr|"
              "conf=/var/run/radius.conf|\n"
              "sshd auth pam_ldap.so groupname=memberOf|config=/var/run/ldap.conf|\n"
              // Under the strict control a failed token ends the stack.
              "httpd auth pam_token_decrypt.so \n");
}
#endif

}  // namespace
