/* Named blob attributes: each carries, after its blob header, a name header
 * (16-bit big-endian name length, the name, a zero byte, padding to a
 * multiple of 4) and then the value.  Tables hold named members, arrays
 * unnamed ones.
 *
 * The build's own implementation for systems without libubox; same names,
 * declarations, structures and wire format, and like blob.h no extern "C"
 * (C++ code includes ubox.h). */
#ifndef UBOX_BLOBMSG_H
#define UBOX_BLOBMSG_H

#include <stdarg.h>

#include "blob.h"

#define BLOBMSG_ALIGN 2
#define BLOBMSG_PADDING(len) (((len) + (1 << BLOBMSG_ALIGN) - 1) & ~((1 << BLOBMSG_ALIGN) - 1))

enum blobmsg_type {
    BLOBMSG_TYPE_UNSPEC,
    BLOBMSG_TYPE_ARRAY,
    BLOBMSG_TYPE_TABLE,
    BLOBMSG_TYPE_STRING,
    BLOBMSG_TYPE_INT64,
    BLOBMSG_TYPE_INT32,
    BLOBMSG_TYPE_INT16,
    BLOBMSG_TYPE_INT8,
    BLOBMSG_TYPE_DOUBLE,
    __BLOBMSG_TYPE_LAST,
    BLOBMSG_TYPE_LAST = __BLOBMSG_TYPE_LAST - 1,
    BLOBMSG_TYPE_BOOL = BLOBMSG_TYPE_INT8,
    BLOBMSG_CAST_INT64 = __BLOBMSG_TYPE_LAST,
};

struct blobmsg_hdr {
    uint16_t namelen;
    uint8_t name[];
} __attribute__((packed));

struct blobmsg_policy {
    const char *name;
    enum blobmsg_type type;
};

static inline int blobmsg_hdrlen(unsigned int namelen)
{
    return (int)BLOBMSG_PADDING(sizeof(struct blobmsg_hdr) + namelen + 1);
}

static inline uint16_t blobmsg_namelen(const struct blobmsg_hdr *hdr)
{
    uint16_t len;
    memcpy(&len, &hdr->namelen, sizeof(len));
    return be16toh(len);
}

static inline const char *blobmsg_name(const struct blob_attr *attr)
{
    const struct blobmsg_hdr *hdr = (const struct blobmsg_hdr *)blob_data(attr);
    return (const char *)hdr->name;
}

static inline int blobmsg_type(const struct blob_attr *attr) { return (int)blob_id(attr); }

/* The value: after the name header for a named attribute, else right after
 * the blob header. */
static inline void *blobmsg_data(const struct blob_attr *attr)
{
    char *data;

    if (!attr)
        return NULL;
    data = (char *)blob_data(attr);
    if (blob_is_extended(attr))
        data += blobmsg_hdrlen(blobmsg_namelen((const struct blobmsg_hdr *)data));
    return data;
}

static inline size_t blobmsg_data_len(const struct blob_attr *attr)
{
    char *start, *end;

    if (!attr)
        return 0;
    start = (char *)blob_data(attr);
    end = (char *)blobmsg_data(attr);
    return blob_len(attr) - (size_t)(end - start);
}

static inline size_t blobmsg_len(const struct blob_attr *attr) { return blobmsg_data_len(attr); }

/* True when the attribute is well formed: named exactly when name is set
 * (with its name inside the attribute and zero-terminated) and, for the
 * scalar types, a value of the right size (strings zero-terminated). */
bool blobmsg_check_attr(const struct blob_attr *attr, bool name);
bool blobmsg_check_attr_len(const struct blob_attr *attr, bool name, size_t len);
int blobmsg_check_array(const struct blob_attr *attr, int type);
int blobmsg_check_array_len(const struct blob_attr *attr, int type, size_t len);

/* Fills tb[i] with the first member of the len bytes at data that is named
 * policy[i].name and has type policy[i].type (any type for UNSPEC); others
 * stay null.  Returns 0, or a negative value for empty input or a
 * malformed member (members found before it are kept). */
