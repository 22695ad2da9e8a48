#include <cstring>

#include "fixture.h"

namespace {

std::string joined(sl_list *list)
{
    if (!list)
        return "(null)";
    char *j = sl_join(list, " ");
    std::string s = j;
    free(j);
    sl_free(list);
    return s;
}

/* Sets and returns the store's message ("" when it was accepted). */
std::string refusal(config_t *c, const char *path, const char *value)
{
    config_error_clear(c);
    testing::internal::CaptureStderr();
    int ok = config_set(c, path, value);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok == 0, config_error_check(c) != 0) << path;
    config_error_clear(c);
    return ok ? "" : err;
}

}  // namespace

TEST_F(StoreTest, MissingFileReadsAsDefaults)
{
    copy_ptr c = load();
    ASSERT_TRUE(c);
    EXPECT_STREQ(config_get_string(c.get(), "system.hostname"), "router");
    EXPECT_STREQ(config_get_string(c.get(), "system.motto"), "");
    EXPECT_STREQ(config_get_string(c.get(), "no.such.path"), "");
    EXPECT_EQ(config_get_bool(c.get(), "system.enabled"), 1);
    EXPECT_EQ(config_get_int(c.get(), "system.retries"), 3);
    EXPECT_DOUBLE_EQ(config_get_number(c.get(), "system.ratio"), 0.5);
    EXPECT_EQ(config_get_duration(c.get(), "system.timeout"), 90);
    EXPECT_EQ(config_get_duration_ms(c.get(), "system.timeout"), 90000);
    EXPECT_EQ(config_get_int(c.get(), "network.interface.lan.mtu"), 0);
    EXPECT_EQ(config_get_string_list(c.get(), "system.servers"), nullptr);
    EXPECT_EQ(text(config_json(c.get())), "{}");
    EXPECT_EQ(text(config_dump(c.get())), "");
    EXPECT_FALSE(config_error_check(c.get()));
}

TEST_F(StoreTest, TypedReadsOfStoredValues)
{
    copy_ptr c = load_text(R"({"system": {"hostname": "gw", "enabled": false, "retries": 7,
        "ratio": 1.25, "timeout": "5m", "servers": ["10.0.0.1", "::1"], "flags": ["b"]},
      "network": {"interface": {"lan": {"proto": "static", "mtu": 9000}, "wan": {}}}})");
    ASSERT_TRUE(c);
    EXPECT_STREQ(config_get_string(c.get(), "system.hostname"), "gw");
    EXPECT_EQ(config_get_bool(c.get(), "system.enabled"), 0);
    EXPECT_EQ(config_get_int(c.get(), "system.retries"), 7);
    EXPECT_DOUBLE_EQ(config_get_number(c.get(), "system.ratio"), 1.25);
    EXPECT_EQ(config_get_duration(c.get(), "system.timeout"), 300);
    EXPECT_EQ(joined(config_get_string_list(c.get(), "system.servers")), "10.0.0.1 ::1");

    config_node *lan = config_lookup(c.get(), "network.interface.lan");
    ASSERT_TRUE(lan);
    EXPECT_STREQ(config_key(lan), "lan");
    EXPECT_EQ(text(config_path(lan)), "network.interface.lan");
    EXPECT_EQ(config_node_get_root(lan), c.get());
    EXPECT_EQ(config_get_int(lan, "mtu"), 9000);
    config_node *wan = config_object(c.get(), "network.interface.wan");
    ASSERT_TRUE(wan);
    /* A member that is only present reads its defaults. */
    EXPECT_STREQ(config_get_string(wan, "proto"), "dhcp");
    EXPECT_EQ(config_get_int(wan, "mtu"), 1500);

    /* Members in file order; a collection member that does not exist is absent. */
    config_node *ifaces = config_object(c.get(), "network.interface");
    config_node *first = config_object_first(ifaces);
    ASSERT_TRUE(first);
    EXPECT_STREQ(config_key(first), "lan");
    EXPECT_STREQ(config_key(config_object_next(first)), "wan");
    EXPECT_EQ(config_object_next(config_object_next(first)), nullptr);
    EXPECT_EQ(config_lookup(c.get(), "network.interface.dmz"), nullptr);
    EXPECT_EQ(config_lookup(c.get(), "network.interface.dmz.proto"), nullptr);

    EXPECT_TRUE(config_has_key(ifaces, "lan"));
    EXPECT_FALSE(config_has_key(ifaces, "dmz"));
    EXPECT_TRUE(config_has_key(c.get(), "system")); /* known to the schema */
    EXPECT_TRUE(config_object_has_key(c.get(), "system", "motto"));
    EXPECT_FALSE(config_object_has_key(c.get(), "system", "colour"));
    EXPECT_FALSE(config_object_has_key(c.get(), "nowhere", "motto"));
    EXPECT_EQ(joined(config_keys(ifaces)), "lan wan");
    EXPECT_EQ(config_count(c.get(), "network.interface"), 2);
    EXPECT_EQ(config_count(c.get(), "system.servers"), 2);
}

