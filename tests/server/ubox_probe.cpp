// Builds and parses one frame with the blob layer.  ubox_linkage.sh compiles
// it twice: through ubox.h, where it must link and run, and with the blob
// headers included straight, where it must not link.
#ifdef THROUGH_WRAPPER
#include "ubox.h"
#else
#include <libubox/blobmsg.h>
#endif

int main()
{
    blob_buf b{};
    if (blob_buf_init(&b, 0) != 0)
        return 1;
    blobmsg_add_string(&b, "cmd", "get");
    const blobmsg_policy policy[] = {{"cmd", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[1];
    int r = blobmsg_parse(policy, 1, tb, blob_data(b.head), (unsigned)blob_len(b.head));
    bool found = r == 0 && tb[0];
    blob_buf_free(&b);
    return found ? 0 : 1;
}
