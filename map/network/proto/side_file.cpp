#include "side_file.h"

#include "anvil.h"
#include "interface.h"
#include "uci.h"

namespace proto {

void write_string(FILE *out, const char *name, std::string_view value)
{
    uci_write_option_string(out, name, "%.*s", static_cast<int>(value.size()), value.data());
}

unique_file create_side_file(const std::string &path, bool secret)
{
    unique_file f(file_create(path.c_str(), secret ? FILE_PRIVATE : FILE_PUBLIC));
    if (!f)
        map_network_write_failed(path.c_str());
    return f;
}

bool finish_side_file(unique_file file, const std::string &path)
{
    if (file_finish(file.release(), 0))
        return true;
    map_network_write_failed(path.c_str());
    return false;
}

side_record &side_record::text(std::string_view fixed)
{
    line_ += fixed;
    return *this;
}

side_record &side_record::value(config_node *cfg, const char *key, std::string_view forbidden)
{
    const char *raw = config_get_string(cfg, key);
    std::string_view v = proto::text(raw);
    bool ok = text_is_one_line(raw) &&
              (forbidden.empty() || v.find_first_of(forbidden) == std::string_view::npos);
    if (!ok && fits_) {
        fits_ = false;
        bad_node_ = cfg;
        bad_key_ = key;
    }
    line_ += v;
    return *this;
}

bool side_record::check(const std::string &file) const
{
    if (fits_)
        return true;
    unique_text base(config_path(bad_node_));
    log_error("%s%s%s holds a line break or a field delimiter of %s; that line is left out",
              base ? base.get() : "", base && *base ? "." : "", bad_key_.c_str(), file.c_str());
    return false;
}

bool side_record::write(FILE *f, const std::string &file) const
{
    if (!check(file))
        return false;
    std::fwrite(line_.data(), 1, line_.size(), f);
    std::fputc('\n', f);
    return true;
}

std::string first_word(const char *output)
{
    if (!output || !*output)
        return {};
    std::string_view s(output);
    return std::string(s.substr(0, s.find(' ')));
}

std::string md5sum_file(const char *path)
{
    unique_text out(_process_capture(-1, -1, 1, 0, nullptr, "md5sum", path, nullptr));
    return first_word(out.get());
}

std::string md5sum_text(std::string_view input)
{
    std::string bytes(input);
    unique_text out(_process_capture(-1, -1, 1, 0, bytes.c_str(), "md5sum", nullptr));
    return first_word(out.get());
}

}  // namespace proto
