/* What may enter a copy and which files the store agrees to read: whatever
 * a set accepts must load again after the commit, and a file that is not a
 * regular file of sensible size is refused without hanging or running out
 * of memory. */
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixture.h"

namespace {

/* Runs body in a child process and gives its exit status, so that a hang
 * ends the child (alarm) instead of the test program. */
template <class F>
int in_child(F body, int seconds = 10)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(unsigned(seconds));
        int r = body();
        fflush(nullptr);
        _exit(r);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST_F(StoreTest, SetRefusesInvalidUtf8AndNamesNoValue)
{
    copy_ptr c = load_text(R"({"system": {"motto": "old"}})");
    ASSERT_TRUE(c);
    const char *bad[] = {
        "\xff",                 /* never a UTF-8 byte */
        "ab\x80",               /* continuation byte alone */
        "\xe2\x82",             /* sequence cut short */
        "\xc0\xaf",             /* overlong "/" */
        "\xe0\x80\xaf",         /* overlong "/" in three bytes */
        "\xf0\x80\x80\xaf",     /* overlong "/" in four bytes */
        "\xed\xa0\x80",         /* surrogate U+D800 */
        "\xed\xbf\xbf",         /* surrogate U+DFFF */
        "\xf4\x90\x80\x80",     /* above U+10FFFF */
        "\xf8\x88\x80\x80\x80", /* five-byte form */
    };
    for (const char *path : {"system.motto", "system.secret", "system.description"})
        for (const char *value : bad) {
            config_error_clear(c.get());
            testing::internal::CaptureStderr();
            EXPECT_EQ(config_set(c.get(), path, value), 0) << path;
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_TRUE(config_error_check(c.get()));
            EXPECT_NE(err.find(std::string(path) + ": invalid UTF-8 in a value"), std::string::npos)
                << err;
            EXPECT_EQ(err.find(value), std::string::npos) << "the value is never logged";
        }
    config_error_clear(c.get());
    EXPECT_EQ(text(config_json(c.get())), "{\n  \"system\": {\n    \"motto\": \"old\"\n  }\n}");
}

/* The edges of well-formed UTF-8 and the control characters the JSON text
 * escapes are accepted, committed, and read back unchanged. */
TEST_F(StoreTest, EveryAcceptedTextLoadsAgainAfterCommit)
{
    const std::string good[] = {
        "\xc3\xa9",         /* U+00E9 */
        "\xed\x9f\xbf",     /* U+D7FF, just below the surrogates */
        "\xee\x80\x80",     /* U+E000, just above them */
        "\xef\xbf\xbf",     /* U+FFFF */
        "\xf4\x8f\xbf\xbf", /* U+10FFFF, the last code point */
        "a\x01\x1f\x7f\tb", /* control characters */
        "q\"\\/",           /* what JSON escapes */
    };
    copy_ptr c = load();
    ASSERT_TRUE(c);
    for (size_t i = 0; i < std::size(good); i++) {
        ASSERT_EQ(config_set(c.get(), "system.motto", good[i].c_str()), 1) << i;
        ASSERT_EQ(config_set(c.get(), "system.description", (good[i] + "\n" + good[i]).c_str()), 1);
        ASSERT_EQ(config_set(c.get(), "system.secret", good[i].c_str()), 1) << i;
        ASSERT_EQ(config_commit(c.get()), 1) << i;
        copy_ptr again = load();
        ASSERT_TRUE(again) << i;
        EXPECT_EQ(config_get_string(again.get(), "system.secret"), good[i]);
        EXPECT_EQ(config_get_string(again.get(), "system.description"), good[i] + "\n" + good[i]);
        EXPECT_EQ(text(config_json(again.get())), text(config_json(c.get())));
    }
}

/* A schema file is read by the same rules, and its names and values must
 * be text that a configuration file can hold. */
TEST_F(StoreTest, SchemaFileNamesMustBeReadableText)
{
    std::string err;
    put(schema, "{\"system\": {\"type\": \"object\", \"members\": {\"b\xc0\xaf\": \"string\"}}}");
    EXPECT_FALSE(load_text("{}", &err));
    EXPECT_NE(err.find("system: bad member name"), std::string::npos) << err;

    put(schema, "{\"mode\": {\"type\": \"enum\", \"values\": [\"a\", \"\xed\xa0\x80\"]}}");
    EXPECT_FALSE(load_text("{}", &err));
    EXPECT_NE(err.find("mode: bad value of \"values\""), std::string::npos) << err;

    std::string deep = "{\"a\": ";
    for (int i = 0; i < 100000; i++)
        deep += "{\"type\": \"array\", \"items\": ";
    put(schema, deep + "\"string\"" + std::string(100000, '}') + "}");
    EXPECT_FALSE(load_text("{}", &err));
    EXPECT_NE(err.find("nested too deeply"), std::string::npos) << err;
    put(schema, std::string(1000000, '[') + std::string(1000000, ']'));
    EXPECT_FALSE(load_text("{}", &err));
    EXPECT_NE(err.find("a fragment is a JSON object"), std::string::npos) << err;
}

TEST_F(StoreTest, OnlyRegularFilesAreRead)
{
    /* Each opener that reads a file, with that file replaced. */
    std::string fifo = dir + "/fifo", zero = dir + "/zero", missing = dir + "/missing.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    struct {
        std::string config, schema_file, baked, named;
    } cases[] = {
        {fifo, schema, "", fifo + ": cannot read: not a regular file"},
        {zero, schema, "", zero + ": cannot read: not a regular file"},
        {missing, schema, fifo, fifo + ": cannot read: not a regular file"},
        {missing, schema, zero, zero + ": cannot read: not a regular file"},
        {file, fifo, "", fifo + ": cannot read schema: not a regular file"},
        {file, zero, "", zero + ": cannot read schema: not a regular file"},
        {file, "/dev/null", "", "/dev/null: cannot read schema: not a regular file"},
    };
    put(file, "{}");
    for (auto &t : cases) {
        std::string err_file = dir + "/err";
        int status = in_child([&] {
            freopen(err_file.c_str(), "w", stderr);
            config_file_record r{};
            r.config_file = t.config.c_str();
            r.schema_file = t.schema_file.c_str();
            r.baked_file = t.baked.c_str();
            return config_load_file(&r) ? 1 : 0;
        });
        EXPECT_EQ(status, 0) << t.named << " (142: hung)";
        std::string err = slurp(err_file);
        EXPECT_NE(err.find(t.named), std::string::npos) << err;
    }
    /* A symlink to a regular file is fine. */
    std::string link = dir + "/link.json";
    put(file, R"({"system": {"retries": 4}})");
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    rec.config_file = link.c_str();
    copy_ptr c = load();
    ASSERT_TRUE(c);
    EXPECT_EQ(config_get_int(c.get(), "system.retries"), 4);
}

