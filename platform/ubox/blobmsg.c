/* Named attributes: parsing against a policy and building. */
#include "libubox/blobmsg.h"

#include <errno.h>

static const int blob_type[__BLOBMSG_TYPE_LAST] = {
    [BLOBMSG_TYPE_INT8] = BLOB_ATTR_INT8,     [BLOBMSG_TYPE_INT16] = BLOB_ATTR_INT16,
    [BLOBMSG_TYPE_INT32] = BLOB_ATTR_INT32,   [BLOBMSG_TYPE_INT64] = BLOB_ATTR_INT64,
    [BLOBMSG_TYPE_DOUBLE] = BLOB_ATTR_DOUBLE, [BLOBMSG_TYPE_STRING] = BLOB_ATTR_STRING,
    [BLOBMSG_TYPE_UNSPEC] = BLOB_ATTR_BINARY,
};

/* The length field of the header, checked: a length below the header's own
 * size marks a malformed attribute. */
static bool blob_raw_len_sane(const struct blob_attr *attr)
{
    return (be32toh(attr->id_len) & BLOB_ATTR_LEN_MASK) >= sizeof(struct blob_attr);
}

static bool blobmsg_check_name(const struct blob_attr *attr, bool name)
{
    const struct blobmsg_hdr *hdr;
    unsigned int namelen;

    if (!blob_is_extended(attr))
        return !name;
    if (blob_len(attr) < sizeof(struct blobmsg_hdr))
        return false;
    hdr = (const struct blobmsg_hdr *)blob_data(attr);
    namelen = blobmsg_namelen(hdr);
    if (name && !namelen)
        return false;
    if (blob_len(attr) < (size_t)blobmsg_hdrlen(namelen))
        return false;
    if (hdr->name[namelen] != 0)
        return false;
    return true;
}

bool blobmsg_check_attr_len(const struct blob_attr *attr, bool name, size_t len)
{
    const char *data;
    size_t data_len;
    unsigned int id;

    if (len < sizeof(struct blob_attr) || !blob_raw_len_sane(attr))
        return false;
    if (blob_raw_len(attr) > len)
        return false;
    if (!blobmsg_check_name(attr, name))
        return false;

    id = blob_id(attr);
    if (id > BLOBMSG_TYPE_LAST)
        return false;
    if (!blob_type[id])
        return true;

    data = (const char *)blobmsg_data(attr);
    data_len = blobmsg_data_len(attr);
    return blob_check_type(data, (unsigned int)data_len, blob_type[id]);
}

bool blobmsg_check_attr(const struct blob_attr *attr, bool name)
{
    return blobmsg_check_attr_len(attr, name, blob_raw_len_sane(attr) ? blob_raw_len(attr) : 0);
}

int blobmsg_check_array_len(const struct blob_attr *attr, int type, size_t blob_len_limit)
{
    struct blob_attr *cur;
    size_t rem;
    bool name;
    int size = 0;

    if (!blobmsg_check_attr_len(attr, false, blob_len_limit))
        return -1;

    switch (blobmsg_type(attr)) {
    case BLOBMSG_TYPE_TABLE:
        name = true;
        break;
    case BLOBMSG_TYPE_ARRAY:
        name = false;
        break;
    default:
        return -1;
    }

    blobmsg_for_each_attr(cur, attr, rem) {
        if (type != BLOBMSG_TYPE_UNSPEC && blobmsg_type(cur) != type)
            return -1;
        if (!blobmsg_check_attr_len(cur, name, rem))
            return -1;
        size++;
    }
    return size;
}

int blobmsg_check_array(const struct blob_attr *attr, int type)
{
    return blobmsg_check_array_len(attr, type, blob_raw_len_sane(attr) ? blob_raw_len(attr) : 0);
}

