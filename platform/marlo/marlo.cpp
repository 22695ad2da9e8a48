// Command permissions for users other than root, from a policy file:
//
//   # comment
//   user NAME WORD...
//   group NAME WORD...
//
// A line grants the user (or every member of the group) the command words
// listed; "*" grants every word.  The command word is argv[1].  Anything the
// file does not grant is refused, and so is everything when the file is
// missing, unreadable or writable by anyone but root.
#include "marlo.h"

#include "policy.h"

#include <cstdio>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace marlo {

namespace {

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        size_t start = line.find_first_not_of(" \t\r\n", i);
        if (start == std::string_view::npos)
            break;
        size_t end = line.find_first_of(" \t\r\n", start);
        if (end == std::string_view::npos)
            end = line.size();
        out.push_back(line.substr(start, end - start));
        i = end;
    }
    return out;
}

// Names of every group uid belongs to: its primary group and the groups that
// list it as a member.
std::vector<std::string> groups_of(const passwd &pw)
{
    std::vector<std::string> names;
    int n = 32;
    std::vector<gid_t> gids;
    for (;;) {
        gids.resize(static_cast<size_t>(n));
        int want = n;
        if (getgrouplist(pw.pw_name, pw.pw_gid, gids.data(), &want) >= 0) {
            gids.resize(static_cast<size_t>(want));
            break;
        }
        if (want <= n)
            return names;
        n = want;
    }
    for (gid_t g : gids)
        if (const group *gr = getgrgid(g))
            names.emplace_back(gr->gr_name);
    return names;
}

}  // namespace

bool allowed(const char *path, uid_t uid, char *const argv[])
{
    if (uid == 0)
        return true;
    FILE *f = fopen(path, "re");
    if (!f)
        return false;
    // A policy that others could have edited grants nothing.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || st.st_uid != 0 || (st.st_mode & S_IWOTH)) {
        fclose(f);
        return false;
    }
    const passwd *pwp = getpwuid(uid);
    std::string user = pwp ? pwp->pw_name : "";
    std::vector<std::string> groups;
    if (pwp)
        groups = groups_of(*pwp);
    std::string_view word = argv && argv[0] && argv[1] ? argv[1] : "";

    bool ok = false;
    char *line = nullptr;
    size_t cap = 0;
    while (!ok && getline(&line, &cap, f) >= 0) {
        std::string_view l(line);
        l = l.substr(0, l.find('#'));
        auto w = words(l);
        if (w.size() < 3)
            continue;
        bool who = false;
        if (w[0] == "user")
            who = !user.empty() && w[1] == user;
        else if (w[0] == "group")
            for (const auto &g : groups)
                who = who || w[1] == g;
        if (!who)
            continue;
        for (size_t i = 2; i < w.size() && !ok; ++i)
            ok = w[i] == "*" || (!word.empty() && w[i] == word);
    }
    free(line);
    fclose(f);
    return ok;
}

}  // namespace marlo

extern "C" int marlo_command_allowed(char *const argv[])
{
    try {
        return marlo::allowed(marlo::policy_path, getuid(), argv) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
