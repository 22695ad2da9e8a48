#!/usr/bin/env python3
"""Writes the seed corpus of the config server fuzz target into corpus/."""
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
    "store-error": req("load") + req("set", "bad..path", "v") + req("nothing"),
    "missing-arg": frame(named(3, "cmd", b"get\0")),
    "cmd-integer": frame(named(5, "cmd", b"\0\0\0\1") + named(1, "arg", b"")),
    "arg-unterminated": frame(named(3, "cmd", b"get\0") + named(1, "arg", struct.pack(">I", 3 << 24 | 7) + b"abc\0")),
    "arg-short-element": frame(named(3, "cmd", b"get\0") + named(1, "arg", struct.pack(">I", 3 << 24 | 2))),
    "short-length": struct.pack(">I", 2) + b"abcd",
    "truncated": req("ident", "abc")[:11],
}


def main():
    out = os.path.join(HERE, "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
