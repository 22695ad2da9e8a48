#include "anvil.h"

#include <cerrno>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string str(const unique_text &t) { return t ? t.get() : "<null>"; }

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/anvil_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::string cmd = "rm -rf " + path;
        (void)!system(cmd.c_str());
    }
    std::string operator/(const char *name) const { return path + "/" + name; }
};

TEST(Escape, OnePassReplacementNotRescanned)
{
    // "'" becomes "'\''", which itself holds "'" and "\": neither may be
    // replaced again.
    const escape_pair table[] = {{"\\", "\\\\"}, {"'", "'\\''"}, {nullptr, nullptr}};
    unique_text t(escape("a'b\\c", table));
    EXPECT_EQ(str(t), "a'\\''b\\\\c");
}

TEST(Escape, EarlierRowWinsAndNullText)
{
    const escape_pair table[] = {{"ab", "X"}, {"a", "Y"}, {"", "never"}, {nullptr, nullptr}};
    EXPECT_EQ(str(unique_text(escape("aab b", table))), "YX b");
    EXPECT_EQ(escape(nullptr, table), nullptr);
    EXPECT_EQ(str(unique_text(escape("", table))), "");
}

TEST(StringList, NullListIsEmpty)
{
    EXPECT_EQ(sl_len(nullptr), 0u);
    EXPECT_EQ(sl_get(nullptr, 0), nullptr);
    EXPECT_EQ(sl_find(nullptr, "x"), 0);
    EXPECT_EQ(str(unique_text(sl_join(nullptr, ","))), "");
    sl_free(nullptr);

    unique_sl l(sl_append(nullptr, "a"));
    ASSERT_TRUE(l);
    EXPECT_EQ(sl_len(l.get()), 1u);
}

TEST(StringList, AppendCopiesFindJoin)
{
    std::string owned = "first";
    sl_list *l = sl_new();
    EXPECT_EQ(str(unique_text(sl_join(l, ","))), "");
    l = sl_append(l, owned.c_str());
    owned = "changed";
    l = sl_append_printf(l, "%s-%d", "n", 5);
    unique_sl list(l);
    EXPECT_STREQ(sl_get(l, 0), "first");
    EXPECT_STREQ(sl_get(l, 1), "n-5");
    EXPECT_EQ(sl_get(l, 2), nullptr);
    EXPECT_EQ(sl_find(l, "n-5"), 1);
    EXPECT_EQ(sl_find(l, "n"), 0);
    EXPECT_EQ(str(unique_text(sl_join(l, ", "))), "first, n-5");
}

TEST(StringList, Split)
{
    EXPECT_EQ(sl_split(nullptr, ','), nullptr);
    unique_sl empty(sl_split("", ','));
    ASSERT_EQ(sl_len(empty.get()), 1u);
    EXPECT_STREQ(sl_get(empty.get(), 0), "");
    unique_sl l(sl_split(",a,,b,", ','));
    ASSERT_EQ(sl_len(l.get()), 5u);
    EXPECT_STREQ(sl_get(l.get(), 1), "a");
    EXPECT_STREQ(sl_get(l.get(), 2), "");
    EXPECT_STREQ(sl_get(l.get(), 4), "");
}

TEST(Ip4Network, Parse)
{
    unsigned addr = 0;
    int prefix = 0;
    ASSERT_TRUE(xip4_parse_network("192.168.1.0/24", &addr, &prefix));
    EXPECT_EQ(prefix, 24);
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&addr);
    EXPECT_EQ(b[0], 192);
    EXPECT_EQ(b[3], 0);
    ASSERT_TRUE(xip4_parse_network("10.0.0.1", &addr, &prefix));
    EXPECT_EQ(prefix, 32);
    ASSERT_TRUE(xip4_parse_network("0.0.0.0/0", &addr, &prefix));
    EXPECT_EQ(prefix, 0);
    EXPECT_EQ(addr, 0u);

    addr = 7;
    prefix = 7;
    for (const char *bad :
         {"", "10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "10.0.0.256/8", "10.0.0.0/8x", "10.0.0.0/-1",
          "a.b.c.d/8", "10.0.0.0 /8", "10.0.0.0/008"}) {
        EXPECT_FALSE(xip4_parse_network(bad, &addr, &prefix)) << bad;
    }
    EXPECT_EQ(addr, 7u);
    EXPECT_EQ(prefix, 7);
}

