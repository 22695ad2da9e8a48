/* Blob buffers and attribute checks. */
#include "libubox/blob.h"

#include <errno.h>
#include <stdlib.h>

/* Offsets inside a buffer are handed out with this bias so that a nest
 * cookie of 0 is never a valid offset. */
static int attr_to_offset(struct blob_buf *buf, struct blob_attr *attr)
{
    return (int)((char *)attr - (char *)buf->buf) + BLOB_COOKIE;
}

static struct blob_attr *offset_to_attr(struct blob_buf *buf, int offset)
{
    return (struct blob_attr *)((char *)buf->buf + offset - BLOB_COOKIE);
}

static bool blob_buffer_grow(struct blob_buf *buf, int minlen)
{
    int delta = ((minlen / 256) + 1) * 256;
    void *grown = realloc(buf->buf, (size_t)buf->buflen + (size_t)delta);
    if (!grown)
        return false;
    buf->buf = grown;
    memset((char *)buf->buf + buf->buflen, 0, (size_t)delta);
    buf->buflen += delta;
    return true;
}

static void blob_init(struct blob_attr *attr, int id, unsigned int len)
{
    len &= BLOB_ATTR_LEN_MASK;
    len |= ((unsigned int)id << BLOB_ATTR_ID_SHIFT) & BLOB_ATTR_ID_MASK;
    attr->id_len = htobe32(len);
}

void blob_fill_pad(struct blob_attr *attr)
{
    char *end = (char *)attr + blob_raw_len(attr);
    size_t pad = blob_pad_len(attr) - blob_raw_len(attr);
    if (pad)
        memset(end, 0, pad);
}

void blob_set_raw_len(struct blob_attr *attr, unsigned int len)
{
    uint32_t id_len = be32toh(attr->id_len);
    id_len &= ~(uint32_t)BLOB_ATTR_LEN_MASK;
    id_len |= len & BLOB_ATTR_LEN_MASK;
    attr->id_len = htobe32(id_len);
}

bool blob_attr_equal(const struct blob_attr *a1, const struct blob_attr *a2)
{
    if (!a1 && !a2)
        return true;
    if (!a1 || !a2)
        return false;
    if (blob_pad_len(a1) != blob_pad_len(a2))
        return false;
    return !memcmp(a1, a2, blob_pad_len(a1));
}

bool blob_buf_grow(struct blob_buf *buf, int required)
{
    int offset_head = attr_to_offset(buf, buf->head);

    if ((long)buf->buflen + required > BLOB_ATTR_LEN_MASK)
        return false;
    if (!buf->grow || !buf->grow(buf, required))
        return false;
    buf->head = offset_to_attr(buf, offset_head);
    return true;
}

static struct blob_attr *blob_add(struct blob_buf *buf, struct blob_attr *pos, int id, int payload)
{
    int offset = attr_to_offset(buf, pos);
    long required =
        (long)(offset - BLOB_COOKIE) + (long)sizeof(struct blob_attr) + payload - buf->buflen;
    struct blob_attr *attr;

    if (payload < 0 || payload > BLOB_ATTR_LEN_MASK)
        return NULL;
    if (required > 0) {
        /* Room for the padding too, so blob_fill_pad stays inside. */
        if (!blob_buf_grow(buf, (int)required + BLOB_ATTR_ALIGN))
            return NULL;
        attr = offset_to_attr(buf, offset);
    } else {
        attr = pos;
    }

    blob_init(attr, id, (unsigned int)payload + sizeof(struct blob_attr));
    blob_fill_pad(attr);
    return attr;
}

int blob_buf_init(struct blob_buf *buf, int id)
{
    if (!buf->grow)
        buf->grow = blob_buffer_grow;

    buf->head = (struct blob_attr *)buf->buf;
    if (blob_add(buf, (struct blob_attr *)buf->buf, id, 0) == NULL)
        return -ENOMEM;
    return 0;
}

void blob_buf_free(struct blob_buf *buf)
{
    free(buf->buf);
    buf->buf = NULL;
    buf->head = NULL;
    buf->buflen = 0;
}

struct blob_attr *blob_new(struct blob_buf *buf, int id, int payload)
{
    struct blob_attr *attr = blob_add(buf, blob_next(buf->head), id, payload);
    if (!attr)
        return NULL;
    blob_set_raw_len(buf->head, (unsigned int)(blob_pad_len(buf->head) + blob_pad_len(attr)));
    return attr;
}

struct blob_attr *blob_put_raw(struct blob_buf *buf, const void *ptr, unsigned int len)
{
    struct blob_attr *attr;

