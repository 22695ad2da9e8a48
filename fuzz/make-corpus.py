#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: the config server's into
corpus/, the configuration loader's into load-corpus/ (the example
configurations in examples/ are seeds of the loader as well)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def pad(b):
    return b + b"\0" * (-len(b) % 4)


def named(typ, name, value):
    hdr = pad(struct.pack(">H", len(name)) + name.encode() + b"\0")
    return pad(struct.pack(">I", 0x80000000 | typ << 24 | (4 + len(hdr) + len(value))) + hdr + value)


def element(text):
    return pad(struct.pack(">I", 3 << 24 | (4 + len(text) + 1)) + text.encode() + b"\0")


def frame(members):
    return struct.pack(">I", 4 + len(members)) + members


def req(cmd, *args):
    return frame(named(3, "cmd", cmd.encode() + b"\0") + named(1, "arg", b"".join(element(a) for a in args)))


SEEDS = {
    "get-before-load": req("get", "auth.method"),
    "ident": req("ident", "x" * 50),
    "session": b"".join([
        req("load"), req("get", "system.hostname"), req("set", "system.hostname", "gw"),
        req("type", "system.hostname"), req("count", "network.interface"),
        req("exists", "system"), req("exists", "network", "interface"),
        req("option-exists", "network.interface.lan.proto", "dhcp"),
        req("keys", "network"), req("new", "network.interface"),
        req("new", "network.interface", "wan"), req("delete", "network.interface.wan"),
        req("find", "network.interface", "proto", "static"), req("json"), req("dump", "system"),
        req("dump-public"), req("validate"), req("commit", "-f"), req("cancel"), req("free"),
    ]),
    "open-group": b"".join([
        req("load-json"), req("load"), req("free"), req("load-baked"), req("free"),
        req("update"), req("commit"), req("free"), req("create", "/x"), req("free"),
        req("try-create", "/x"), req("free"), req("load", "a", "", ""), req("free"),
        req("update", "a", "", ""), req("free"),
    ]),
    "session-help": b"".join([
        req("load"), req("set", "system.hostname", "gw"), req("changes"), req("problems"),
        req("describe", "system.hostname"), req("describe", "no.such"), req("describe"),
        req("cancel"), req("changes"), req("free"),
    ]),
    "store-error": req("load") + req("set", "bad..path", "v") + req("nothing"),
    "missing-arg": frame(named(3, "cmd", b"get\0")),
    "cmd-integer": frame(named(5, "cmd", b"\0\0\0\1") + named(1, "arg", b"")),
    "arg-unterminated": frame(named(3, "cmd", b"get\0") + named(1, "arg", struct.pack(">I", 3 << 24 | 7) + b"abc\0")),
    "arg-short-element": frame(named(3, "cmd", b"get\0") + named(1, "arg", struct.pack(">I", 3 << 24 | 2))),
    "short-length": struct.pack(">I", 2) + b"abcd",
    "truncated": req("ident", "abc")[:11],
}

# Configuration files: small edge cases of the reader and of each value kind.
LOAD_SEEDS = {
    "empty": b"",
    "empty-object": b"{}",
    "top-array": b"[]",
    "top-invalid-utf8": b'"\xff"',
    "null-member": b'{"auth": null, "vpn": {"ipsec": null}}',
    "values": b'''{"auth": {"ldap": {"timeout": 20, "bind_dn": "cn=r\\u00e9\\n", "bind_password": "s"},
  "idle_timeout": "1.5h", "method": ["radius", "local"],
  "tacacs+": {"server": [{"hostname": "a", "port": "49"}, {"secret": "x\\u0001"}]}},
 "network": {"namespace": {"ns-1": {}}, "veth": {"v_1": {"namespace": "/network/namespace/ns-1"}}},
 "vpn": {"ipsec": {"tunnel": {"t1": {"enable": 1, "mgmt": -0, "auth": {"private_key": "-----\\nK\\n"}}}}}}''',
    "numbers": b'{"auth": {"ldap": {"timeout": 1e999}, "idle_timeout": 12.50, "tacacs+": {"server": [{"port": -1.5E+3}]}}}',
    "wrong-kinds": b'{"auth": {"ldap": {"timeout": "20", "tls": true}, "idle_timeout": "5 minutes", "method": [1]}}',
    "nul-byte": b'{"auth": {}}\0{"x": 1}',
    "nul-escape": b'{"auth": {"ldap": {"bind_dn": "a\\u0000b"}}}',
    "invalid-utf8": b'{"auth": {"ldap": {"bind_dn": "\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80"}}}',
    "invalid-utf8-key": b'{"network": {"namespace": {"\xff": {}}}}',
    "surrogate-escapes": b'{"auth": {"ldap": {"bind_dn": "\\udc00 \\ud800 \\ud83d\\ude00"}}}',
    "four-byte": "{\"auth\": {\"ldap\": {\"bind_dn\": \"\U0010ffff\U0001f600\"}}}".encode(),
    "bom": b'\xef\xbb\xbf{}',
    "unknown-key": b'{"auth": {"colour": "red"}}',
    "forbidden-key": b'{"network": {"namespace": {"a/b": {}, "": {}}}}',
    "duplicate-key": b'{"auth": {"ldap": {"timeout": 1, "timeout": 2}}}',
    "many-members": ('{"network": {"namespace": {' + ", ".join('"n%d": {}' % i for i in range(40)) + ', "n7": {}}}}').encode(),
    "deep": b'{"auth": ' * 60 + b'}' * 60,
    "deep-array": b'{"auth": {"method": ' + b'[' * 200 + b']' * 200 + b'}}',
    "trailing": b'{} x',
    "truncated": b'{"auth": {"ldap": {"bind_dn": "abc',
}


def write(folder, seeds):
    out = os.path.join(HERE, folder)
    os.makedirs(out, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


def main():
    write("corpus", SEEDS)
    write("load-corpus", LOAD_SEEDS)


if __name__ == "__main__":
    main()
