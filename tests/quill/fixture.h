// A scratch directory with a schema of its own, so the store is tested
// without depending on the subsystems' schema fragments.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "quill.h"

using copy_ptr = unique_config;

inline const char *const test_schema = R"({
  "system": {"type": "object", "members": {
    "hostname": {"type": "hostname", "default": "router"},
    "description": {"type": "string", "multiline": true},
    "motto": {"type": "string", "max": 8},
    "enabled": {"type": "boolean", "default": true},
    "retries": {"type": "integer", "default": 3, "min": 0, "max": 10},
    "ratio": {"type": "number", "default": 0.5},
    "timeout": {"type": "duration", "default": "90s"},
    "mode": {"type": "enum", "values": ["auto", "manual"], "default": "auto"},
    "secret": {"type": "string", "private": true},
    "gateway": "ipv4",
    "dns6": "ipv6",
    "lan": "ipv4-prefix",
    "mac": "mac",
    "servers": {"type": "array", "items": "ip"},
    "flags": {"type": "array", "items": {"type": "enum", "values": ["a", "b"]}}
  }},
  "network": {"type": "object", "members": {
    "interface": {"type": "collection", "member": {"type": "object", "members": {
      "proto": {"type": "enum", "values": ["static", "dhcp"], "default": "dhcp"},
      "address": "ipv4",
      "mtu": {"type": "integer", "default": 1500},
      "peer": {"type": "reference", "target": "network.interface"}
    }}},
    "routes": {"type": "array", "items": {"type": "object", "members": {
      "target": "ipv4-prefix",
      "via": {"type": "reference", "target": "network.interface"}
    }}}
  }}
})";

class StoreTest : public ::testing::Test {
protected:
    std::string dir, schema, file;
    config_file_record rec{};

    void SetUp() override
    {
        char tmpl[] = "/tmp/quill-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        schema = dir + "/schema.json";
        file = dir + "/config.json";
        put(schema, test_schema);
        rec.config_file = file.c_str();
        rec.schema_file = schema.c_str();
        log_init("quill-test", 0, 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static void put(const std::string &path, const std::string &text)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    static std::string slurp(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    copy_ptr load() { return copy_ptr(config_load_file(&rec)); }
    copy_ptr update() { return copy_ptr(config_update_file(&rec)); }
    /* Loads with the given file text, capturing the store's messages. */
    copy_ptr load_text(const std::string &text, std::string *messages = nullptr)
    {
        put(file, text);
        testing::internal::CaptureStderr();
        copy_ptr c = load();
        std::string err = testing::internal::GetCapturedStderr();
        if (messages)
            *messages = err;
        return c;
    }
    static std::string text(char *t)
    {
        std::string s = t ? t : "(null)";
        free(t);
        return s;
    }
};