TEST_F(StoreTest, UnsetLeafLookupReadsDefaultAndOffersValues)
{
    copy_ptr c = load();
    config_node *mode = config_lookup(c.get(), "system.mode");
    ASSERT_TRUE(mode);
    EXPECT_STREQ(config_get_string(mode, ""), "auto");
    EXPECT_EQ(text(config_get(c.get(), "system.mode")), "auto");
    EXPECT_EQ(joined(schema_string_values(config_node_schema(mode), config_node_parent(mode))),
              "auto manual");
    config_node *flags = config_lookup(c.get(), "system.flags");
    EXPECT_EQ(joined(schema_string_values(config_node_schema(flags), config_node_parent(flags))),
              "a b");
    EXPECT_EQ(
        schema_string_values(config_node_schema(config_lookup(c.get(), "system.motto")), c.get()),
        nullptr);
    /* An implicit member is not iterated, counted or written. */
    EXPECT_EQ(config_object_first(config_object(c.get(), "system")), nullptr);
    EXPECT_EQ(text(config_json(c.get())), "{}");
}

TEST_F(StoreTest, TextForms)
{
    copy_ptr c = load_text(R"({"system": {"description": "two\nlines", "secret": "s3cret",
        "timeout": "5m", "retries": 3, "servers": ["10.0.0.1"]},
      "network": {"interface": {"lan": {"mtu": 1400}, "wan": {}}}})");
    ASSERT_TRUE(c);
    EXPECT_EQ(text(config_get(c.get(), "system.timeout")), "5m");
    EXPECT_EQ(text(config_get(c.get(), "system.enabled")), "true");
    EXPECT_EQ(text(config_get(c.get(), "system.servers")), "[\n  \"10.0.0.1\"\n]");
    /* retries equals its default and is not shown; wan stays as a member. */
    EXPECT_EQ(text(config_dump(c.get())),
              "system.description=two\\nlines\n"
              "system.secret=s3cret\n"
              "system.timeout=5m\n"
              "system.servers.0=10.0.0.1\n"
              "network.interface.lan.mtu=1400\n"
              "network.interface.wan={}");
    EXPECT_EQ(text(config_dump_public(config_lookup(c.get(), "system"))),
              "system.description=two\\nlines\n"
              "system.secret=***\n"
              "system.timeout=5m\n"
              "system.servers.0=10.0.0.1");
    EXPECT_EQ(text(config_dump(config_lookup(c.get(), "system.mode"))), "system.mode=auto");
    EXPECT_EQ(text(config_json(config_lookup(c.get(), "network"))),
              "{\n  \"interface\": {\n    \"lan\": {\n      \"mtu\": 1400\n    },\n"
              "    \"wan\": {}\n  }\n}");
    EXPECT_EQ(config_json(nullptr), nullptr);
    EXPECT_EQ(config_dump(nullptr), nullptr);
    EXPECT_EQ(text(config_type_string(c.get(), "network.interface.any.peer")), "reference");
    EXPECT_EQ(text(config_type_string(c.get(), "system.servers")), "array");
    EXPECT_FALSE(config_error_check(c.get()));
    EXPECT_EQ(config_get(c.get(), "network.interface.dmz.mtu"), nullptr);
    EXPECT_FALSE(config_error_check(c.get())); /* absent member: no error */
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_get(c.get(), "system.colour"), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("system.colour: unknown path"),
              std::string::npos);
    EXPECT_TRUE(config_error_check(c.get()));
}