int blobmsg_parse(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                  void *data, unsigned int len);
int blobmsg_parse_array(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                        void *data, unsigned int len);

/* Appends a named attribute of the type with len bytes of value.
 * Returns 0, or -1 when the buffer could not grow. */
int blobmsg_add_field(struct blob_buf *buf, int type, const char *name, const void *data,
                      unsigned int len);

static inline int blobmsg_add_u8(struct blob_buf *buf, const char *name, uint8_t val)
{
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT8, name, &val, 1);
}

static inline int blobmsg_add_u16(struct blob_buf *buf, const char *name, uint16_t val)
{
    val = htobe16(val);
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT16, name, &val, 2);
}

static inline int blobmsg_add_u32(struct blob_buf *buf, const char *name, uint32_t val)
{
    val = htobe32(val);
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT32, name, &val, 4);
}

static inline int blobmsg_add_u64(struct blob_buf *buf, const char *name, uint64_t val)
{
    val = htobe64(val);
    return blobmsg_add_field(buf, BLOBMSG_TYPE_INT64, name, &val, 8);
}

static inline int blobmsg_add_string(struct blob_buf *buf, const char *name, const char *string)
{
    return blobmsg_add_field(buf, BLOBMSG_TYPE_STRING, name, string,
                             (unsigned int)strlen(string) + 1);
}

static inline int blobmsg_add_blob(struct blob_buf *buf, struct blob_attr *attr)
{
    return blobmsg_add_field(buf, blobmsg_type(attr), blobmsg_name(attr), blobmsg_data(attr),
                             (unsigned int)blobmsg_data_len(attr));
}

void *blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array);

static inline void *blobmsg_open_array(struct blob_buf *buf, const char *name)
{
    return blobmsg_open_nested(buf, name, true);
}

static inline void *blobmsg_open_table(struct blob_buf *buf, const char *name)
{
    return blobmsg_open_nested(buf, name, false);
}

static inline void blobmsg_close_array(struct blob_buf *buf, void *cookie)
{
    blob_nest_end(buf, cookie);
}

static inline void blobmsg_close_table(struct blob_buf *buf, void *cookie)
{
    blob_nest_end(buf, cookie);
}

static inline int blobmsg_buf_init(struct blob_buf *buf)
{
    return blob_buf_init(buf, BLOBMSG_TYPE_TABLE);
}

static inline uint8_t blobmsg_get_u8(struct blob_attr *attr)
{
    return *(uint8_t *)blobmsg_data(attr);
}

static inline bool blobmsg_get_bool(struct blob_attr *attr)
{
    return *(uint8_t *)blobmsg_data(attr);
}

static inline uint16_t blobmsg_get_u16(struct blob_attr *attr)
{
    uint16_t v;
    memcpy(&v, blobmsg_data(attr), sizeof(v));
    return be16toh(v);
}

static inline uint32_t blobmsg_get_u32(struct blob_attr *attr)
{
    uint32_t v;
    memcpy(&v, blobmsg_data(attr), sizeof(v));
    return be32toh(v);
}

static inline uint64_t blobmsg_get_u64(struct blob_attr *attr)
{
    uint64_t v;
    memcpy(&v, blobmsg_data(attr), sizeof(v));
    return be64toh(v);
}

static inline char *blobmsg_get_string(struct blob_attr *attr)
{
    if (!attr)
        return NULL;
    return (char *)blobmsg_data(attr);
}

#define blobmsg_for_each_attr(pos, attr, rem)                                                      \
    for (rem = attr ? blobmsg_data_len(attr) : 0,                                                  \
        pos = (struct blob_attr *)(attr ? blobmsg_data(attr) : NULL);                              \
         rem >= sizeof(struct blob_attr) && (blob_pad_len(pos) <= rem) &&                          \
         (blob_pad_len(pos) >= sizeof(struct blob_attr));                                          \
         rem -= blob_pad_len(pos), pos = blob_next(pos))

#endif
