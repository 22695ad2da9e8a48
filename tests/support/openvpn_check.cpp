#include "openvpn_check.h"

#include <sstream>

namespace ovpn_check {

std::string after_commands(const std::vector<std::string> &paths)
{
    std::string sh =
        "d=/run/ovpncheck; mkdir -p $d; printf '#!/bin/sh\\n' > $d/stub; chmod 755 $d/stub;"
        " for c in ca.crt server.crt server.key dh2048.pem; do : > $d/$c; chmod 600 $d/$c; done;";
    for (const std::string &path : paths) {
        sh +=
            " echo '== " + path +
            "'; sed -e 's#/lib/netifd/openvpn-up#'$d/stub'#'"
            " -e 's#/lib/netifd/openvpn-down#'$d/stub'#' -e 's#/bin/client_updown#'$d/stub'#'"
            " -e 's#/bin/openvpn_password#'$d/stub'#' -e 's#/etc/ssl/certs/#'$d/'#' '" +
            path +
            "' > $d/check.conf && unshare -n timeout 10 openvpn --dev ovpncheck --config $d/check.conf 2>&1"
            " | grep -m1 -E 'Options error|OpenVPN 2[.]' | sed -e 's/.*OpenVPN 2[.].*/accepted/';";
    }
    return sh;
}

std::map<std::string, std::string> verdicts(const std::string &after)
{
    std::map<std::string, std::string> out;
    std::istringstream in(after);
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0) {
            current = line.substr(3);
            out[current];
        } else if (!current.empty() && out[current].empty()) {
            out[current] = line;
        }
    }
    return out;
}

parsed parse(const std::string &text)
{
    parsed p;
    std::istringstream in(text);
    std::string line;
    block *open = nullptr;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t\r\v\f");
        std::string body = start == std::string::npos ? "" : line.substr(start);
        if (open) {
            if (body.rfind("</" + open->tag + ">", 0) == 0)
                open = nullptr;
            else
                open->content += line + "\n";
            continue;
        }
        if (body.empty() || body[0] == '#' || body[0] == ';')
            continue;
        if (body[0] == '<' && body.size() > 2 && body[1] != '/' && body.back() == '>') {
            p.blocks.push_back({body.substr(1, body.size() - 2), ""});
            open = &p.blocks.back();
            continue;
        }
        size_t end = body.find_first_of(" \t\r\v\f");
        directive d{body.substr(0, end), end == std::string::npos ? "" : body.substr(end + 1)};
        if (d.name.size() >= 3 && d.name.rfind("--", 0) == 0)
            d.name.erase(0, 2);
        p.directives.push_back(d);
    }
    if (open)
        p.error = "unclosed <" + open->tag + ">";
    return p;
}

std::vector<std::string> names(const parsed &p)
{
    std::vector<std::string> out;
    for (const directive &d : p.directives)
        out.push_back(d.name);
    return out;
}

}  // namespace ovpn_check