TEST_F(StoreTest, SetRefusalsNameThePathAndChangeNothing)
{
    copy_ptr c = load_text(R"({"system": {"retries": 5}})");
    ASSERT_TRUE(c);
    struct {
        const char *path, *value, *message;
    } cases[] = {
        {"system.colour", "red", "system.colour: unknown path"},
        {"system.retries.x", "1", "system.retries.x: unknown path"},
        {"system.enabled", "maybe", "system.enabled: bad boolean"},
        {"system.retries", "11", "system.retries: integer out of range (0..10)"},
        {"system.retries", "-1", "system.retries: integer out of range"},
        {"system.retries", "3x", "system.retries: not an integer"},
        {"system.retries", "99999999999", "system.retries: integer out of range"},
        {"system.ratio", "1e999", "system.ratio: not a number"},
        {"system.timeout", "5 minutes", "system.timeout: bad duration"},
        {"system.mode", "Auto", "system.mode: unknown enumeration value (allowed: auto manual)"},
        {"system.gateway", "10.0.0.256", "system.gateway: malformed IPv4 address"},
        {"system.gateway", "10.0.0.1\n", "system.gateway: malformed IPv4 address"},
        {"system.dns6", "10.0.0.1", "system.dns6: malformed IPv6 address"},
        {"system.lan", "10.0.0.0/33", "system.lan: malformed IPv4 prefix"},
        {"system.lan", "10.0.0.0", "system.lan: malformed IPv4 prefix"},
        {"system.mac", "00:11:22:33:44", "system.mac: malformed MAC address"},
        {"system.hostname", "a b", "system.hostname: malformed host name"},
        {"system.motto", "one\ntwo", "system.motto: line break in a one-line string"},
        {"system.motto", "123456789", "system.motto: longer than 8 bytes"},
        {"system.servers.1", "10.0.0.1", "system.servers.1: no such member"},
        {"system.servers.0", "not-an-ip", "system.servers.0: malformed IP address"},
        {"system", "x", "system: is an object; set its members"},
        {"network.interface.a.b.proto", "dhcp", "network.interface.a.b: unknown path"},
        {"network.interface.la/n.proto", "dhcp",
         "network.interface.la/n: key with a forbidden character"},
        {"network.interface.lan.peer", "/network/device/x",
         "network.interface.lan.peer: not a reference to a member of network.interface"},
    };
    for (auto &t : cases) {
        std::string err = refusal(c.get(), t.path, t.value);
        EXPECT_NE(err.find(t.message), std::string::npos)
            << t.path << " = " << t.value << ": " << err;
    }
    EXPECT_NE(refusal(c.get(), "system.motto", nullptr).find("system.motto: no value given"),
              std::string::npos);
    /* Nothing was created or changed on the way. */
    EXPECT_EQ(text(config_json(c.get())), "{\n  \"system\": {\n    \"retries\": 5\n  }\n}");
    EXPECT_EQ(config_count(c.get(), "network.interface"), 0);
}

TEST_F(StoreTest, SetAcceptsEachTypeAndCreatesMembers)
{
    copy_ptr c = load();
    EXPECT_EQ(refusal(c.get(), "system.enabled", "0"), "");
    EXPECT_EQ(config_get_bool(c.get(), "system.enabled"), 0);
    EXPECT_EQ(refusal(c.get(), "system.timeout", "1500ms"), "");
    EXPECT_EQ(config_get_duration_ms(c.get(), "system.timeout"), 1500);
    EXPECT_EQ(config_get_duration(c.get(), "system.timeout"), 1);
    EXPECT_EQ(refusal(c.get(), "system.timeout", "2h"), "");
    EXPECT_EQ(config_get_duration(c.get(), "system.timeout"), 7200);
    EXPECT_EQ(refusal(c.get(), "system.timeout", "1d"), "");
    EXPECT_EQ(config_get_duration(c.get(), "system.timeout"), 86400);
    EXPECT_EQ(refusal(c.get(), "system.description", "a\nb"), "");
    EXPECT_EQ(refusal(c.get(), "system.gateway", ""), ""); /* cleared */
    EXPECT_EQ(refusal(c.get(), "system.dns6", "fe80::1"), "");
    EXPECT_EQ(refusal(c.get(), "system.mac", "00:11:22:aa:BB:cc"), "");
    EXPECT_EQ(refusal(c.get(), "system.servers.0", "10.1.1.1"), "");
    EXPECT_EQ(refusal(c.get(), "system.servers.1", "2001:db8::1"), "");
    EXPECT_EQ(config_array_count(config_array(c.get(), "system.servers")), 2u);
    EXPECT_STREQ(config_array_get_string(config_array(c.get(), "system.servers"), 1),
                 "2001:db8::1");

    /* Setting inside a member that does not exist creates it. */
    EXPECT_EQ(refusal(c.get(), "network.interface.lan.proto", "static"), "");
    EXPECT_EQ(refusal(c.get(), "network.interface.wan.peer", "lan"), ""); /* by key */
    EXPECT_EQ(text(config_get(c.get(), "network.interface.wan.peer")), "/network/interface/lan");
    config_node *peer = config_get_ref(c.get(), "network.interface.wan.peer");
    EXPECT_EQ(peer, config_lookup(c.get(), "network.interface.lan"));
    EXPECT_EQ(joined(config_keys(config_object(c.get(), "network.interface"))), "lan wan");
    config_node *ref = config_lookup(c.get(), "network.interface.wan.peer");
    EXPECT_EQ(joined(schema_string_values(config_node_schema(ref), config_node_parent(ref))),
              "/network/interface/lan /network/interface/wan");
}