TEST_F(StoreTest, SizeLimitIsExact)
{
    /* Padding with blanks keeps the document valid at any size. */
    const std::string doc = R"({"system": {"retries": 4}})";
    put(file, doc + std::string(CONFIG_FILE_SIZE_MAX - doc.size(), ' '));
    copy_ptr c = load();
    ASSERT_TRUE(c) << "a file of exactly the limit is read";
    EXPECT_EQ(config_get_int(c.get(), "system.retries"), 4);

    std::string err;
    EXPECT_FALSE(load_text(doc + std::string(CONFIG_FILE_SIZE_MAX - doc.size() + 1, ' '), &err));
    EXPECT_NE(err.find(file + ": cannot read: larger than 4 MiB, the store's limit"),
              std::string::npos)
        << err;

    put(schema, test_schema + std::string(CONFIG_FILE_SIZE_MAX, ' '));
    EXPECT_FALSE(load_text(doc, &err));
    EXPECT_NE(err.find(schema + ": cannot read schema: larger than 4 MiB"), std::string::npos)
        << err;
}

TEST_F(StoreTest, RunningOutOfMemoryIsARefusedLoad)
{
#ifdef NO_ADDRESS_LIMIT
    GTEST_SKIP() << NO_ADDRESS_LIMIT;
#endif
    /* Two million array elements within the size limit: far more nodes than
     * the address space left to the child allows. */
    std::string doc = "{\"system\": {\"servers\": [0";
    doc.reserve(CONFIG_FILE_SIZE_MAX);
    while (doc.size() < CONFIG_FILE_SIZE_MAX - 8)
        doc += ",0";
    put(file, doc + "]}}");
    std::string err_file = dir + "/err";
    int status = in_child(
        [&] {
            freopen(err_file.c_str(), "w", stderr);
            long pages = 0;
            FILE *statm = fopen("/proc/self/statm", "r");
            if (!statm || fscanf(statm, "%ld", &pages) != 1)
                return 3;
            fclose(statm);
            rlim_t now = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
            struct rlimit lim = {now + (24u << 20), now + (24u << 20)};
            if (setrlimit(RLIMIT_AS, &lim) != 0)
                return 4;
            return config_load_file(&rec) ? 1 : 0;
        },
        60);
    EXPECT_EQ(status, 0) << "null, not an exception or a crash";
    std::string err = slurp(err_file);
    EXPECT_NE(err.find(file + ": cannot load: out of memory"), std::string::npos) << err;
}
