"""The version information resource (RT_VERSION): what Explorer's Properties -> Details and the
elevation prompt show of a file. The builder writes the resource's bytes itself rather than
through a resource script, so that any text (quotes, backslashes, Cyrillic) reaches the file
exactly as given, in UTF-16, without a compiler's escaping rules in between.

A block is: its length, the length of its value, its type (0 binary, 1 text), a NUL-terminated
UTF-16 key, then the value and the child blocks, each starting on a 4-byte boundary.
"""

import struct

FIXED_SIGNATURE = 0xFEEF04BD
# US English in UTF-16: the translation readers look for first when a file names none they know.
LANGUAGE, CODE_PAGE = 0x0409, 1200
VOS_NT_WINDOWS32, VFT_APP = 0x00040004, 1
# Keys beyond the standard ones, which Explorer does not show: what the inspector reports of a
# build that the installer's code holds only as compiled constants.
PAYLOAD_FILE, ADDON_TITLE = "PayloadFile", "AddonTitle"


def _padded(data):
    return data + b"\0" * (-len(data) % 4)


def _block(key, value=b"", text=False, children=()):
    value_length = len(value) // 2 if text else len(value)
    head = _padded(struct.pack("<HHH", 0, value_length, 1 if text else 0) + (key + "\0").encode("utf-16-le"))
    body = head + value
    if children:
        body = _padded(body) + b"".join(_padded(child) for child in children[:-1]) + children[-1]
    return struct.pack("<H", len(body)) + body[2:]


def _text(value):
    return (value + "\0").encode("utf-16-le")


def encode(file_version, strings):
    """The resource: file_version is four numbers (0-65535), also used as the fixed product
    version; strings a list of (key, value) in the order they are to appear."""
    ms, ls = file_version[0] << 16 | file_version[1], file_version[2] << 16 | file_version[3]
    fixed = struct.pack("<13I", FIXED_SIGNATURE, 0x00010000, ms, ls, ms, ls, 0x3F, 0, VOS_NT_WINDOWS32, VFT_APP,
                        0, 0, 0)
    table = _block(f"{LANGUAGE:04X}{CODE_PAGE:04X}", children=[_block(k, _text(v), text=True) for k, v in strings])
    translation = _block("Translation", struct.pack("<HH", LANGUAGE, CODE_PAGE))
    return _block("VS_VERSION_INFO", fixed, children=[_block("StringFileInfo", text=True, children=[table]),
                                                      _block("VarFileInfo", text=True, children=[translation])])


def _parse(data, at, end):
    """(key, value bytes, type, [children], end of block) of the block at `at`."""
    if at + 6 > end:
        raise ValueError("version information cut short")
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    stop = at + length
    if length < 6 or stop > end:
        raise ValueError("version information block of a wrong length")
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end + 2 > stop:
            raise ValueError("version information key without an end")
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = key_end + 2 + (-(key_end + 2 - at) % 4)
    value_end = min(stop, value_at + (value_length * 2 if kind == 1 else value_length))
    value = data[value_at:value_end]
    children, child = [], value_end + (-(value_end - at) % 4)
    while child + 6 <= stop:
        parsed = _parse(data, child, stop)
        children.append(parsed)
        child = parsed[4] + (-(parsed[4] - at) % 4)
    return key, value, kind, children, stop


def decode(data):
    """{"file_version": (a, b, c, d), "product_version": (...), "strings": {key: value},
    "translations": [(language, code page)]} of a version information resource."""
    key, fixed, _, children, _ = _parse(data, 0, len(data))
    if key != "VS_VERSION_INFO" or len(fixed) < 52 or struct.unpack_from("<I", fixed)[0] != FIXED_SIGNATURE:
        raise ValueError("not a version information resource")
    words = struct.unpack_from("<4I", fixed, 8)
    found = {"file_version": (words[0] >> 16, words[0] & 0xFFFF, words[1] >> 16, words[1] & 0xFFFF),
             "product_version": (words[2] >> 16, words[2] & 0xFFFF, words[3] >> 16, words[3] & 0xFFFF),
             "strings": {}, "translations": []}
    for name, _, _, blocks, _ in children:
        for table_name, value, _, entries, _ in blocks:
            if name == "StringFileInfo":
                for entry_key, text, _, _, _ in entries:
                    found["strings"][entry_key] = text.decode("utf-16-le").split("\0", 1)[0]
            elif name == "VarFileInfo" and table_name == "Translation":
                found["translations"] += [struct.unpack_from("<HH", value, i) for i in range(0, len(value) - 3, 4)]
    return found