TEST_F(StoreTest, NewKeyDeleteFind)
{
    copy_ptr c = load();
    EXPECT_EQ(text(config_new(c.get(), "network.interface")), "1");
    EXPECT_EQ(text(config_new(c.get(), "network.interface")), "2");
    EXPECT_TRUE(config_new_key(c.get(), "network.interface", "lan"));
    config_set(c.get(), "network.interface.lan.proto", "static");
    config_set(c.get(), "network.interface.2.proto", "static");
    EXPECT_EQ(joined(config_find(c.get(), "network.interface", nullptr)), "1 2 lan");
    char *pairs[] = {(char *)"proto", (char *)"static", nullptr};
    EXPECT_EQ(joined(config_find(c.get(), "network.interface", pairs)), "2 lan");
    char *mtu[] = {(char *)"mtu", (char *)"1500", (char *)"proto", (char *)"dhcp", nullptr};
    EXPECT_EQ(joined(config_find(c.get(), "network.interface", mtu)), "1");
    EXPECT_FALSE(config_error_check(c.get()));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(config_new_key(c.get(), "network.interface", "lan"));
    EXPECT_FALSE(config_new_key(c.get(), "network.interface", "../etc"));
    EXPECT_FALSE(config_new_key(c.get(), "network.interface", std::string(65, 'k').c_str()));
    EXPECT_FALSE(config_new_key(c.get(), "system", "x"));
    EXPECT_EQ(config_new(c.get(), "system.motto"), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("network.interface.lan: already exists"), std::string::npos) << err;
    EXPECT_NE(err.find("network.interface.../etc: key with a forbidden character"),
              std::string::npos);
    EXPECT_NE(err.find("system: not a collection"), std::string::npos);
    EXPECT_NE(err.find("system.motto: not a collection or array"), std::string::npos);
    EXPECT_TRUE(config_new_key(c.get(), "network.interface", std::string(64, 'k').c_str()));
    config_error_clear(c.get());

    EXPECT_TRUE(config_delete(c.get(), "network.interface.1"));
    EXPECT_EQ(joined(config_keys(config_object(c.get(), "network.interface"))),
              "2 lan " + std::string(64, 'k'));
    EXPECT_TRUE(config_delete(c.get(), "network.interface.lan.proto")); /* back to default */
    EXPECT_STREQ(config_get_string(c.get(), "network.interface.lan.proto"), "dhcp");
    EXPECT_TRUE(config_delete(c.get(), "system.motto")); /* unset already */
    testing::internal::CaptureStderr();
    EXPECT_FALSE(config_delete(c.get(), "network.interface.dmz"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("network.interface.dmz: no such member"),
              std::string::npos);
    config_error_clear(c.get());

    /* Array elements: new appends, ids follow the position, delete renumbers. */
    EXPECT_EQ(text(config_new(c.get(), "network.routes")), "0");
    EXPECT_EQ(text(config_new(c.get(), "network.routes")), "1");
    EXPECT_EQ(text(config_new(c.get(), "network.routes")), "2");
    config_set(c.get(), "network.routes.1.target", "10.1.0.0/16");
    config_set(c.get(), "network.routes.2.target", "10.2.0.0/16");
    config_set(c.get(), "network.routes.2.via", "lan");
    EXPECT_TRUE(config_delete(c.get(), "network.routes.0"));
    config_node *routes = config_array(c.get(), "network.routes");
    EXPECT_EQ(config_array_count(routes), 2u);
    config_node *second = config_array_next(config_array_first(routes));
    EXPECT_EQ(config_node_id(second), 1);
    EXPECT_STREQ(config_key(second), "1");
    EXPECT_STREQ(config_get_string(config_array_object(routes, 1), "target"), "10.2.0.0/16");
    EXPECT_EQ(config_get_ref(second, "via"), config_lookup(c.get(), "network.interface.lan"));
    EXPECT_EQ(text(config_path(second)), "network.routes.1");
    EXPECT_FALSE(config_error_check(c.get()));
}

TEST_F(StoreTest, MalformedFilesAreRefusedWithPlace)
{
    std::string err;
    EXPECT_FALSE(load_text("{\n  \"system\": {\n    \"retries\": ,\n  }\n}", &err));
    EXPECT_NE(err.find(file + ":3:16: malformed JSON"), std::string::npos) << err;

    EXPECT_FALSE(load_text("{\"system\": {\"colour\": \"red\"}}", &err));
    EXPECT_NE(err.find(file + ":1:21: system.colour: unknown key"), std::string::npos) << err;

    EXPECT_FALSE(load_text("{\"network\": {\"interface\": {\"a b\": {}}}}", &err));
    EXPECT_NE(err.find("network.interface.a b: key with a forbidden character"), std::string::npos)
        << err;

    EXPECT_FALSE(load_text("{\"system\": {\"servers\": \"10.0.0.1\"}}", &err));
    EXPECT_NE(err.find("system.servers: expected an array"), std::string::npos) << err;

    EXPECT_FALSE(load_text("{\"system\": {\"motto\": {}}}", &err));
    EXPECT_NE(err.find("system.motto: expected a value"), std::string::npos) << err;

    EXPECT_FALSE(load_text("{\"system\": {\"motto\": \"a\", \"motto\": \"b\"}}", &err));
    EXPECT_NE(err.find("system.motto: duplicate key"), std::string::npos) << err;

    /* Large collections are checked for repeated keys too. */
    std::string many = "{\"network\": {\"interface\": {";
    for (int i = 0; i < 40; i++)
        many += "\"if" + std::to_string(i) + "\": {}, ";
    EXPECT_FALSE(load_text(many + "\"if7\": {}}}}", &err));
    EXPECT_NE(err.find("network.interface.if7: duplicate key"), std::string::npos) << err;
    EXPECT_TRUE(load_text(many + "\"if40\": {}}}}"));

    EXPECT_FALSE(load_text(std::string("{}\0{\"system\": 1}", 15), &err));
    EXPECT_NE(err.find(file + ":1:3: malformed JSON"), std::string::npos) << err;

    EXPECT_FALSE(load_text("{\"system\": {\"motto\": \"a\\u0000b\"}}", &err));
    EXPECT_NE(err.find("system.motto: NUL character in a value"), std::string::npos) << err;

    EXPECT_FALSE(load_text("[]", &err));
    EXPECT_NE(err.find("the top level must be a JSON object"), std::string::npos) << err;
    EXPECT_FALSE(load_text("\"\xff\"", &err));
    EXPECT_NE(err.find("the top level must be a JSON object"), std::string::npos) << err;

    EXPECT_FALSE(load_text("", &err));
    EXPECT_NE(err.find(file + ":1:1: malformed JSON"), std::string::npos) << err;

    EXPECT_FALSE(load_text(std::string("{\"system\": {\"motto\": \"\xff\"}}"), &err));
    EXPECT_NE(err.find("system.motto: invalid UTF-8 in a value"), std::string::npos) << err;

    /* null leaves a member at its default. */
    copy_ptr c = load_text("{\"system\": {\"motto\": null, \"retries\": 4}}");
    ASSERT_TRUE(c);
    EXPECT_EQ(config_get_int(c.get(), "system.retries"), 4);

    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(load());
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(file + ": cannot read"), std::string::npos) << err;
}

