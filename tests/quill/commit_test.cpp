#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "fixture.h"

namespace {

size_t files_in(const std::string &dir)
{
    size_t n = 0;
    for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator(dir))
        n++;
    return n;
}

std::string joined_keys(config_t *c)
{
    sl_list *keys = config_keys(config_object(c, "network.interface"));
    char *j = sl_join(keys, " ");
    std::string s = j;
    free(j);
    sl_free(keys);
    return s;
}

}  // namespace

TEST_F(StoreTest, CommitWritesOnlyWhatDiffersInStoreOrder)
{
    copy_ptr c = update();
    ASSERT_TRUE(c);
    config_set(c.get(), "system.motto", "hi");
    config_set(c.get(), "system.retries", "3"); /* the default: not written */
    config_set(c.get(), "network.interface.wan.proto", "dhcp");
    config_set(c.get(), "network.interface.lan.mtu", "1400");
    config_set(c.get(), "system.timeout", "90");
    config_set(c.get(), "system.enabled", "0");
    config_set(c.get(), "system.ratio", "2");
    ASSERT_EQ(config_commit(c.get()), 1);
    EXPECT_EQ(slurp(file),
              "{\n"
              "  \"system\": {\n"
              "    \"motto\": \"hi\",\n"
              "    \"enabled\": false,\n"
              "    \"ratio\": 2\n"
              "  },\n"
              "  \"network\": {\n"
              "    \"interface\": {\n"
              "      \"wan\": {},\n"
              "      \"lan\": {\n"
              "        \"mtu\": 1400\n"
              "      }\n"
              "    }\n"
              "  }\n"
              "}\n");
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); /* the configuration holds secrets */
    /* A replaced file keeps its owner and mode. */
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(file.c_str(), 1, 2), 0);
    }
    config_set(c.get(), "system.motto", "owned");
    ASSERT_EQ(config_commit(c.get()), 1);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    if (geteuid() == 0) {
        EXPECT_EQ(st.st_uid, 1u);
        EXPECT_EQ(st.st_gid, 2u);
    }
    /* The copy stays usable after a commit, and reading it back gives the same. */
    config_set(c.get(), "system.motto", "again");
    EXPECT_EQ(config_commit(c.get()), 1);
    c.reset();
    copy_ptr back = load();
    EXPECT_STREQ(config_get_string(back.get(), "system.motto"), "again");
    EXPECT_EQ(config_get_bool(back.get(), "system.enabled"), 0);
    EXPECT_EQ(files_in(dir), 3u); /* schema, config, lock: nothing left over */
}

TEST_F(StoreTest, RefusedCommitLeavesFileUntouched)
{
    const std::string original = "{\"system\": {\"motto\": \"keep\"}}";
    put(file, original);
    copy_ptr c = load();
    config_set(c.get(), "network.interface.lan.peer", "/network/interface/missing");
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_commit(c.get()), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("network.interface.lan.peer: reference to a missing member"),
              std::string::npos)
        << err;
    EXPECT_EQ(slurp(file), original);
    /* Forced, it goes through. */
    EXPECT_EQ(config_commit_force(c.get()), 1);
    EXPECT_NE(slurp(file).find("missing"), std::string::npos);
}

TEST_F(StoreTest, FailedWriteLeavesFileByteForByte)
{
    const std::string original = "{\"system\": {\"motto\": \"keep\"}}\n";
    put(file, original);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        /* A file-size limit makes the write of the new file fail half way,
         * whoever runs the test (root ignores permissions). */
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {16, 16};
        setrlimit(RLIMIT_FSIZE, &rl);
        copy_ptr c(config_update_file(&rec));
        config_set(c.get(), "system.description", std::string(4096, 'x').c_str());
        _exit(c && config_commit(c.get()) == 0 ? 0 : 1);
    }
    int status;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(slurp(file), original);
    EXPECT_EQ(files_in(dir), 3u); /* no temporary file left behind */
}

TEST_F(StoreTest, KillDuringCommitNeverLeavesPartialFile)
{
    put(file, "{}");
    for (int round = 0; round < 15; round++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (unsigned n = 0;; n++) {
                copy_ptr c(config_update_file(&rec));
                std::string big(20000 + n % 7, char('a' + n % 26));
                config_set(c.get(), "system.description", big.c_str());
                config_commit(c.get());
            }
        }
        usleep(2000 + (round * 1733) % 9000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        /* Whatever the moment, the file is a whole configuration. */
        testing::internal::CaptureStderr();
        copy_ptr c = load();
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(c) << "round " << round << ": " << err;
        size_t len = strlen(config_get_string(c.get(), "system.description"));
        EXPECT_TRUE(len == 0 || (len >= 20000 && len < 20007)) << len;
    }
    /* The next commit clears the temporary files that killed ones left. */
    copy_ptr c = update();
    config_set(c.get(), "system.motto", "done");
    ASSERT_EQ(config_commit(c.get()), 1);
    EXPECT_EQ(files_in(dir), 3u);
}

