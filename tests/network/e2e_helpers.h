// Shared pieces of the network generator's end-to-end tests.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "nsrun.h"
#include "uci_check.h"

namespace nettest {

inline const std::string network_file = "/var/run/uci/network";

// Expected file text written readably: four leading blanks stand for the
// tab that starts every option line.
inline std::string uci_text(const std::string &text)
{
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.rfind("    ", 0) == 0)
            line = "\t" + line.substr(4);
        out += line;
        if (end == std::string::npos)
            break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

struct run_result {
    nsrun::Result r;
    std::string file;  // the network file, empty when absent
    bool has_file = false;
};

inline run_result map_network(const std::string &config,
                              std::vector<std::pair<std::string, std::string>> runtime = {},
                              std::vector<std::string> args = {}, nsrun::Spec extra = {})
{
    nsrun::Spec spec = std::move(extra);
    spec.args = {"map", "network"};
    spec.args.insert(spec.args.end(), args.begin(), args.end());
    spec.config_json = config;
    spec.runtime = std::move(runtime);
    spec.collect.push_back(network_file);
    spec.collect.push_back(network_file + ".new");
    run_result out;
    out.r = nsrun::run(spec);
    auto it = out.r.files.find(network_file);
    if (it != out.r.files.end()) {
        out.file = it->second;
        out.has_file = true;
    }
    return out;
}

// Runs the generator and checks the status, the whole file and that the
// file is valid UCI.
inline void expect_file(const std::string &config, const std::string &expected,
                        std::vector<std::pair<std::string, std::string>> runtime = {},
                        nsrun::Spec extra = {})
{
    run_result res = map_network(config, std::move(runtime), {}, std::move(extra));
    ASSERT_EQ(res.r.status, 0) << res.r.err;
    ASSERT_TRUE(res.has_file) << res.r.err;
    EXPECT_EQ(res.file, uci_text(expected));
    EXPECT_EQ(uci::parse(res.file).error, "");
}

}  // namespace nettest
