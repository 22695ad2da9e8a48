// The blob layer: the frames it builds are the wire format, and parsing
// untrusted frames stays inside them.
#include <gtest/gtest.h>

#include "ubox.h"

#include "frames.h"

using namespace frames;

namespace {

struct buffer {
    blob_buf b{};
    buffer() { EXPECT_EQ(blob_buf_init(&b, 0), 0); }
    ~buffer() { blob_buf_free(&b); }
    bytes raw() const
    {
        return bytes(reinterpret_cast<const char *>(b.head), blob_raw_len(b.head));
    }
};

TEST(BlobLayer, ClientRequestIsTheWireFormat)
{
    buffer req;
    blobmsg_add_string(&req.b, "cmd", "find");
    void *cookie = blobmsg_open_array(&req.b, "arg");
    for (const char *a : {"vpn.ipsec.tunnel", "mode", "transport"})
        blob_put_string(&req.b, BLOB_ATTR_STRING, a);
    blobmsg_close_array(&req.b, cookie);
    EXPECT_EQ(req.raw(), request("find", {"vpn.ipsec.tunnel", "mode", "transport"}));

    buffer empty;
    blobmsg_add_string(&empty.b, "cmd", "load");
    blobmsg_close_array(&empty.b, blobmsg_open_array(&empty.b, "arg"));
    EXPECT_EQ(empty.raw(), request("load", {}));
}

TEST(BlobLayer, ReplyIsTheWireFormat)
{
    buffer reply;
    const char text[] = "ikev2";
    ASSERT_EQ(blobmsg_add_field(&reply.b, BLOBMSG_TYPE_STRING, "data", text, sizeof text), 0);
    uint32_t result = htobe32(uint32_t(-1));
    ASSERT_EQ(blobmsg_add_field(&reply.b, BLOBMSG_TYPE_INT32, "result", &result, 4), 0);
    EXPECT_EQ(reply.raw(), frame(named(3, "data", str("ikev2")) + named(5, "result", be32(~0u))));
}

TEST(BlobLayer, BufferGrowsForLargeValues)
{
    buffer big;
    std::string text(100000, 'x');
    ASSERT_EQ(blobmsg_add_string(&big.b, "data", text.c_str()), 0);
    blob_attr *tb[1];
    const blobmsg_policy policy[] = {{"data", BLOBMSG_TYPE_STRING}};
    bytes raw = big.raw();
    ASSERT_EQ(blobmsg_parse(policy, 1, tb, raw.data() + 4, unsigned(raw.size() - 4)), 0);
    ASSERT_NE(tb[0], nullptr);
    EXPECT_EQ(blobmsg_get_string(tb[0]), text);
}

TEST(BlobLayer, ParseFindsTypedNamedMembersOnly)
{
    const blobmsg_policy policy[] = {{"cmd", BLOBMSG_TYPE_STRING}, {"arg", BLOBMSG_TYPE_ARRAY}};
    blob_attr *tb[2];
    // "cmd" of the wrong type is skipped; the first well-typed one wins.
    bytes members = named(5, "cmd", be32(1)) + named(3, "cmd", str("get")) +
                    named(3, "cmd", str("set")) + named(3, "argx", str("no"));
    ASSERT_EQ(blobmsg_parse(policy, 2, tb, members.data(), unsigned(members.size())), 0);
    ASSERT_NE(tb[0], nullptr);
    EXPECT_STREQ(blobmsg_get_string(tb[0]), "get");
    EXPECT_EQ(tb[1], nullptr);
}

TEST(BlobLayer, MalformedMembersAreRefusedWithoutReadingPastThem)
{
    const blobmsg_policy policy[] = {{"cmd", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[1];
    // Each buffer is exactly as long as the member claims; the checks must
    // not look beyond it (the fuzz target runs these under ASan as well).
    std::vector<bytes> cases = {
        be32(0x83000004u),                                // named, but no room for a name
        be32(0x83000006u) + bytes("\xff\xff", 2),         // name length beyond the member
        be32(0x83000008u) + bytes("\x00\x03", 2) + "cm",  // name without its zero
        // A string value without its terminating zero.
        be32(0x8300000cu) + bytes("\x00\x03", 2) + "cmd" + bytes(1, '\0') + "ab",
    };
    for (const bytes &member : cases) {
        std::vector<char> exact(member.begin(), member.end());
        blobmsg_parse(policy, 1, tb, exact.data(), unsigned(exact.size()));
        EXPECT_EQ(tb[0], nullptr);
    }
    // A member whose length field is below its own header is malformed;
    // nothing after it is taken.
    bytes short_len = be32(0x83000002u) + named(3, "cmd", str("get"));
    EXPECT_LT(blobmsg_parse(policy, 1, tb, short_len.data(), unsigned(short_len.size())), 0);
    EXPECT_EQ(tb[0], nullptr);
}

TEST(BlobLayer, TypeCheckOfValues)
{
    EXPECT_TRUE(blob_check_type("a", 2, BLOB_ATTR_STRING));
    EXPECT_TRUE(blob_check_type("", 1, BLOB_ATTR_STRING));
    EXPECT_FALSE(blob_check_type("ab", 2, BLOB_ATTR_STRING));
    EXPECT_FALSE(blob_check_type("", 0, BLOB_ATTR_STRING));
    EXPECT_TRUE(blob_check_type("abcd", 4, BLOB_ATTR_INT32));
    EXPECT_FALSE(blob_check_type("abc", 3, BLOB_ATTR_INT32));
    EXPECT_FALSE(blob_check_type("abc", 3, BLOB_ATTR_LAST));
}

}  // namespace