/* The file is unescaped in place while it is read: places of refusals still
 * count the file as written, and texts and keys read back unescaped. */
TEST_F(StoreTest, EscapesAndNumbersKeepPlacesAndTexts)
{
    std::string err;
    EXPECT_FALSE(
        load_text("{\"system\": {\"motto\": \"a\\nb\\\"c\\u0041\",\n \"colour\": 1}}", &err));
    EXPECT_NE(err.find(file + ":2:10: system.colour: unknown key"), std::string::npos) << err;

    EXPECT_FALSE(load_text("{\"network\": {\"interface\": 12345}}", &err));
    EXPECT_NE(err.find(file + ":1:32: network.interface: expected an object"), std::string::npos)
        << err;
    EXPECT_FALSE(load_text("{\"system\": {\"servers\": -1.5e3,\"x\": 1}}", &err));
    EXPECT_NE(err.find(file + ":1:30: system.servers: expected an array"), std::string::npos)
        << err;

    copy_ptr c = load_text(
        "{\"system\": {\"motto\": \"tab\\there \\u00e9\\\\\", \"retries\": 7},\n"
        " \"network\": {\"interface\": {\"l\\u0061n\": {}, \"wan\": {}}}}");
    ASSERT_TRUE(c);
    EXPECT_STREQ(config_get_string(c.get(), "system.motto"), "tab\there \xc3\xa9\\");
    EXPECT_EQ(config_get_int(c.get(), "system.retries"), 7);
    config_node *lan = config_lookup(c.get(), "network.interface.lan");
    ASSERT_TRUE(lan);
    EXPECT_STREQ(config_key(lan), "lan");
    EXPECT_EQ(config_count(c.get(), "network.interface"), 2);
}

