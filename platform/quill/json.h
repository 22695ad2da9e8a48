/* RapidJSON as this library uses it: every file includes this header before
 * any RapidJSON header, so all of them agree on its settings. */
#ifndef QUILL_JSON_H
#define QUILL_JSON_H
#include <cstddef>
#include <cstdint>

#ifdef RAPIDJSON_RAPIDJSON_H_
#error "include json.h before any RapidJSON header"
#endif

/* The document's pool allocator rounds its blocks (and the header in front
 * of the first one) to 4 bytes on 32-bit targets, but a parsed value holds
 * a double or a 64-bit integer, which MIPS reads with 8-byte loads that trap
 * on any address not a multiple of 8.  Every block is rounded to 8 instead. */
#define RAPIDJSON_ALIGN(x) (((x) + 7u) & ~static_cast<std::size_t>(7u))
static_assert(alignof(double) <= 8 && alignof(std::int64_t) <= 8 && alignof(void *) <= 8,
              "pool blocks are aligned for the strictest type a value holds");

#include <rapidjson/rapidjson.h>
#endif
