"""Icon files (.ico) as the builder takes them, and the icon group a built installer carries.

An icon file is a directory of images, each a PNG or a bitmap (a BITMAPINFOHEADER, colour rows
of twice the image's height: colours, then the transparency mask). The resource compiler copies
the images as they are, so a broken file would give an installer whose icon Windows cannot
draw; the builder refuses one instead.
"""

import struct

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
BITMAP_DEPTHS = (1, 4, 8, 16, 24, 32)


def _size(byte):
    return byte or 256  # 0 in a directory entry stands for 256 (or more)


def image_size(image):
    """(width, height, bits per pixel, "png" or "bmp") of one icon image; ValueError when it is
    neither a PNG nor a bitmap whose data the image holds in full."""
    if image.startswith(PNG_SIGNATURE):
        if len(image) < 33 or image[12:16] != b"IHDR":
            raise ValueError("a PNG image without its header")
        width, height, depth, colour = struct.unpack_from(">IIBB", image, 16)
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour)
        if not channels or not width or not height:
            raise ValueError("a PNG image of an unknown kind")
        return width, height, depth * channels, "png"
    if len(image) < 40:
        raise ValueError("an image that is neither PNG nor bitmap")
    size, width, height, planes, bits, compression, _, _, _, used = struct.unpack_from("<IiiHHIIiiI", image)
    if size < 40 or planes != 1 or bits not in BITMAP_DEPTHS or compression != 0:
        raise ValueError("an image that is neither PNG nor an uncompressed bitmap")
    if width <= 0 or height != 2 * width:
        raise ValueError(f"a bitmap of {width}x{height // 2 if height > 0 else height} that is not square")
    colours = (used or 1 << bits) if bits <= 8 else 0
    row_bytes = (width * bits + 31) // 32 * 4 + (width + 31) // 32 * 4  # colours and mask, 4-byte rows
    if len(image) < size + 4 * colours + row_bytes * width:
        raise ValueError(f"a {width} px bitmap cut short")
    return width, width, bits, "bmp"


def read_ico(data):
    """[(width, height, bits, kind)] of the images of an icon file; ValueError naming the first
    problem of a file that is not one."""
    if len(data) < 6:
        raise ValueError("too short for an icon file")
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file (a cursor, or no icon header)")
    if count == 0:
        raise ValueError("an icon file without images")
    if len(data) < 6 + 16 * count:
        raise ValueError("icon directory cut short")
    images = []
    for i in range(count):
        width, height, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if length == 0 or offset < 6 + 16 * count or offset + length > len(data):
            raise ValueError(f"image {i + 1} lies outside the file")
        try:
            found = image_size(data[offset:offset + length])
        except ValueError as e:
            raise ValueError(f"image {i + 1}: {e}") from None
        if (found[0], found[1]) != (_size(width), _size(height)) and not (width == height == 0 and found[0] > 256):
            raise ValueError(f"image {i + 1} is {found[0]}x{found[1]} but listed as {_size(width)}x{_size(height)}")
        images.append(found)
    return images


def group_entries(group):
    """[(width, height, bits, icon id)] of an icon group resource (RT_GROUP_ICON)."""
    reserved, kind, count = struct.unpack_from("<HHH", group)
    if reserved != 0 or kind != 1 or len(group) < 6 + 14 * count:
        raise ValueError("not an icon group")
    entries = []
    for i in range(count):
        width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        entries.append((_size(width), _size(height), bits, icon_id))
    return entries