TEST_F(StoreTest, ValidateReportsEveryProblem)
{
    copy_ptr c = load_text(R"({"system": {"retries": 12, "mode": "other"},
      "network": {"interface": {"lan": {"peer": "/network/interface/gone"}}}})");
    ASSERT_TRUE(c);
    std::vector<std::string> seen;
    auto report = [](void *ctx, const char *path, const char *message) {
        static_cast<std::vector<std::string> *>(ctx)->push_back(std::string(path) + ": " + message);
    };
    EXPECT_EQ(config_validate(c.get(), report, &seen), 0);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], "system.retries: integer out of range (0..10)");
    EXPECT_EQ(seen[1], "system.mode: unknown enumeration value (allowed: auto manual)");
    EXPECT_EQ(seen[2],
              "network.interface.lan.peer: reference to a missing member "
              "/network/interface/gone");
    config_new_key(c.get(), "network.interface", "gone");
    config_set(c.get(), "system.retries", "1");
    config_set(c.get(), "system.mode", "manual");
    seen.clear();
    EXPECT_EQ(config_validate(c.get(), report, &seen), 1);
    EXPECT_TRUE(seen.empty());
}

TEST_F(StoreTest, Base64)
{
    EXPECT_EQ(text(config_base64_encode("", 0)), "");
    EXPECT_EQ(text(config_base64_encode("f", 1)), "Zg==");
    EXPECT_EQ(text(config_base64_encode("fo", 2)), "Zm8=");
    EXPECT_EQ(text(config_base64_encode("foo", 3)), "Zm9v");
    EXPECT_EQ(text(config_base64_encode("\xff\xfe\x00\x01", 4)), "//4AAQ==");
}

TEST_F(StoreTest, NullNodesReadAsAbsent)
{
    EXPECT_STREQ(config_get_string(nullptr, "a"), "");
    EXPECT_EQ(config_get_int(nullptr, "a"), 0);
    EXPECT_EQ(config_lookup(nullptr, "a"), nullptr);
    EXPECT_EQ(config_array_count(nullptr), 0u);
    EXPECT_EQ(config_path(nullptr), nullptr);
    EXPECT_EQ(config_keys(nullptr), nullptr);
    EXPECT_EQ(config_set(nullptr, "a", "b"), 0);
    EXPECT_EQ(config_error_check(nullptr), 0);
    config_free(nullptr);
}

/* Strings are scanned a word at a time: whatever the length and wherever an
 * escape, a non-ASCII character or a fault stands relative to a word, the
 * text read is the text written and each fault is refused. */
