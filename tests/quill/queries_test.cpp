// The store's session queries: the difference against the kept copy, the
// schema facts of a path, and completion candidates.
#include <string>
#include <vector>

#include "fixture.h"

namespace {

std::vector<std::string> words(sl_list *list)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < sl_len(list); i++)
        out.push_back(sl_get(list, i));
    sl_free(list);
    return out;
}

using strings = std::vector<std::string>;

TEST_F(StoreTest, ChangesListEveryLeafInTheStoresOrder)
{
    copy_ptr c = load_text(R"({"system": {"motto": "old", "retries": 5, "secret": "s3cret",
        "servers": ["192.0.2.1", "192.0.2.2", "192.0.2.3"]},
        "network": {"interface": {"lan": {"mtu": 1400}, "wan": {}, "dmz": {"proto": "static"}}}})");
    ASSERT_TRUE(c);
    EXPECT_EQ(config_changes(c.get()), nullptr) << "nothing changed yet";

    config_set(c.get(), "system.retries", "5");   // the value it had
    config_set(c.get(), "system.timeout", "90");  // the default, written another way
    EXPECT_EQ(config_changes(c.get()), nullptr);

    config_set(c.get(), "system.description", "two\nlines");
    config_delete(c.get(), "system.motto");
    config_set(c.get(), "system.secret", "n3w");
    config_delete(c.get(), "system.servers.0");
    config_delete(c.get(), "network.interface.wan");
    config_set(c.get(), "network.interface.lan.mtu", "1500");  // back to the default
    config_new_key(c.get(), "network.interface", "guest");
    config_set(c.get(), "network.interface.guest.address", "192.0.2.9");
    config_set(c.get(), "network.interface.guest.peer", "lan");
    config_set(c.get(), "network.routes.0.via", "dmz");
    EXPECT_EQ(text(config_changes(c.get())),
              // Members keep the order of the file; a new one comes last and
              // a removed one stands where it was.
              "-system.motto\n"
              "system.secret=***\n"
              "system.servers.0=192.0.2.2\n"
              "system.servers.1=192.0.2.3\n"
              "-system.servers.2\n"
              "system.description=two\\nlines\n"
              "-network.interface.lan.mtu\n"
              "-network.interface.wan\n"
              "+network.interface.guest\n"
              "network.interface.guest.address=192.0.2.9\n"
              "network.interface.guest.peer=/network/interface/lan\n"
              "+network.routes.0\n"
              "network.routes.0.via=/network/interface/dmz");

    config_cancel(c.get());
    EXPECT_EQ(config_changes(c.get()), nullptr) << "cancel";
    config_set(c.get(), "system.retries", "6");
    EXPECT_EQ(text(config_changes(c.get())), "system.retries=6");
    ASSERT_EQ(config_commit(c.get()), 1);
    EXPECT_EQ(config_changes(c.get()), nullptr) << "a commit is the new starting point";
}

TEST_F(StoreTest, ChangesBelowAPrivateNodeAreMasked)
{
    put(schema, R"({"vault": {"type": "object", "private": true, "members": {
        "keys": {"type": "collection", "member": "string"}}}})");
    copy_ptr c = load_text(R"({"vault": {"keys": {"a": "one"}}})");
    ASSERT_TRUE(c);
    config_set(c.get(), "vault.keys.a", "two");
    config_set(c.get(), "vault.keys.b", "three");
    EXPECT_EQ(text(config_changes(c.get())), "vault.keys.a=***\n+vault.keys.b\nvault.keys.b=***");
}

TEST_F(StoreTest, ChangesOfALargeCollectionInAnotherOrder)
{
    // Over the size where members are indexed: pairing by key still holds
    // when the order differs.
    std::string file_text = R"({"network": {"interface": {)";
    for (int i = 0; i < 40; i++)
        file_text += (i ? "," : "") + std::string("\"if") + std::to_string(i) + "\": {}";
    copy_ptr c = load_text(file_text + "}}}");
    ASSERT_TRUE(c);
    config_delete(c.get(), "network.interface.if0");
    config_new_key(c.get(), "network.interface", "if0");
    config_set(c.get(), "network.interface.if39.mtu", "9000");
    EXPECT_EQ(text(config_changes(c.get())), "network.interface.if39.mtu=9000");
}

