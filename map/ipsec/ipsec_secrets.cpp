// The tunnel's secrets file and its key, certificate, CA and CRL files.
// Credentials come from the configuration (written into the new tree), from
// the device identity files (linked) or from the SCEP client's enrolment
// directory (linked).
#include <fcntl.h>
#include <glob.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "anvil.h"
#include "ipsec.h"
#include "ipsec_internal.h"
#include "tallo.h"

namespace ipsec {
namespace {

bool plain_key(std::string_view name) {
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            return false;
    return true;
}

bool link_to(const std::string &target, const std::string &link) {
    return symlink(target.c_str(), link.c_str()) == 0;
}

bool link_if_exists(const std::string &target, const std::string &link) {
    return file_exists(target.c_str()) && link_to(target, link);
}

std::string base64(std::string_view text) {
    unique_text encoded(config_base64_encode(text.data(), text.size()));
    return encoded ? encoded.get() : "";
}

// Derives the public key from the private one.  The passphrase reaches
// openssl through a pipe on its standard input: on the command line every
// user of the device could read it.
int derive_public_key(const std::string &key_path, const std::string &pub_path, std::string_view passphrase) {
    if (passphrase.empty()) {
        int child = _process_exec_fd(-1, -1, -1, -1, "openssl", "rsa", "-in", key_path.c_str(), "-pubout", "-out",
                                     pub_path.c_str(), nullptr);
        return process_wait(child);
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    // Written before the child starts: the passphrase is far smaller than a
    // pipe's buffer, and a non-blocking write refuses anything larger
    // rather than hang.
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::string line(passphrase);
    line += '\n';
    bool written = write(fds[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fds[1]);
    if (!written) {
        close(fds[0]);
        return -1;
    }
    int child = _process_exec_fd(fds[0], -1, -1, -1, "openssl", "rsa", "-in", key_path.c_str(), "-pubout", "-out",
                                 pub_path.c_str(), "-passin", "stdin", nullptr);
    close(fds[0]);
    return process_wait(child);
}

// Writes every certificate of a PEM chain to its own numbered CA file.
// Whatever follows the last certificate is not a certificate.
void split_ca_chain(const tunnel &t, std::string_view chain) {
    constexpr std::string_view marker = "-----END CERTIFICATE-----";
    size_t pos = 0;
    int index = 0;
    while (pos < chain.size()) {
        size_t found = chain.find(marker, pos);
        if (found == std::string_view::npos)
            break;
        size_t end = found + marker.size();
        std::string path = format("%s/cacerts/%s.%d.cacert", new_tree, t.name, index++);
        file_printf(path.c_str(), "%.*s", static_cast<int>(end - pos), chain.data() + pos);
        pos = end;
    }
}

bool scep_ca(const tunnel &t, const std::string &client) {
    std::string ca = format("/etc/config/scep_client/%s/scep_peer_ca.pem", client.c_str());
    if (file_exists(ca.c_str())) {
        if (link_to(ca, format("%s/cacerts/%s.cacert", new_tree, t.name)))
            return true;
    } else {
        // An enrolment that returned a chain leaves one file per certificate.
        ScepCaLinkContext ctx{0, t.name, 0};
        std::string pattern = ca + "-*";
        iterate_files_in_directory(pattern.c_str(), ipsec_link_scep_ca, &ctx);
        if (!ctx.failed && ctx.count > 0)
            return true;
    }
    log_error("CA not available for tunnel %s through SCEP", t.name);
    return false;
}

}  // namespace

bool write_secrets(tunnel &t) {
    config_node *node = t.node;
    std::string path = format("%s/secrets/%s.secret", new_tree, t.name);
    unique_file file(open_private(path.c_str()));
    if (!file) {
        log_error("error opening tunnel secrets file %s: %m", path.c_str());
        return false;
    }
    FILE *f = file.get();
    const char *left = t.secrets_left().c_str();
    const char *right = t.secrets_right().c_str();

    if (config_get_bool(node, "xauth_client.enable"))
        fprintf(f, "%s : XAUTH \"%s\"\n", config_get_string(node, "xauth_client.username"),
                config_get_string(node, "xauth_client.password"));

    std::string type(get_string(node, "auth.type"));
    if (type == "secret") {
        fprintf(f, "%s %s : PSK 0s%s\n", left, right, base64(get_string(node, "auth.secret")).c_str());
        return true;
    }
    if (type == "asymmetric-secrets") {
        fprintf(f, "%s : PSK 0s%s\n", left, base64(get_string(node, "auth.remote_secret")).c_str());
        fprintf(f, "%s : PSK 0s%s\n", right, base64(get_string(node, "auth.local_secret")).c_str());
        return true;
    }

    bool available = true;
    std::string client(get_string(node, "auth.scep_client"));
    // The client name becomes a directory below /etc/config/scep_client and
    // a key of network.scep_client: only a plain key may climb into neither.
    if (type == "scep" && !plain_key(client)) {
        log_error("tunnel %s: invalid SCEP client name '%s'", t.name, client.c_str());
        return false;
    }
    std::string key_path = format("%s/private/%s.rsa", new_tree, t.name);
    if (type == "velmo") {
        if (!link_if_exists("/etc/config/id_rsa", key_path)) {
            log_error("Velmo private key not available for tunnel %s", t.name);
            available = false;
        }
    } else if (type == "scep") {
        if (!link_if_exists(format("/etc/config/scep_client/%s/scep_key.pem", client.c_str()), key_path)) {
            log_error("Private key not available for tunnel %s through SCEP", t.name);
            available = false;
        }
    } else {
        write_private(key_path.c_str(), get_string(node, "auth.private_key"));
    }

    std::string_view passphrase = get_string(node, "auth.private_key_passphrase");
    bool quoted = !passphrase.empty();
    fprintf(f, "%s %s : RSA \"%s.rsa\" %s%.*s%s\n", left, right, t.name, quoted ? "\"" : "",
            static_cast<int>(passphrase.size()), passphrase.data(), quoted ? "\"" : "");

    if (type == "rsasig") {
        std::string pub_path = format("%s/certs/%s.pub", new_tree, t.name);
        std::string_view public_key = get_string(node, "auth.public_key");
        if (!public_key.empty()) {
            file_write(pub_path.c_str(), config_get_string(node, "auth.public_key"));
        } else {
            int status = derive_public_key(key_path, pub_path, passphrase);
            if (status != 0) {
                log_error("public key generation failed for tunnel '%s' (exit %d)", t.name, status);
                available = false;
            }
        }
        file_write(format("%s/certs/%s.peerpub", new_tree, t.name).c_str(),
                   config_get_string(node, "auth.peer_public_key"));
    }

    if (type == "x509" || type == "velmo") {
        std::string cert_path = format("%s/certs/%s.cert", new_tree, t.name);
        std::string peer_cert_path = format("%s/certs/%s.peercert", new_tree, t.name);
        if (type == "velmo") {
            if (!link_if_exists("/etc/config/unique.crt", cert_path)) {
                log_error("Velmo-signed certificate not available for tunnel %s", t.name);
                available = false;
            }
        } else {
            file_write(cert_path.c_str(), config_get_string(node, "auth.cert"));
        }
        config_node *crls = config_array(node, "auth.crls");
        for (config_node *c = config_array_first(crls); c; c = config_array_next(c))
            file_write(format("%s/crls/%s%d.crl", new_tree, t.name, config_node_id(c)).c_str(),
                       config_get_string(c, "crl"));
        if (type == "velmo")
            link_to("/etc/ssl/velmo-ipsec.crt", peer_cert_path);
        else if (get_string(node, "auth.peer_verify") == "cert")
            file_write(peer_cert_path.c_str(), config_get_string(node, "auth.peer_cert"));
        else
            split_ca_chain(t, get_string(node, "auth.peer_ca"));
    }

    if (type == "scep") {
        std::string cert = format("/etc/config/scep_client/%s/scep_cert.pem", client.c_str());
        if (!link_if_exists(cert, format("%s/certs/%s.cert", new_tree, t.name))) {
            log_error("Certificate not available for tunnel %s through SCEP", t.name);
            available = false;
        }
        if (!scep_ca(t, client))
            available = false;
        if (config_get_bool(t.root, format("network.scep_client.%s.crl.enable", client.c_str()).c_str())) {
            std::string crl = format("/etc/config/scep_client/%s/scep_crl.pem", client.c_str());
            if (!link_if_exists(crl, format("%s/crls/%s.crl", new_tree, t.name))) {
                log_error("CRL not available for tunnel %s through SCEP", t.name);
                return false;
            }
        }
    }

    return available;
}

bool settle_right_ca(tunnel &t) {
    if (get_string(t.node, "auth.type") != "x509" || get_string(t.node, "auth.peer_verify") != "ca")
        return true;
    std::string_view dn = get_string(t.node, "auth.peer_ca_dn");
    if (!dn.empty()) {
        t.right_ca = dn;
        t.has_right_ca = true;
        return true;
    }
    std::string first = format("%s/cacerts/%s.0.cacert", new_tree, t.name);
    unique_text out(_process_capture(-1, -1, 1, -1, nullptr, "ipsec", "pki", "--dn", "--in", first.c_str(), nullptr));
    std::string_view text = out ? std::string_view(out.get()) : std::string_view();
    text = text.substr(0, text.find_first_of("\r\n"));
    if (text.empty()) {
        log_error("failed to extract Distinguished Name from first certificate in CA chain for tunnel '%s'", t.name);
        return false;
    }
    t.right_ca = text;
    t.has_right_ca = true;
    return true;
}

}  // namespace ipsec

extern "C" void iterate_files_in_directory(const char *pattern, int (*callback)(const char *, void *),
                                           void *user_data) {
    if (!pattern)
        return;
    glob_t matches{};
    if (glob(pattern, 0, nullptr, &matches) == 0) {
        for (size_t i = 0; i < matches.gl_pathc; ++i)
            if (!callback(matches.gl_pathv[i], user_data))
                break;
    }
    globfree(&matches);
}

extern "C" int ipsec_link_scep_ca(const char *path, void *context) {
    auto *ctx = static_cast<ScepCaLinkContext *>(context);
    std::string link = ipsec::format("%s/cacerts/%s.%d.cacert", ipsec::new_tree, ctx->tunnel, ctx->count);
    if (symlink(path, link.c_str()) != 0)
        ctx->failed = 1;
    ctx->count++;
    return ctx->failed ? 0 : 1;
}