TEST(Files, WriteReadPrintf)
{
    TempDir d;
    std::string p = d / "f";
    EXPECT_EQ(file_exists(p.c_str()), 0);
    EXPECT_EQ(file_read(p.c_str()), nullptr);
    ASSERT_EQ(file_write(p.c_str(), "one\ntwo\n"), 1);
    EXPECT_EQ(str(unique_text(file_read(p.c_str()))), "one\ntwo\n");
    ASSERT_EQ(file_printf(p.c_str(), "%d-%s", 3, "x"), 1);
    EXPECT_EQ(str(unique_text(file_read(p.c_str()))), "3-x");
    EXPECT_EQ(file_write((d / "missing/f").c_str(), "x"), 0);
}

TEST(Files, ReplaceIsAtomicAndReportsFailure)
{
    TempDir d;
    std::string tmp = d / "f.new", fin = d / "f";
    ASSERT_EQ(file_write(fin.c_str(), "old"), 1);
    // Hold the old file open: a rename leaves that view intact, an in-place
    // rewrite would not.
    int fd = open(fin.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(file_write(tmp.c_str(), "new"), 1);
    EXPECT_EQ(file_replace(1, tmp.c_str(), fin.c_str(), 0), 1);
    EXPECT_EQ(str(unique_text(file_read(fin.c_str()))), "new");
    EXPECT_EQ(file_exists(tmp.c_str()), 0);
    char buf[8] = {};
    EXPECT_EQ(read(fd, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "old");
    close(fd);

    // A missing temporary file fails and leaves the final one alone; so does
    // a destination in a directory that does not exist.
    EXPECT_EQ(file_replace(1, (d / "none").c_str(), fin.c_str(), 0), 0);
    ASSERT_EQ(file_write(tmp.c_str(), "x"), 1);
    EXPECT_EQ(file_replace(0, tmp.c_str(), (d / "no/dir").c_str(), 0), 0);
    EXPECT_EQ(file_exists(tmp.c_str()), 0);
    EXPECT_EQ(str(unique_text(file_read(fin.c_str()))), "new");
}

TEST(Files, RemoveTreeTakesLinksNotTheirTargets)
{
    TempDir d;
    std::string tree = d / "tree", outside = d / "outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    ASSERT_EQ(file_write((outside + "/keep").c_str(), "k"), 1);
    ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tree + "/sub").c_str(), 0700), 0);
    ASSERT_EQ(file_write((tree + "/sub/f").c_str(), "f"), 1);
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/to-dir").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/keep").c_str(), (tree + "/sub/to-file").c_str()), 0);
    EXPECT_EQ(file_remove_tree(tree.c_str()), 1);
    EXPECT_EQ(file_exists(tree.c_str()), 0);
    EXPECT_EQ(str(unique_text(file_read((outside + "/keep").c_str()))), "k");

    // Nothing there is nothing left; a link given itself goes, its target stays.
    EXPECT_EQ(file_remove_tree(tree.c_str()), 1);
    std::string link = d / "link";
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    EXPECT_EQ(file_remove_tree(link.c_str()), 1);
    EXPECT_EQ(file_exists((outside + "/keep").c_str()), 1);
    EXPECT_EQ(file_remove_tree(nullptr), 0);
}

