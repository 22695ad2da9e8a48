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
#include "ipsec_writer.h"
#include "tallo.h"

namespace ipsec {
namespace {

bool link_to(const std::string &target, const std::string &link)
{
    return symlink(target.c_str(), link.c_str()) == 0;
}

bool link_if_exists(const std::string &target, const std::string &link)
{
    return file_exists(target.c_str()) && link_to(target, link);
}

// Derives the public key from the private one.  The passphrase reaches
// openssl through a pipe on its standard input: on the command line every
// user of the device could read it.
int derive_public_key(const std::string &key_path, const std::string &pub_path,
                      std::string_view passphrase)
{
    if (passphrase.empty()) {
        int child = _process_exec_fd(-1, -1, -1, -1, "openssl", "rsa", "-in", key_path.c_str(),
                                     "-pubout", "-out", pub_path.c_str(), nullptr);
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
    int child = _process_exec_fd(fds[0], -1, -1, -1, "openssl", "rsa", "-in", key_path.c_str(),
                                 "-pubout", "-out", pub_path.c_str(), "-passin", "stdin", nullptr);
    close(fds[0]);
    return process_wait(child);
}

// Writes every certificate of a PEM chain to its own numbered CA file.
// Whatever follows the last certificate is not a certificate.
bool split_ca_chain(tunnel &t, std::string_view chain)
{
    constexpr std::string_view marker = "-----END CERTIFICATE-----";
    size_t pos = 0;
    int index = 0;
    while (pos < chain.size()) {
        size_t found = chain.find(marker, pos);
        if (found == std::string_view::npos)
            break;
        size_t end = found + marker.size();
        std::string path = format("%s/cacerts/%s.%d.cacert", new_tree, t.name, index++);
        if (!write_tree_file(t, path, chain.substr(pos, end - pos), FILE_PUBLIC))
            return false;
        pos = end;
    }
    return true;
}

bool scep_ca(const tunnel &t, const std::string &client)
{
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

// The entries of the secrets file and the tunnel's credential files; false
// skips the tunnel (or, with t.write_failed, fails the run).
bool secrets_and_credentials(tunnel &t, const text_file &out)
{
    config_node *node = t.node;
    part left{t.secrets_left(), t.secrets_left_from()};
    part right{t.secrets_right(), t.secrets_right_from()};

    if (config_get_bool(node, "xauth_client.enable") &&
        !secrets_entry(
            out, {{get_string(node, "xauth_client.username"), t.path + ".xauth_client.username"}},
            "XAUTH " + secrets_text(get_string(node, "xauth_client.password"))))
        return false;

    std::string type(get_string(node, "auth.type"));
    if (type == "secret")
        return secrets_entry(out, {left, right},
                             "PSK " + secrets_base64(get_string(node, "auth.secret")));
    if (type == "asymmetric-secrets")
        return secrets_entry(out, {left},
                             "PSK " + secrets_base64(get_string(node, "auth.remote_secret"))) &&
               secrets_entry(out, {right},
                             "PSK " + secrets_base64(get_string(node, "auth.local_secret")));

    bool available = true;
    std::string client(get_string(node, "auth.scep_client"));
    // The client name becomes a directory below /etc/config/scep_client and
    // a key of network.scep_client: only a plain key may climb into neither.
    if (type == "scep" && !plain_name(client)) {
        log_error("tunnel %s: %s.auth.scep_client is not a plain key. Skipping tunnel", t.name,
                  t.path.c_str());
        return false;
    }
    std::string key_path = format("%s/private/%s.rsa", new_tree, t.name);
    if (type == "velmo") {
        if (!link_if_exists("/etc/config/id_rsa", key_path)) {
            log_error("Velmo private key not available for tunnel %s", t.name);
            available = false;
        }
    } else if (type == "scep") {
        if (!link_if_exists(format("/etc/config/scep_client/%s/scep_key.pem", client.c_str()),
                            key_path)) {
            log_error("Private key not available for tunnel %s through SCEP", t.name);
            available = false;
        }
    } else if (!write_tree_file(t, key_path, get_string(node, "auth.private_key"), FILE_PRIVATE)) {
        return false;
    }

    std::string_view passphrase = get_string(node, "auth.private_key_passphrase");
    std::string rest = format("RSA \"%s.rsa\" ", t.name);
    if (!passphrase.empty())
        rest += secrets_text(passphrase);
    if (!secrets_entry(out, {left, right}, rest))
        return false;

    if (type == "rsasig") {
        std::string pub_path = format("%s/certs/%s.pub", new_tree, t.name);
        std::string_view public_key = get_string(node, "auth.public_key");
        // openssl keeps the mode of a file that exists, so the file is made
        // first with the mode it is to have.
        if (!write_tree_file(t, pub_path, public_key, FILE_PUBLIC))
            return false;
        if (public_key.empty()) {
            int status = derive_public_key(key_path, pub_path, passphrase);
            if (status != 0) {
                log_error("public key generation failed for tunnel '%s' (exit %d)", t.name, status);
                available = false;
            }
        }
        if (!write_tree_file(t, format("%s/certs/%s.peerpub", new_tree, t.name),
                             get_string(node, "auth.peer_public_key"), FILE_PUBLIC))
            return false;
    }

    if (type == "x509" || type == "velmo") {
        std::string cert_path = format("%s/certs/%s.cert", new_tree, t.name);
        std::string peer_cert_path = format("%s/certs/%s.peercert", new_tree, t.name);
        if (type == "velmo") {
            if (!link_if_exists("/etc/config/unique.crt", cert_path)) {
                log_error("Velmo-signed certificate not available for tunnel %s", t.name);
                available = false;
            }
        } else if (!write_tree_file(t, cert_path, get_string(node, "auth.cert"), FILE_PUBLIC)) {
            return false;
        }
        config_node *crls = config_array(node, "auth.crls");
        for (config_node *c = config_array_first(crls); c; c = config_array_next(c))
            if (!write_tree_file(t, format("%s/crls/%s%d.crl", new_tree, t.name, config_node_id(c)),
                                 get_string(c, "crl"), FILE_PUBLIC))
                return false;
        if (type == "velmo") {
            link_to("/etc/ssl/velmo-ipsec.crt", peer_cert_path);
        } else if (get_string(node, "auth.peer_verify") == "cert") {
            if (!write_tree_file(t, peer_cert_path, get_string(node, "auth.peer_cert"),
                                 FILE_PUBLIC))
                return false;
        } else if (!split_ca_chain(t, get_string(node, "auth.peer_ca"))) {
            return false;
        }
    }

    if (type == "scep") {
        std::string cert = format("/etc/config/scep_client/%s/scep_cert.pem", client.c_str());
        if (!link_if_exists(cert, format("%s/certs/%s.cert", new_tree, t.name))) {
            log_error("Certificate not available for tunnel %s through SCEP", t.name);
            available = false;
        }
        if (!scep_ca(t, client))
            available = false;
        if (config_get_bool(t.root,
                            format("network.scep_client.%s.crl.enable", client.c_str()).c_str())) {
            std::string crl = format("/etc/config/scep_client/%s/scep_crl.pem", client.c_str());
            if (!link_if_exists(crl, format("%s/crls/%s.crl", new_tree, t.name))) {
                log_error("CRL not available for tunnel %s through SCEP", t.name);
                return false;
            }
        }
    }

    return available;
}

}  // namespace

bool write_secrets(tunnel &t)
{
    std::string path = format("%s/secrets/%s.secret", new_tree, t.name);
    unique_file file(open_tree_file(t, path, FILE_PRIVATE, "secrets"));
    if (!file)
        return false;
    text_file out{file.get(), path.c_str(), t.name};
    bool go_on = secrets_and_credentials(t, out);
    // The run has failed already: one message is enough.
    if (t.write_failed)
        return false;
    return finish_tree_file(t, file.release(), path) && go_on;
}

bool settle_right_ca(tunnel &t)
{
    if (get_string(t.node, "auth.type") != "x509" || get_string(t.node, "auth.peer_verify") != "ca")
        return true;
    // A configured name may stand in the file's quotes: it had to, while
    // the name was written bare.
    std::string_view dn = get_string(t.node, "auth.peer_ca_dn");
    if (!dn.empty()) {
        t.right_ca = conf_unquote(dn);
        t.right_ca_from = t.path + ".auth.peer_ca_dn";
        t.has_right_ca = true;
        return true;
    }
    std::string first = format("%s/cacerts/%s.0.cacert", new_tree, t.name);
    unique_text out(_process_capture(-1, -1, 1, -1, nullptr, "ipsec", "pki", "--dn", "--in",
                                     first.c_str(), nullptr));
    std::string_view text = out ? std::string_view(out.get()) : std::string_view();
    text = text.substr(0, text.find_first_of("\r\n"));
    if (text.empty()) {
        log_error(
            "failed to extract Distinguished Name from first certificate in CA chain for tunnel '%s'",
            t.name);
        return false;
    }
    // pki prints the name in the file's quotes.
    t.right_ca = conf_unquote(text);
    t.right_ca_from = first;
    t.has_right_ca = true;
    return true;
}

}  // namespace ipsec

extern "C" void iterate_files_in_directory(const char *pattern,
                                           int (*callback)(const char *, void *), void *user_data)
{
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

extern "C" int ipsec_link_scep_ca(const char *path, void *context)
{
    auto *ctx = static_cast<ScepCaLinkContext *>(context);
    std::string link =
        ipsec::format("%s/cacerts/%s.%d.cacert", ipsec::new_tree, ctx->tunnel, ctx->count);
    if (symlink(path, link.c_str()) != 0)
        ctx->failed = 1;
    ctx->count++;
    return ctx->failed ? 0 : 1;
}