int blobmsg_parse_array(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                        void *data, unsigned int len)
{
    struct blob_attr *attr;
    size_t rem = len;
    int i = 0;

    memset(tb, 0, sizeof(*tb) * (size_t)policy_len);
    if (!data || !len)
        return -EINVAL;

    __blob_for_each_attr(attr, data, rem) {
        if (i >= policy_len)
            break;
        if (policy[i].type != BLOBMSG_TYPE_UNSPEC &&
            blob_id(attr) != (unsigned int)policy[i].type) {
            i++;
            continue;
        }
        if (!blobmsg_check_attr_len(attr, false, rem))
            return -1;
        tb[i++] = attr;
    }
    return 0;
}

int blobmsg_parse(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                  void *data, unsigned int len)
{
    struct blob_attr *attr;
    size_t rem = len;
    int i;

    memset(tb, 0, sizeof(*tb) * (size_t)policy_len);
    if (!data || !len)
        return -EINVAL;

    __blob_for_each_attr(attr, data, rem) {
        for (i = 0; i < policy_len; i++) {
            if (!policy[i].name)
                continue;
            if (policy[i].type != BLOBMSG_TYPE_UNSPEC &&
                blob_id(attr) != (unsigned int)policy[i].type)
                continue;
            /* Checked before the name is read, so a short or unnamed
             * attribute is never read past its end. */
            if (!blobmsg_check_attr_len(attr, true, rem))
                return -1;
            if (tb[i])
                continue;
            if (blobmsg_namelen(blob_data(attr)) != strlen(policy[i].name))
                continue;
            if (strcmp(policy[i].name, blobmsg_name(attr)) != 0)
                continue;
            tb[i] = attr;
        }
    }
    return 0;
}

static struct blob_attr *blobmsg_new(struct blob_buf *buf, int type, const char *name,
                                     int payload_len, void **data)
{
    struct blob_attr *attr;
    struct blobmsg_hdr *hdr;
    int attrlen, namelen;
    char *pad_start, *pad_end;

    if (!name)
        name = "";
    namelen = (int)strlen(name);
    if (namelen > 0xffff)
        return NULL;
    attrlen = blobmsg_hdrlen((unsigned int)namelen) + payload_len;
    attr = blob_new(buf, type, attrlen);
    if (!attr)
        return NULL;

    attr->id_len |= htobe32(BLOB_ATTR_EXTENDED);
    hdr = (struct blobmsg_hdr *)blob_data(attr);
    hdr->namelen = htobe16((uint16_t)namelen);
    memcpy(hdr->name, name, (size_t)namelen);
    hdr->name[namelen] = '\0';

    pad_end = (char *)blobmsg_data(attr);
    *data = pad_end;
    pad_start = (char *)&hdr->name[namelen];
    if (pad_start < pad_end)
        memset(pad_start, 0, (size_t)(pad_end - pad_start));
    return attr;
}

int blobmsg_add_field(struct blob_buf *buf, int type, const char *name, const void *data,
                      unsigned int len)
{
    struct blob_attr *attr;
    void *data_dest;

    if (len > BLOB_ATTR_LEN_MASK)
        return -1;
    attr = blobmsg_new(buf, type, name, (int)len, &data_dest);
    if (!attr)
        return -1;
    if (len > 0)
        memcpy(data_dest, data, len);
    return 0;
}

void *blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array)
{
    struct blob_attr *head;
    int type = array ? BLOBMSG_TYPE_ARRAY : BLOBMSG_TYPE_TABLE;
    unsigned long offset = (unsigned long)((char *)buf->head - (char *)buf->buf) + BLOB_COOKIE;
    void *data;

    if (!name)
        name = "";
    head = blobmsg_new(buf, type, name, 0, &data);
    if (!head)
        return NULL;
    blob_set_raw_len(buf->head, (unsigned int)(blob_pad_len(buf->head) -
                                               blobmsg_hdrlen((unsigned int)strlen(name))));
    buf->head = head;
    return (void *)offset;
}