mode_t mode_of(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

TEST(Files, CreateSetsModeWhateverTheUmaskAndAnOlderFile)
{
    TempDir d;
    std::string pub = d / "pub", priv = d / "priv";
    mode_t old = umask(0);
    // Older files left wide open by someone else.
    ASSERT_EQ(file_write(priv.c_str(), "old secret"), 1);
    chmod(priv.c_str(), 0666);
    FILE *f = file_create(pub.c_str(), FILE_PUBLIC);
    ASSERT_TRUE(f);
    EXPECT_EQ(mode_of(pub), 0644u);
    EXPECT_EQ(file_finish(f, 1), 1);
    f = file_create(priv.c_str(), FILE_PRIVATE);
    ASSERT_TRUE(f);
    // The mode is right before the first byte is written.
    EXPECT_EQ(mode_of(priv), 0600u);
    fputs("new", f);
    EXPECT_EQ(file_finish(f, 0), 1);
    EXPECT_EQ(str(unique_text(file_read(priv.c_str()))), "new");
    ASSERT_EQ(file_write_data(pub.c_str(), "a\0b", 3, FILE_PRIVATE), 1);
    EXPECT_EQ(mode_of(pub), 0600u);
    umask(077);
    ASSERT_EQ(file_write(pub.c_str(), "x"), 1);
    EXPECT_EQ(mode_of(pub), 0644u);
    umask(old);
    EXPECT_EQ(file_create((d / "no/dir").c_str(), 0), nullptr);
}

TEST(Files, KeepDefersTruncation)
{
    TempDir d;
    std::string p = d / "f";
    ASSERT_EQ(file_write(p.c_str(), "previous text"), 1);
    FILE *f = file_create(p.c_str(), FILE_KEEP);
    ASSERT_TRUE(f);
    EXPECT_EQ(str(unique_text(file_read(p.c_str()))), "previous text");
    ASSERT_EQ(file_truncate(f), 1);
    fputs("new", f);
    ASSERT_EQ(file_finish(f, 0), 1);
    EXPECT_EQ(str(unique_text(file_read(p.c_str()))), "new");
}

TEST(Files, FinishReportsAFullDevice)
{
    // /dev/full takes the open and fails every write: the failure must show
    // at the finish, not be lost in the stream's buffer.
    FILE *f = fopen("/dev/full", "w");
    ASSERT_TRUE(f);
    fputs("lost", f);
    errno = 0;
    EXPECT_EQ(file_finish(f, 1), 0);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(file_finish(nullptr, 0), 0);
}

TEST(Files, DescriptorWriteAll)
{
    // More than a pipe holds arrives whole while the reader drains it.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::string sent(1 << 20, 'x');
    for (size_t i = 0; i < sent.size(); i += 4096)
        sent[i] = static_cast<char>('a' + i / 4096 % 26);
    std::string got;
    std::thread reader([&] {
        char buf[8192];
        ssize_t n;
        while ((n = read(p[0], buf, sizeof buf)) > 0)
            got.append(buf, static_cast<size_t>(n));
    });
    EXPECT_EQ(fd_write_all(p[1], sent.data(), sent.size()), 1);
    close(p[1]);
    reader.join();
    close(p[0]);
    EXPECT_TRUE(got == sent) << got.size() << " bytes arrived";

    // A failed write reports why.
    unique_fd full(open("/dev/full", O_WRONLY));
    ASSERT_TRUE(full);
    errno = 0;
    EXPECT_EQ(fd_write_all(full.get(), "x", 1), 0);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(fd_write_all(full.get(), "", 0), 1);
    EXPECT_EQ(fd_write_all(-1, "x", 1), 0);
    EXPECT_EQ(errno, EBADF);
}

TEST(Files, CreateRefusesWhatIsNotARegularFile)
{
    // Neither blocks on a FIFO without a reader nor touches a device's mode.
    TempDir d;
    std::string fifo = d / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0640), 0);
    errno = 0;
    EXPECT_EQ(file_create(fifo.c_str(), FILE_PUBLIC), nullptr);
    EXPECT_EQ(mode_of(fifo), 0640u);
    mode_t before = mode_of("/dev/null");
    EXPECT_EQ(file_write("/dev/null", "x"), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mode_of("/dev/null"), before);
    EXPECT_EQ(file_create(d.path.c_str(), FILE_PUBLIC), nullptr);
}

TEST(Text, OneLine)
{
    EXPECT_EQ(text_is_one_line(nullptr), 1);
    EXPECT_EQ(text_is_one_line(""), 1);
    EXPECT_EQ(text_is_one_line("a b\t\"'"), 1);
    EXPECT_EQ(text_is_one_line("a\nb"), 0);
    EXPECT_EQ(text_is_one_line("a\r"), 0);
}

TEST(Files, DescriptorOwner)
{
    unique_fd a(open("/dev/null", O_RDONLY));
    ASSERT_TRUE(a);
    int n = a.get();
    unique_fd b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), n);
    b.reset();
    EXPECT_EQ(fcntl(n, F_GETFD), -1);
}

