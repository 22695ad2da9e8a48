#include "openvpn_file.h"

#include <string>
#include <vector>

#include "anvil.h"
#include "mapper.h"

namespace proto {

namespace {

// The daemon's own idea of a blank (isspace in the C locale, and the end).
bool blank(unsigned char c)
{
    return c == 0 || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string path_of(config_node *cfg, const char *key)
{
    unique_text base(config_path(cfg));
    std::string path = base ? base.get() : "";
    if (key && *key)
        path += (path.empty() ? "" : ".") + std::string(key);
    return path.empty() ? "(no configuration)" : path;
}

// Base64 text; "=" only as the padding at its end.
bool base64_line(std::string_view line)
{
    size_t pad = line.find('=');
    if (pad != std::string_view::npos &&
        (line.size() - pad > 2 || line.find_first_not_of('=', pad) != std::string_view::npos))
        return false;
    std::string_view data = line.substr(0, pad);
    if (data.empty())
        return false;
    for (unsigned char c : data)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '/'))
            return false;
    return true;
}

// "-----BEGIN LABEL-----": the label, or empty when the line is no such
// boundary.  Labels are words of letters and digits joined by single blanks.
std::string boundary(std::string_view line, std::string_view word)
{
    std::string head = "-----" + std::string(word) + " ";
    if (!line.starts_with(head) || !line.ends_with("-----") || line.size() <= head.size() + 5)
        return {};
    std::string_view label = line.substr(head.size(), line.size() - head.size() - 5);
    if (label.front() == ' ' || label.back() == ' ' || label.find("  ") != std::string_view::npos)
        return {};
    for (unsigned char c : label)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == ' '))
            return {};
    return std::string(label);
}

// "Proc-Type: 4,ENCRYPTED" and the like, of an encrypted traditional key.
bool header_line(std::string_view line)
{
    size_t colon = line.find(": ");
    if (colon == 0 || colon == std::string_view::npos)
        return false;
    for (size_t i = 0; i < line.size(); i++) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        bool name =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (i < colon ? !name : (c < 0x20 || c > 0x7e || c == '<' || c == '>'))
            return false;
    }
    return true;
}

}  // namespace

ovpn_line &ovpn_line::fixed(std::string_view text)
{
    line_ += text;
    return *this;
}

ovpn_line &ovpn_line::number(int n)
{
    line_ += std::to_string(n);
    return *this;
}

void ovpn_line::refuse(config_node *cfg, const char *key, const char *why)
{
    if (why_)
        return;
    why_ = why;
    bad_node_ = cfg;
    bad_key_ = key ? key : "";
}

ovpn_line &ovpn_line::token(std::string_view value, config_node *cfg, const char *key)
{
    if (value.empty())
        refuse(cfg, key, "is empty");
    for (unsigned char c : value) {
        if (c <= 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '\\' || c == ',' || c == '#' ||
            c == ';') {
            refuse(cfg, key, "is not one word");
            break;
        }
    }
    line_ += value;
    return *this;
}

ovpn_line &ovpn_line::text(std::string_view value, config_node *cfg, const char *key)
{
    if (value.find_first_of("\n\r") != std::string_view::npos)
        refuse(cfg, key, "holds a line break");
    line_ += value;
    return *this;
}

bool ovpn_line::write(FILE *f, const std::string &file) const
{
    if (why_) {
        log_error("%s %s; its line in %s is left out", path_of(bad_node_, bad_key_.c_str()).c_str(),
                  why_, file.c_str());
        return false;
    }
    std::fwrite(line_.data(), 1, line_.size(), f);
    std::fputc('\n', f);
    return true;
}

std::string_view next_line(std::string_view &text)
{
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

bool pem_well_formed(std::string_view text)
{
    enum { outside, after_begin, headers, body } state = outside;
    std::string label;
    size_t blocks = 0, body_lines = 0;
    bool padded = false;
    while (!text.empty()) {
        std::string_view line = next_line(text);
        if (state == outside) {
            if (line.empty())
                continue;
            label = boundary(line, "BEGIN");
            if (label.empty())
                return false;
            state = after_begin;
            body_lines = 0;
            padded = false;
        } else if ((state == after_begin || state == headers) && header_line(line)) {
            state = headers;
        } else if (state == headers) {
            // Headers end with one empty line.
            if (!line.empty())
                return false;
            state = body;
        } else if (body_lines > 0 && boundary(line, "END") == label) {
            state = outside;
            blocks++;
        } else if (!padded && base64_line(line)) {
            state = body;
            body_lines++;
            padded = line.ends_with('=');
        } else {
            return false;
        }
    }
    return state == outside && blocks > 0;
}

namespace {

void write_block(FILE *f, const char *tag, std::string_view pem)
{
    std::fprintf(f, "<%s>\n", tag);
    if (!pem.empty())  // an unset value has no text, not even a pointer to pass
        std::fwrite(pem.data(), 1, pem.size(), f);
    std::fprintf(f, "\n</%s>\n", tag);
}

void refuse_block(const std::string &origin, const char *tag, const std::string &file)
{
    log_error("%s is not well-formed PEM; its <%s> block in %s is left out", origin.c_str(), tag,
              file.c_str());
}

}  // namespace

// An empty value gives an empty block, as it always has: it cannot end the
// block either, and the daemon names what is missing.
bool write_inline_pem(FILE *f, const char *tag, std::string_view pem, const std::string &origin,
                      const std::string &file)
{
    if (!pem.empty() && !pem_well_formed(pem)) {
        refuse_block(origin, tag, file);
        return false;
    }
    write_block(f, tag, pem);
    return true;
}

bool write_inline_pem(FILE *f, const char *tag, config_node *cfg, const char *key,
                      const std::string &file)
{
    std::string_view pem = read_text(cfg, key);
    if (!pem.empty() && !pem_well_formed(pem)) {
        refuse_block(path_of(cfg, key), tag, file);
        return false;
    }
    write_block(f, tag, pem);
    return true;
}

std::vector<std::string> ovpn_parameters(std::string_view line)
{
    enum { initial, bare, dquoted, squoted } state = initial;
    bool backslash = false;
    std::vector<std::string> params;
    std::string param;
    for (size_t i = 0; i <= line.size(); i++) {
        unsigned char c = i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
        if (!backslash && c == '\\' && state != squoted) {
            backslash = true;
            continue;
        }
        bool done = false;
        if (state == initial) {
            if (!blank(c)) {
                if (c == ';' || c == '#')
                    break;
                if (!backslash && c == '"')
                    state = dquoted;
                else if (!backslash && c == '\'')
                    state = squoted;
                else {
                    param += static_cast<char>(c);
                    state = bare;
                }
            }
        } else if (state == bare) {
            if (!backslash && blank(c))
                done = true;
            else
                param += static_cast<char>(c);
        } else if (state == dquoted) {
            if (!backslash && c == '"')
                done = true;
            else if (c)
                param += static_cast<char>(c);
        } else if (c == '\'') {
            done = true;
        } else if (c) {
            param += static_cast<char>(c);
        }
        backslash = false;
        if (done) {
            params.push_back(std::move(param));
            param.clear();
            state = initial;
        }
        if (!c)
            break;
    }
    // An unterminated quote: the daemon refuses the line, so it sets nothing.
    if (state == dquoted || state == squoted)
        return {};
    if (!params.empty() && params[0].size() >= 3 && params[0].starts_with("--"))
        params[0].erase(0, 2);
    return params;
}

}  // namespace proto
