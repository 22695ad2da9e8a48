#!/usr/bin/env python3
"""Writes a UCI package of N interface sections to standard output: the
comparison anchor for `config get` (a shell script's read of one value on
the device's other configuration system).

Usage: make-uci-package.py [SECTIONS]   (default 300: about 41 KB)

Read the last section's address with
    uci -c DIR get network.lan_299.ipaddr
where DIR holds the output as the file "network"."""
import sys


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    out = []
    for i in range(count):
        third, fourth = divmod(i, 250)
        out.append(f"config interface 'lan_{i:03d}'\n"
                   f"\toption device 'br-lan.{i + 2}'\n"
                   f"\toption proto 'static'\n"
                   f"\toption ipaddr '10.{third}.{fourth}.1'\n"
                   f"\toption netmask '255.255.255.0'\n"
                   f"\n")
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
