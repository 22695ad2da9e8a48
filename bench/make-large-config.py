#!/usr/bin/env python3
"""Writes a large configuration (JSON) to standard output for benchmarks.

Usage: make-large-config.py [TUNNELS]              (default 200)
       make-large-config.py --disabled TUNNELS   (switched-off tunnels only)

Each tunnel has two policies, remote peers and a pre-shared key, every
tenth one certificates as well: 200 tunnels give about 200 KB of compact
JSON.  Later collections can be added here as their
generators grow.

With --disabled every tunnel is switched off and holds nothing else, so
the generators' cost per tunnel is what walking the collection costs:
100,000 of them are about 3 MB."""
import json
import sys

CERT = "-----BEGIN CERTIFICATE-----\n" + ("MIIB" + "A" * 60 + "\n") * 12 + "-----END CERTIFICATE-----\n"


def tunnel(i):
    return {
        "enable": True,
        "mode": "tunnel",
        "local": {"type": "defaultroute", "id": {"type": "fqdn", "fqdn_id": f"gw{i}.example.net"}},
        "remote": {
            "hostname": [f"198.51.{i // 250}.{i % 250 + 1}", f"peer{i}.example.org"],
            "id": {"type": "ipv4", "ipv4_id": f"198.51.{i // 250}.{i % 250 + 1}"},
        },
        "ike": {
            "version": "ikev2",
            "phase1_lifetime": "3h",
            "phase2_lifetime": "1h",
            "phase1_proposal": [{"cipher": "aes256", "hash": "sha256", "dh_group": "modp2048"}],
            "phase2_proposal": [{"cipher": "aes256gcm16", "hash": "sha256", "dh_group": "ecp256"}],
        },
        "dpd": {"enable": True, "delay": 30, "timeout": 150},
        "policy": [
            {"local": {"type": "network", "network": f"10.{i // 250}.{i % 250}.0/24", "protocol": "any"},
             "remote": {"network": f"172.16.{i % 250}.0/24", "protocol": "any"}},
            {"local": {"type": "network", "network": f"10.200.{i % 250}.0/24", "protocol": "tcp", "port": "443"},
             "remote": {"network": f"172.17.{i % 250}.0/24", "protocol": "tcp", "port": "8443"}},
        ],
        "auth": {
            "type": "x509" if i % 10 == 0 else "secret",
            "secret": f"pre-shared-key-{i:04d}-" + "k" * 24,
            "cert": CERT if i % 10 == 0 else "",
            "peer_ca": CERT if i % 10 == 0 else "",
        },
    }


def main():
    args = sys.argv[1:]
    if args[:1] == ["--disabled"]:
        count = int(args[1])
        tunnels = {f"tunnel{i:06d}": {"enable": False} for i in range(count)}
        json.dump({"vpn": {"ipsec": {"tunnel": tunnels}}}, sys.stdout, separators=(",", ":"))
        sys.stdout.write("\n")
        return
    count = int(args[0]) if args else 200
    config = {
        "auth": {"ldap": {"bind_dn": "cn=reader,dc=example,dc=net", "timeout": 20}},
        "vpn": {"ipsec": {"tunnel": {f"tunnel{i:03d}": tunnel(i) for i in range(count)}}},
    }
    json.dump(config, sys.stdout, separators=(",", ":"))
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