TEST(Process, CaptureSearchesPathAndFeedsInput)
{
    unique_text out(_process_capture(-1, -1, 1, 0, nullptr, "echo", "a b", "c", nullptr));
    EXPECT_EQ(str(out), "a b c\n");
    // Arguments are never interpreted by a shell.
    unique_text lit(_process_capture(-1, -1, 1, 0, nullptr, "printf", "%s", "$(id);x", nullptr));
    EXPECT_EQ(str(lit), "$(id);x");
    unique_text cat(_process_capture(-1, -1, 1, -1, "piped\ntext", "cat", nullptr));
    EXPECT_EQ(str(cat), "piped\ntext");
    // No input: the child reads an empty stdin instead of hanging.
    unique_text none(_process_capture(-1, -1, 1, 0, nullptr, "cat", nullptr));
    EXPECT_EQ(str(none), "");
}

TEST(Process, CaptureLargeInputAndOutput)
{
    // Larger than any pipe buffer in both directions at once.
    std::string big(1 << 20, 'x');
    unique_text out(_process_capture(-1, -1, 1, 0, big.c_str(), "cat", nullptr));
    ASSERT_TRUE(out);
    EXPECT_EQ(std::string(out.get()).size(), big.size());
    // A child that ignores its input must not make the caller fail.
    unique_text early(_process_capture(-1, -1, 1, 0, big.c_str(), "true", nullptr));
    EXPECT_EQ(str(early), "");
}

TEST(Process, CaptureFailsWhenProgramCannotRun)
{
    EXPECT_EQ(_process_capture(-1, -1, 1, 0, nullptr, "no-such-program-anvil", nullptr), nullptr);
    EXPECT_EQ(_process_capture(-1, -1, 1, 0, nullptr, "/nonexistent/prog", nullptr), nullptr);
    EXPECT_EQ(_process_capture(-1, -1, 1, 0, nullptr, "/etc", nullptr), nullptr);
    // Killed by a signal: the output is not trusted.
    EXPECT_EQ(_process_capture(-1, -1, 1, 0, nullptr, "sh", "-c", "echo x; kill -9 $$", nullptr),
              nullptr);
    // A program that ran and failed still gives its output.
    unique_text f(_process_capture(-1, -1, 1, 0, nullptr, "sh", "-c", "echo out; exit 3", nullptr));
    EXPECT_EQ(str(f), "out\n");
}

TEST(Process, ExecAndWaitStatus)
{
    int h = _process_exec_fd(-1, -1, -1, -1, "sh", "-c", "exit 7", nullptr);
    ASSERT_GT(h, 0);
    EXPECT_EQ(process_wait(h), 7);
    h = _process_exec_fd(-1, -1, -1, -1, "true", nullptr);
    EXPECT_EQ(process_wait(h), 0);
    h = _process_exec_fd(-1, -1, -1, -1, "sh", "-c", "kill -TERM $$", nullptr);
    EXPECT_EQ(process_wait(h), 128 + 15);
    EXPECT_EQ(_process_exec_fd(-1, -1, -1, -1, "no-such-program-anvil", nullptr), -1);
    EXPECT_EQ(process_wait(-1), -1);
}

TEST(Process, ExecRedirectsDescriptors)
{
    TempDir d;
    std::string p = d / "out";
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    int h = _process_exec_fd(-1, fd, fd, -1, "sh", "-c", "echo out; echo err >&2", nullptr);
    EXPECT_EQ(process_wait(h), 0);
    close(fd);
    EXPECT_EQ(str(unique_text(file_read(p.c_str()))), "out\nerr\n");
}

TEST(Log, StderrCopyExpandsErrno)
{
    log_init("anvil-test", 0, 1);
    testing::internal::CaptureStderr();
    errno = ENOENT;
    log_error("open %s: %m", "x");
    log_error("done\n");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "anvil-test: open x: No such file or directory\nanvil-test: done\n");
    log_init("anvil-test", 0, 0);
    testing::internal::CaptureStderr();
    log_error("quiet");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Text, Xasprintf)
{
    char *s = nullptr;
    EXPECT_EQ(xasprintf(&s, "%s=%d", "k", 42), 4);
    unique_text owner(s);
    EXPECT_EQ(str(owner), "k=42");
}

}  // namespace
