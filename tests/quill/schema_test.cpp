#include <gtest/gtest.h>

#include "schema.h"

using quill::schema_build;
using quill::schema_fragment;

namespace {

std::string build_error(std::vector<schema_fragment> fragments)
{
    std::string error;
    auto set = schema_build(fragments, error);
    return set ? "" : error;
}

}  // namespace

TEST(Schema, FragmentsMergeDeeply)
{
    std::string error;
    auto set = schema_build(
        {{"a.json", R"({"net": {"type": "object", "members": {"if": {"type": "collection",
              "member": {"type": "object", "members": {"mtu": "integer"}}}}}})"},
         {"b.json", R"({"net": {"type": "object", "members": {"if": {"type": "collection",
              "member": {"type": "object", "members": {"proto": "string"}}}, "dns": "ipv4"}},
              "vpn": "boolean"})"}},
        error);
    ASSERT_TRUE(set) << error;
    const schema_node *net = quill::schema_member(set->root, "net");
    ASSERT_TRUE(net);
    EXPECT_TRUE(quill::schema_member(net, "dns"));
    const schema_node *member = quill::schema_member(net, "if")->item;
    EXPECT_EQ(member->nchildren, 2u);
    EXPECT_STREQ(member->children[0].key, "mtu");
    EXPECT_STREQ(member->children[1].key, "proto");
    EXPECT_TRUE(quill::schema_member(set->root, "vpn"));
}

TEST(Schema, BadFragmentsAreBuildErrors)
{
    EXPECT_EQ(
        build_error({{"a.json", R"({"x": {"type": "object", "members": {"y": "string"}}})"},
                     {"b.json", R"({"x": {"type": "object", "members": {"y": "integer"}}})"}}),
        "b.json: x.y: described twice");
    EXPECT_EQ(build_error({{"a.json", R"({"x": "strin"})"}}), "a.json: x: unknown type \"strin\"");
    EXPECT_EQ(build_error({{"a.json", R"({"x": {"type": "integer", "default": 5, "max": 3}})"}}),
              "x: default \"5\": integer out of range (at most 3)");
    EXPECT_EQ(
        build_error({{"a.json", R"({"x": {"type": "enum", "values": ["a"], "default": "b"}})"}}),
        "x: default \"b\": unknown enumeration value (allowed: a)");
    EXPECT_EQ(build_error({{"a.json", R"({"x": {"type": "string", "colour": 1}})"}}),
              "a.json: x: \"colour\" is not allowed for type \"string\"");
    EXPECT_EQ(build_error({{"a.json", R"({"x": {"type": "reference", "target": "nowhere"}})"}}),
              "x: reference target \"nowhere\" is not a collection");
    EXPECT_EQ(build_error({{"a.json", "{\n  \"x\": \n}"}}),
              "a.json:3:1: malformed JSON: Invalid value.");
}

TEST(Schema, BuiltInSchemaIsAnObject)
{
    ASSERT_TRUE(quill::builtin_schema());
    EXPECT_EQ(quill::builtin_schema()->type, SCHEMA_OBJECT);
}

TEST(Schema, DurationsAndKeys)
{
    int64_t ms;
    ASSERT_TRUE(quill::parse_duration_ms("500ms", ms));
    EXPECT_EQ(ms, 500);
    ASSERT_TRUE(quill::parse_duration_ms("1.5m", ms));
    EXPECT_EQ(ms, 90000);
    ASSERT_TRUE(quill::parse_duration_ms("45", ms));
    EXPECT_EQ(ms, 45000);
    for (const char *bad : {"", "s", "5x", "-5s", "5 s", "1e3", "99999999999d"})
        EXPECT_FALSE(quill::parse_duration_ms(bad, ms)) << bad;
    EXPECT_TRUE(quill::valid_collection_key("lan_2-a"));
    for (const char *bad : {"", "a.b", "a/b", "..", "a b", "a\n", "é"})
        EXPECT_FALSE(quill::valid_collection_key(bad)) << bad;
}