    if (len < sizeof(struct blob_attr) || !ptr)
        return NULL;
    attr = blob_add(buf, blob_next(buf->head), 0, (int)(len - sizeof(struct blob_attr)));
    if (!attr)
        return NULL;
    blob_set_raw_len(buf->head, (unsigned int)(blob_pad_len(buf->head) + len));
    memcpy(attr, ptr, len);
    return attr;
}

struct blob_attr *blob_put(struct blob_buf *buf, int id, const void *ptr, unsigned int len)
{
    struct blob_attr *attr = blob_new(buf, id, (int)len);
    if (!attr)
        return NULL;
    if (ptr && len)
        memcpy(blob_data(attr), ptr, len);
    return attr;
}

void *blob_nest_start(struct blob_buf *buf, int id)
{
    unsigned long offset = (unsigned long)attr_to_offset(buf, buf->head);
    buf->head = blob_new(buf, id, 0);
    if (!buf->head)
        return NULL;
    return (void *)offset;
}

void blob_nest_end(struct blob_buf *buf, void *cookie)
{
    struct blob_attr *attr = offset_to_attr(buf, (int)(unsigned long)cookie);
    blob_set_raw_len(attr, (unsigned int)(blob_pad_len(attr) + blob_len(buf->head)));
    buf->head = attr;
}

static const size_t blob_type_minlen[BLOB_ATTR_LAST] = {
    [BLOB_ATTR_STRING] = 1,
    [BLOB_ATTR_INT8] = sizeof(uint8_t),
    [BLOB_ATTR_INT16] = sizeof(uint16_t),
    [BLOB_ATTR_INT32] = sizeof(uint32_t),
    [BLOB_ATTR_INT64] = sizeof(uint64_t),
    [BLOB_ATTR_DOUBLE] = sizeof(double),
};

bool blob_check_type(const void *ptr, unsigned int len, int type)
{
    const char *data = (const char *)ptr;

    if (type >= BLOB_ATTR_LAST || type < 0)
        return false;

    if (type >= BLOB_ATTR_INT8 && type <= BLOB_ATTR_DOUBLE) {
        if (len != blob_type_minlen[type])
            return false;
    } else {
        if (len < blob_type_minlen[type])
            return false;
    }

    if (type == BLOB_ATTR_STRING && data[len - 1] != 0)
        return false;

    return true;
}

static bool blob_parse_attr(struct blob_attr *attr, size_t attr_len, struct blob_attr **data,
                            const struct blob_attr_info *info, int max)
{
    unsigned int id;
    size_t len;

    if (be32toh(attr->id_len & htobe32(BLOB_ATTR_LEN_MASK)) < sizeof(struct blob_attr))
        return false;
    id = blob_id(attr);
    if (id >= (unsigned int)max)
        return false;
    len = blob_len(attr);
    if (len > attr_len - sizeof(struct blob_attr))
        return false;

    if (info) {
        unsigned int type = info[id].type;
        if (type < BLOB_ATTR_LAST &&
            !blob_check_type(blob_data(attr), (unsigned int)len, (int)type))
            return false;
        if (info[id].minlen && len < info[id].minlen)
            return false;
        if (info[id].maxlen && len > info[id].maxlen)
            return false;
        if (info[id].validate && !info[id].validate(&info[id], attr))
            return false;
    }

    if (!data[id])
        data[id] = attr;
    return true;
}

int blob_parse_untrusted(struct blob_attr *attr, size_t attr_len, struct blob_attr **data,
                         const struct blob_attr_info *info, int max)
{
    struct blob_attr *pos;
    size_t len = 0, rem;
    int found = 0;

    if (!attr || attr_len < sizeof(struct blob_attr))
        return 0;
    len = blob_raw_len(attr);
    if (be32toh(attr->id_len & htobe32(BLOB_ATTR_LEN_MASK)) < sizeof(struct blob_attr) ||
        len > attr_len)
        return 0;

    memset(data, 0, sizeof(struct blob_attr *) * (size_t)max);
    rem = blob_len(attr);
    __blob_for_each_attr(pos, blob_data(attr), rem) {
        if (blob_parse_attr(pos, rem, data, info, max))
            found++;
    }
    return found;
}

int blob_parse(struct blob_attr *attr, struct blob_attr **data, const struct blob_attr_info *info,
               int max)
{
    if (!attr)
        return 0;
    return blob_parse_untrusted(attr, blob_raw_len(attr), data, info, max);
}

struct blob_attr *blob_memdup(struct blob_attr *attr)
{
    size_t size = blob_pad_len(attr);
    struct blob_attr *ret = (struct blob_attr *)malloc(size);
    if (!ret)
        return NULL;
    memcpy(ret, attr, size);
    return ret;
}