TEST_F(StoreTest, UnlockedCopyRefusedWhenFileChanged)
{
    put(file, "{}");
    copy_ptr stale = load();
    copy_ptr writer = update();
    config_set(writer.get(), "system.motto", "first");
    ASSERT_EQ(config_commit(writer.get()), 1);
    writer.reset();
    config_set(stale.get(), "system.motto", "second");
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_commit(stale.get()), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("changed since it was loaded"),
              std::string::npos);
    copy_ptr now = load();
    EXPECT_STREQ(config_get_string(now.get(), "system.motto"), "first");
}

TEST_F(StoreTest, ConcurrentUpdatersAllLand)
{
    put(file, "{\"system\": {\"retries\": 0}}");
    const int workers = 4, rounds = 10;
    std::vector<pid_t> pids;
    for (int w = 0; w < workers; w++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int r = 0; r < rounds; r++) {
                copy_ptr c(config_update_file(&rec));
                if (!c)
                    _exit(1);
                /* A read-modify-write; without the lock increments get lost. */
                int64_t n = config_get_int(c.get(), "system.ratio");
                usleep(200);
                config_set(c.get(), "system.ratio", std::to_string(n + 1).c_str());
                std::string key = "w" + std::to_string(w);
                if (!config_has_key(config_object(c.get(), "network.interface"), key.c_str()))
                    config_new_key(c.get(), "network.interface", key.c_str());
                if (config_commit(c.get()) != 1)
                    _exit(1);
            }
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    copy_ptr c = load();
    ASSERT_TRUE(c);
    EXPECT_EQ(config_get_int(c.get(), "system.ratio"), workers * rounds);
    EXPECT_EQ(config_count(c.get(), "network.interface"), workers);
}

TEST_F(StoreTest, CancelDropsChangesAndKeepsCopyUsable)
{
    put(file, "{\"system\": {\"motto\": \"old\"}, \"network\": {\"interface\": {\"lan\": {}}}}");
    copy_ptr c = update();
    config_set(c.get(), "system.motto", "new");
    config_delete(c.get(), "network.interface.lan");
    config_new_key(c.get(), "network.interface", "wan");
    config_cancel(c.get());
    EXPECT_STREQ(config_get_string(c.get(), "system.motto"), "old");
    EXPECT_EQ(joined_keys(c.get()), "lan");
    config_set(c.get(), "system.retries", "4");
    ASSERT_EQ(config_commit(c.get()), 1);
    config_set(c.get(), "system.retries", "5");
    config_cancel(c.get()); /* back to what was committed, not to the load */
    EXPECT_EQ(config_get_int(c.get(), "system.retries"), 4);
    c.reset();
    copy_ptr back = load();
    EXPECT_STREQ(config_get_string(back.get(), "system.motto"), "old");
    EXPECT_EQ(config_get_int(back.get(), "system.retries"), 4);
}

TEST_F(StoreTest, CreateAndTryCreate)
{
    std::string other = dir + "/other.json";
    copy_ptr made(config_create(other.c_str()));
    ASSERT_TRUE(made);
    EXPECT_STREQ(config_get_string(made.get(), "system.hostname"), ""); /* built-in schema */
    ASSERT_EQ(config_commit(made.get()), 1);
    EXPECT_EQ(slurp(other), "{}\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_try_create(other.c_str()), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(other + ": already exists"),
              std::string::npos);
    std::string fresh = dir + "/fresh.json";
    copy_ptr t(config_try_create(fresh.c_str()));
    EXPECT_TRUE(t);
}

TEST_F(StoreTest, BakedFileStandsInForMissingConfiguration)
{
    std::string baked = dir + "/baked.json";
    put(baked, "{\"system\": {\"motto\": \"factory\"}}");
    rec.baked_file = baked.c_str();
    copy_ptr c = load();
    ASSERT_TRUE(c);
    EXPECT_STREQ(config_get_string(c.get(), "system.motto"), "factory");
    put(file, "{}");
    copy_ptr d = load();
    EXPECT_STREQ(config_get_string(d.get(), "system.motto"), "");
}
