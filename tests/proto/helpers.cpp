#include <cstdio>

#include "proto_test.h"

namespace proto_test {

std::string quote(const std::string &text) { return nsrun::json_string(text); }

nsrun::Result map_network(nsrun::Spec spec)
{
    spec.args = {"map", "network"};
    spec.collect.push_back(network_file);
    return nsrun::run(spec);
}

std::string section(const std::string &network, const std::string &name)
{
    std::string head = "\nconfig interface " + name + "\n";
    size_t start = network.find(head);
    if (start == std::string::npos)
        return "";
    size_t end = network.find("\nconfig ", start + head.size() - 1);
    return network.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string md5(const std::string &text)
{
    char name[] = "/tmp/proto_md5_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0)
        return "";
    FILE *f = fdopen(fd, "w");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    std::string command = std::string("md5sum ") + name;
    FILE *p = popen(command.c_str(), "r");
    char buf[33] = {};
    size_t n = p ? std::fread(buf, 1, 32, p) : 0;
    if (p)
        pclose(p);
    std::remove(name);
    return std::string(buf, n);
}

}  // namespace proto_test
