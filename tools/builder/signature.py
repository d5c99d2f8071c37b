"""Who signed a file: the subject of the signer's certificate in an Authenticode certificate table,
read from its PKCS#7 SignedData with a small DER reader. Nothing here checks the signature;
`osslsigncode verify` does that."""

import struct

WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2
SIGNED_DATA = "1.2.840.113549.1.7.2"
NAMES = {"2.5.4.3": "CN", "2.5.4.6": "C", "2.5.4.7": "L", "2.5.4.8": "ST", "2.5.4.10": "O", "2.5.4.11": "OU",
         "1.2.840.113549.1.9.1": "emailAddress"}
SEQUENCE, SET, OID, INTEGER, CONTEXT_0 = 0x30, 0x31, 0x06, 0x02, 0xA0
STRINGS = {0x0C: "utf-8", 0x13: "latin-1", 0x16: "latin-1", 0x14: "latin-1", 0x1E: "utf-16-be", 0x1C: "utf-32-be"}


def _element(data, at):
    """(tag, content, end) of the DER element at `at`."""
    if at + 2 > len(data):
        raise ValueError("DER element cut short")
    tag, length = data[at], data[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7F
        if not 1 <= count <= 4 or at + count > len(data):
            raise ValueError("DER length of a wrong form")
        length, at = int.from_bytes(data[at:at + count], "big"), at + count
    if at + length > len(data):
        raise ValueError("DER element beyond its container")
    return tag, data[at:at + length], at + length


def _children(content):
    found, at = [], 0
    while at < len(content):
        tag, value, at = _element(content, at)
        found.append((tag, value))
    return found


def _expect(element, tag):
    if element[0] != tag:
        raise ValueError(f"DER tag {element[0]:#x} where {tag:#x} belongs")
    return element[1]


def _oid(content):
    numbers, value = [], 0
    for byte in content:
        value = value << 7 | byte & 0x7F
        if not byte & 0x80:
            numbers.append(value)
            value = 0
    first = min(numbers[0] // 40, 2)
    return ".".join(map(str, [first, numbers[0] - 40 * first] + numbers[1:]))


def _name(content):
    """A distinguished name as "CN=..., O=...", in the order the certificate holds it."""
    parts = []
    for rdn in _children(content):
        for attribute in _children(_expect(rdn, SET)):
            oid, value = _children(_expect(attribute, SEQUENCE))[:2]
            key = _oid(_expect(oid, OID))
            text = value[1].decode(STRINGS.get(value[0], "latin-1"), "replace")
            parts.append(f"{NAMES.get(key, key)}={text}")
    return ", ".join(parts)


def signer_subject(table):
    """The subject of the first signer's certificate in a certificate table; ValueError when the
    table holds no PKCS#7 signature that names its signer's certificate."""
    if len(table) < 8:
        raise ValueError("certificate table cut short")
    length, _, kind = struct.unpack_from("<IHH", table)
    if kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA or not 8 < length <= len(table):
        raise ValueError("no PKCS#7 signature in the certificate table")
    content_type, signed = _children(_expect(_element(table[8:length], 0)[:2], SEQUENCE))[:2]
    if _oid(_expect(content_type, OID)) != SIGNED_DATA:
        raise ValueError("a signature that is not PKCS#7 SignedData")
    fields = _children(_expect(_children(_expect(signed, CONTEXT_0))[0], SEQUENCE))
    certificates = [c for tag, value in fields if tag == CONTEXT_0 for c in _children(value)]
    signer = _children(_expect(fields[-1], SET))[0]
    issuer_and_serial = _children(_expect(signer, SEQUENCE))[1]
    issuer, serial = _children(_expect(issuer_and_serial, SEQUENCE))[:2]
    for certificate in certificates:
        tbs = _children(_expect(_children(_expect(certificate, SEQUENCE))[0], SEQUENCE))
        if tbs[0][0] == CONTEXT_0:  # the optional version
            tbs = tbs[1:]
        if tbs[0] == serial and tbs[2] == issuer:
            return _name(_expect(tbs[4], SEQUENCE))
    raise ValueError("the signer's certificate is not in the signature")