TEST_F(StoreTest, ValidationReasonsHoldNoPrivateValue)
{
    put(schema, R"({"a": {"type": "object", "members": {
        "items": {"type": "collection", "member": {"type": "object", "members": {}}}}},
        "b": {"type": "object", "members": {
        "hidden": {"type": "reference", "target": "a.items", "private": true},
        "shown": {"type": "reference", "target": "a.items"}}}})");
    copy_ptr c = load_text(R"({"b": {"hidden": "/a/items/s3cret", "shown": "/a/items/gone"}})");
    ASSERT_TRUE(c);
    std::vector<std::string> seen;
    auto report = [](void *ctx, const char *path, const char *message) {
        static_cast<std::vector<std::string> *>(ctx)->push_back(std::string(path) + ": " + message);
    };
    EXPECT_EQ(config_validate(c.get(), report, &seen), 0);
    EXPECT_EQ(seen, (strings{"b.hidden: reference to a missing member of a.items",
                             "b.shown: reference to a missing member /a/items/gone"}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_commit(c.get()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("s3cret"), std::string::npos);
}

TEST_F(StoreTest, DescribeGivesTheSchemasFacts)
{
    copy_ptr c = load();
    ASSERT_TRUE(c);
    EXPECT_EQ(text(config_describe(c.get(), "system.retries")),
              "type=integer\nprivate=false\ndefault=3\nmin=0\nmax=10");
    EXPECT_EQ(text(config_describe(c.get(), "system.mode")),
              "type=enum\nprivate=false\ndefault=auto\nvalues=auto manual");
    EXPECT_EQ(text(config_describe(c.get(), "system.secret")), "type=string\nprivate=true");
    EXPECT_EQ(text(config_describe(c.get(), "system.ratio")),
              "type=number\nprivate=false\ndefault=0.5");
    // Members that do not exist are described by their collection.
    EXPECT_EQ(text(config_describe(c.get(), "network.interface.nothere.peer")),
              "type=reference\nprivate=false\ntarget=network.interface");
    EXPECT_EQ(text(config_describe(c.get(), "network.interface")),
              "type=collection\nprivate=false\nitem=object");
    EXPECT_EQ(text(config_describe(c.get(), "network.interface.x")),
              "type=object\nprivate=false\nmembers=proto address mtu peer");
    EXPECT_EQ(text(config_describe(c.get(), "system.servers.3")), "type=ip\nprivate=false");
    EXPECT_EQ(text(config_describe(c.get(), "")),
              "type=object\nprivate=false\nmembers=system network");

    EXPECT_EQ(config_error_check(c.get()), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_describe(c.get(), "system.nothere"), nullptr);
    EXPECT_EQ(config_describe(c.get(), "system.servers.x"), nullptr);
    EXPECT_EQ(config_describe(c.get(), "network.interface.bad/key"), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("system.nothere: unknown path"),
              std::string::npos);
    EXPECT_EQ(config_error_check(c.get()), 1);
}

TEST_F(StoreTest, DescribeMasksAPrivateDefault)
{
    put(schema, R"({"vault": {"type": "object", "private": true, "members": {
        "pin": {"type": "string", "default": "1234"}}}})");
    copy_ptr c = load();
    ASSERT_TRUE(c);
    EXPECT_EQ(text(config_describe(c.get(), "vault.pin")),
              "type=string\nprivate=true\ndefault=***");
}

TEST_F(StoreTest, CompletionOffersPathsAndAllowedValuesOnly)
{
    copy_ptr c = load_text(R"({"system": {"secret": "s3cret", "servers": ["192.0.2.1"]},
        "network": {"interface": {"lan": {}, "lab": {}, "wan": {}}}})");
    ASSERT_TRUE(c);
    EXPECT_EQ(words(config_complete(c.get(), "", nullptr)), (strings{"system.", "network."}));
    EXPECT_EQ(words(config_complete(c.get(), "sys", nullptr)), (strings{"system."}));
    EXPECT_EQ(words(config_complete(c.get(), "system.s", nullptr)),
              (strings{"system.secret", "system.servers."}));
    EXPECT_EQ(words(config_complete(c.get(), "system.servers.", nullptr)),
              (strings{"system.servers.0"}));
    EXPECT_EQ(words(config_complete(c.get(), "network.interface.la", nullptr)),
              (strings{"network.interface.lan.", "network.interface.lab."}));
    EXPECT_EQ(words(config_complete(c.get(), "network.interface.new.p", nullptr)),
              (strings{"network.interface.new.proto", "network.interface.new.peer"}));
    EXPECT_EQ(words(config_complete(c.get(), "network.nothere.", nullptr)), strings{});
    EXPECT_EQ(words(config_complete(c.get(), "system.secret.", nullptr)), strings{});

    EXPECT_EQ(words(config_complete(c.get(), "system.mode", "")), (strings{"auto", "manual"}));
    EXPECT_EQ(words(config_complete(c.get(), "system.mode", "m")), (strings{"manual"}));
    EXPECT_EQ(words(config_complete(c.get(), "system.enabled", "")), (strings{"true", "false"}));
    EXPECT_EQ(words(config_complete(c.get(), "system.flags.0", "")), (strings{"a", "b"}));
    EXPECT_EQ(words(config_complete(c.get(), "network.interface.new.peer", "l")),
              (strings{"lan", "lab"}));
    // Candidates come from the schema alone: a leaf's stored value, private
    // or public, is not among them.
    EXPECT_EQ(words(config_complete(c.get(), "system.secret", "")), strings{});
    EXPECT_EQ(words(config_complete(c.get(), "system.servers.0", "")), strings{});
    EXPECT_EQ(words(config_complete(c.get(), "system.nothere", "")), strings{});
    EXPECT_EQ(config_error_check(c.get()), 0) << "completion flags nothing";
}

}  // namespace
