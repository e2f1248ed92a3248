"""Bech32 and Bech32m strings of any prefix, written with the `bech32`
package, which itself writes Bech32 only: a Bech32m checksum is its own
checksum function under the Bech32m constant."""

import bech32

BECH32M = 0x2BC830A3


def encode_groups(hrp, groups, bech32m):
    if not bech32m:
        return bech32.bech32_encode(hrp, groups)
    values = bech32.bech32_hrp_expand(hrp) + list(groups)
    polymod = bech32.bech32_polymod(values + [0] * 6) ^ BECH32M
    checksum = [(polymod >> 5 * (5 - i)) & 31 for i in range(6)]
    return hrp + "1" + "".join(bech32.CHARSET[d] for d in list(groups) + checksum)


def encode(hrp, payload, bech32m):
    return encode_groups(hrp, bech32.convertbits(payload, 8, 5), bech32m)
