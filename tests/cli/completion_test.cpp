// The bash completion of config and config-client: bash sources the
// installed script, the completion function runs with COMP_WORDS and
// COMP_CWORD set as bash sets them, and COMPREPLY is what would be offered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nsrun.h"

namespace {

const std::string stored =
    R"({"auth": {"ldap": {"bind_dn": "cn=reader", "bind_password": "s3cret-pw"}},)"
    R"( "network": {"namespace": {"blue": {}, "black": {}}}})";

std::string config_dir()
{
    std::string path = nsrun::config_binary();
    return path.substr(0, path.rfind('/'));
}

// Each case is the words of a command line, the last being the one under
// the cursor; the result holds one "[candidates]" line per case.
nsrun::Result complete(const std::string &function,
                       const std::vector<std::vector<std::string>> &cases,
                       const std::string &environment = "")
{
    std::string script = environment + "source '" COMPLETION_SCRIPT "'\n";
    for (const auto &words : cases) {
        script += "COMP_WORDS=(";
        for (const auto &w : words)
            script += " '" + w + "'";
        script += " ); COMP_CWORD=" + std::to_string(words.size() - 1) + "; COMPREPLY=(); " +
                  function + "; echo \"[${COMPREPLY[*]}]\"\n";
    }
    nsrun::Spec spec;
    spec.program = "/bin/bash";
    spec.args = {"--norc", "-c", script};
    spec.config_json = stored;
    spec.path_prepend = {config_dir()};
    return nsrun::run(spec);
}

TEST(Completion, ConfigPathsValuesAndCommands)
{
    auto r = complete("_config", {
                                     {"config", "d"},
                                     {"config", "get", "a"},
                                     {"config", "get", "auth.ldap.bi"},
                                     {"config", "dump", "network.namespace.b"},
                                     {"config", "set", "network.namespace.new."},
                                     {"config", "set", "auth.ldap.tls", ""},
                                     {"config", "set", "auth.ldap.tls", "st"},
                                     {"config", "set", "network.veth.new.namespace", ""},
                                     {"config", "set", "auth.ldap.bind_password", ""},
                                     {"config", "set", "auth.ldap.bind_dn", ""},
                                     {"config", "get", "auth.ldap.timeout", ""},
                                     {"config", "map", "n"},
                                 });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "[dump dump-public]\n"
              "[auth.]\n"
              "[auth.ldap.bind_dn auth.ldap.bind_password]\n"
              "[network.namespace.blue. network.namespace.black.]\n"
              "[network.namespace.new.enable]\n"
              "[off on start_tls]\n"
              "[start_tls]\n"
              "[blue black]\n"
              "[]\n"
              "[]\n"
              "[]\n"
              "[network]\n");
    EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
    EXPECT_EQ(r.out.find("cn=reader"), std::string::npos);
}

TEST(Completion, ClientCommandsAndPathsInsideASession)
{
    // Inside a session CONFIG_SOCKET is set; the helper still answers from
    // the stored configuration instead of refusing as a client command.
    auto r = complete("_config_client",
                      {
                          {"config-client", "pro"},
                          {"config-client", "de"},
                          {"config-client", "describe", "auth.ldap.t"},
                          {"config-client", "option-exists", "auth.ldap.tls", "o"},
                          {"config-client", "commit", ""},
                          {"config-client", "changes", ""},
                      },
                      "export CONFIG_SOCKET=9\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "[problems]\n"
              "[delete describe]\n"
              "[auth.ldap.tls auth.ldap.timeout]\n"
              "[off on]\n"
              "[-f]\n"
              "[]\n");
}

}  // namespace