TEST_F(StoreTest, StringsOfEveryLengthAndEscapePlace)
{
    for (size_t len = 0; len <= 17; len++) { /* two words of 8 and one more */
        std::string plain;
        for (size_t i = 0; i < len; i++)
            plain += char('a' + i % 26);
        for (size_t at = 0; at <= len; at++) {
            struct {
                const char *json, *text;
            } inserts[] = {
                {"\\n", "\n"}, {"\\\"", "\""}, {"\\u00e9", "\xc3\xa9"}, {"\xc3\xa9", "\xc3\xa9"}};
            for (auto &in : inserts) {
                std::string json = plain.substr(0, at) + in.json + plain.substr(at);
                std::string want = plain.substr(0, at) + in.text + plain.substr(at);
                std::string err;
                copy_ptr c = load_text("{\"system\": {\"description\": \"" + json + "\"}}", &err);
                ASSERT_TRUE(c) << json << ": " << err;
                EXPECT_EQ(config_get_string(c.get(), "system.description"), want) << json;
            }
            std::string err;
            EXPECT_FALSE(load_text("{\"system\": {\"description\": \"" + plain.substr(0, at) +
                                       "\xc3(" + plain.substr(at) + "\"}}",
                                   &err));
            EXPECT_NE(err.find("system.description: invalid UTF-8 in a value"), std::string::npos)
                << err;
            EXPECT_FALSE(load_text("{\"system\": {\"description\": \"" + plain.substr(0, at) +
                                       "\\u0000" + plain.substr(at) + "\"}}",
                                   &err));
            EXPECT_NE(err.find("system.description: NUL character in a value"), std::string::npos)
                << err;
            EXPECT_FALSE(load_text("{\"system\": {\"description\": \"" + plain.substr(0, at) +
                                       "\t" + plain.substr(at) + "\"}}",
                                   &err));
            EXPECT_NE(err.find("malformed JSON"), std::string::npos) << err;
        }
        /* A file that ends inside the string. */
        std::string err;
        EXPECT_FALSE(load_text("{\"system\": {\"description\": \"" + plain, &err));
        EXPECT_NE(err.find("malformed JSON"), std::string::npos) << err;
    }
}

/* A large collection is found by key through an index; edits, cancel and
 * iteration keep to what the collection holds. */
TEST_F(StoreTest, LargeCollectionThroughEdits)
{
    std::string json = "{\"network\": {\"interface\": {";
    for (int i = 0; i < 40; i++)
        json += std::string(i ? ", " : "") + "\"if" + std::to_string(i) +
                "\": {\"mtu\": " + std::to_string(1000 + i) + "}";
    put(file, json + "}}}");
    copy_ptr c = update();
    ASSERT_TRUE(c);
    auto mtu = [&](int i) {
        return config_get_int(c.get(),
                              ("network.interface.if" + std::to_string(i) + ".mtu").c_str());
    };
    auto order = [&] {
        std::string keys;
        config_node *all = config_object(c.get(), "network.interface");
        for (config_node *m = config_object_first(all); m; m = config_object_next(m))
            keys += std::string(keys.empty() ? "" : " ") + config_key(m);
        return keys;
    };
    for (int i = 0; i < 40; i++)
        EXPECT_EQ(mtu(i), 1000 + i) << i;
    EXPECT_FALSE(config_has_key(config_object(c.get(), "network.interface"), "if40"));

    std::string before = order(), expected;
    for (int i = 0; i < 40; i++) {
        if (i % 3 == 0)
            EXPECT_TRUE(
                config_delete(c.get(), ("network.interface.if" + std::to_string(i)).c_str()));
        else
            expected += std::string(expected.empty() ? "" : " ") + "if" + std::to_string(i);
    }
    for (int i = 40; i < 60; i++) {
        EXPECT_TRUE(
            config_new_key(c.get(), "network.interface", ("if" + std::to_string(i)).c_str()));
        expected += " if" + std::to_string(i);
    }
    EXPECT_EQ(order(), expected);
    for (int i = 0; i < 40; i++) {
        config_node *m =
            config_lookup(c.get(), ("network.interface.if" + std::to_string(i)).c_str());
        EXPECT_EQ(m != nullptr, i % 3 != 0) << i;
        if (m) {
            EXPECT_EQ(mtu(i), 1000 + i) << i;
        }
    }
    EXPECT_EQ(mtu(59), 1500); /* new: the default */
    EXPECT_EQ(config_count(c.get(), "network.interface"), 46);
    EXPECT_FALSE(config_error_check(c.get()));

    config_cancel(c.get());
    EXPECT_EQ(order(), before);
    for (int i = 0; i < 40; i++)
        EXPECT_EQ(mtu(i), 1000 + i) << i;
    EXPECT_EQ(config_lookup(c.get(), "network.interface.if45"), nullptr);
}
