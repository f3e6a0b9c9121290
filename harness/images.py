"""Image files for the tests, read and written in plain Python, independent of the program's own BMP code, and
ImageMagick's tools for a second opinion.

read_bmp(path or bytes) -> Bmp: the file header, the BITMAPINFOHEADER fields, the colour table and the pixels as
RGB bytes top-down. It reads what a Windows BMP reader accepts for uncompressed files: 1, 4, 8, 16 (5-5-5 for
BI_RGB, or BI_BITFIELDS masks), 24 and 32 (B, G, R, unused; or BI_BITFIELDS) bits per pixel, rows bottom-up
(positive height) or top-down (negative height). The colour table holds biClrUsed entries, or 2 to the power of
the depth when biClrUsed is 0 at 8 bits or fewer; above 8 bits a table is skipped, since the pixels start at
bfOffBits. Anything it cannot read raises ValueError with the reason.

build_bmp(...) -> bytes writes such files (for test input and to check the reader against ImageMagick);
rgb_of_file_via_imagemagick(path) reads a file with ImageMagick for a second opinion. write_ppm and parse_ppm
write and read binary PPM, parse_xwd decodes the xwd dumps screenshots are taken as. Channels of fewer than 8 bits
are widened one way throughout (_widen), and colour masks read one way (_mask_shift_bits).
"""

import os
import shutil
import struct
import subprocess


def _tool(name):
    """The imagemagick package's binary, whatever else of that name comes earlier on PATH."""
    path = "/usr/bin/" + name
    return path if os.path.exists(path) else (shutil.which(name) or name)


IM_DISPLAY = _tool("display")
IM_CONVERT = _tool("convert")
IM_IMPORT = _tool("import")

FILE_HEADER = struct.Struct("<2sIHHI")  # bfType, bfSize, bfReserved1, bfReserved2, bfOffBits
INFO_HEADER = struct.Struct("<IiiHHIIiiII")  # biSize ... biClrImportant
BI_RGB, BI_BITFIELDS = 0, 3


class Bmp:
    """A decoded BMP file; `rgb` is width * height * 3 bytes, top row first."""

    def __init__(self):
        self.bfType = self.bfSize = self.bfReserved1 = self.bfReserved2 = self.bfOffBits = None
        self.biSize = self.biWidth = self.biHeight = self.biPlanes = self.biBitCount = None
        self.biCompression = self.biSizeImage = self.biXPelsPerMeter = self.biYPelsPerMeter = None
        self.biClrUsed = self.biClrImportant = None
        self.palette = []  # [(r, g, b)] as the file's table holds them (the entries a reader uses)
        self.table_entries = 0  # entries between the headers and bfOffBits per biClrUsed (or the 2**bpp default)
        self.masks = None  # (red, green, blue) for 16 and 32 bits
        self.width = self.height = None
        self.top_down = False
        self.stride = None
        self.file_length = None
        self.rgb = b""

    def header_fields(self):
        names = ("bfType bfSize bfReserved1 bfReserved2 bfOffBits biSize biWidth biHeight biPlanes biBitCount "
                 "biCompression biSizeImage biXPelsPerMeter biYPelsPerMeter biClrUsed biClrImportant").split()
        return {n: getattr(self, n) for n in names}

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i : i + 3])


def _widen(value, bits):
    """A channel of `bits` bits widened to 8 by repeating its bits (5-bit 0x1F -> 0xFF, 0x10 -> 0x84)."""
    if bits >= 8:
        return (value >> (bits - 8)) & 0xFF
    if bits <= 0:
        return 0
    out, pos = 0, 8
    while pos > 0:
        pos -= bits
        out |= value << pos if pos >= 0 else value >> -pos
    return out & 0xFF


def _mask_shift_bits(mask):
    if mask == 0:
        return 0, 0
    shift = (mask & -mask).bit_length() - 1
    bits = bin(mask >> shift).count("1")
    if (mask >> shift) != (1 << bits) - 1:
        raise ValueError("colour mask 0x%X is not one run of bits" % mask)
    return shift, bits


def read_bmp(source):
    """Decodes a BMP file given as a path or as bytes."""
    data = source if isinstance(source, (bytes, bytearray)) else open(source, "rb").read()
    bmp = Bmp()
    bmp.file_length = len(data)
    if len(data) < FILE_HEADER.size + 4:
        raise ValueError("file too short for a BMP header (%d bytes)" % len(data))
    (bmp.bfType, bmp.bfSize, bmp.bfReserved1, bmp.bfReserved2, bmp.bfOffBits) = FILE_HEADER.unpack_from(data, 0)
    if bmp.bfType != b"BM":
        raise ValueError("not a BMP file: type %r" % bmp.bfType)
    (bmp.biSize,) = struct.unpack_from("<I", data, 14)
    if bmp.biSize < 40:
        raise ValueError("info header of %d bytes: only BITMAPINFOHEADER and its successors are read" % bmp.biSize)
    if len(data) < 14 + bmp.biSize:
        raise ValueError("file ends inside the info header")
    (_size, bmp.biWidth, bmp.biHeight, bmp.biPlanes, bmp.biBitCount, bmp.biCompression, bmp.biSizeImage,
     bmp.biXPelsPerMeter, bmp.biYPelsPerMeter, bmp.biClrUsed, bmp.biClrImportant) = INFO_HEADER.unpack_from(data, 14)
    bpp = bmp.biBitCount
    if bmp.biWidth <= 0 or bmp.biHeight == 0:
        raise ValueError("bad size %d x %d" % (bmp.biWidth, bmp.biHeight))
    if bmp.biPlanes != 1:
        raise ValueError("biPlanes is %d, not 1" % bmp.biPlanes)
    if bpp not in (1, 4, 8, 16, 24, 32):
        raise ValueError("unsupported bit count %d" % bpp)
    if bmp.biCompression not in (BI_RGB, BI_BITFIELDS) or (bmp.biCompression == BI_BITFIELDS and bpp not in (16, 32)):
        raise ValueError("unsupported compression %d at %d bits" % (bmp.biCompression, bpp))
    bmp.width = bmp.biWidth
    bmp.height = abs(bmp.biHeight)
    bmp.top_down = bmp.biHeight < 0
    after_header = 14 + bmp.biSize

    if bmp.biCompression == BI_BITFIELDS:
        if bmp.biSize >= 52:
            bmp.masks = struct.unpack_from("<III", data, 14 + 40)
        else:
            if len(data) < after_header + 12:
                raise ValueError("file ends inside the colour masks")
            bmp.masks = struct.unpack_from("<III", data, after_header)
            after_header += 12
    elif bpp == 16:
        bmp.masks = (0x7C00, 0x03E0, 0x001F)
    elif bpp == 32:
        bmp.masks = (0xFF0000, 0xFF00, 0xFF)

    if bpp <= 8:
        entries = bmp.biClrUsed or (1 << bpp)
        if entries > (1 << bpp):
            raise ValueError("biClrUsed %d exceeds 2**%d" % (bmp.biClrUsed, bpp))
    else:
        entries = bmp.biClrUsed
    bmp.table_entries = entries
    if bpp <= 8:
        if len(data) < after_header + entries * 4:
            raise ValueError("file ends inside the colour table")
        for i in range(entries):
            b, g, r, _x = data[after_header + i * 4 : after_header + i * 4 + 4]
            bmp.palette.append((r, g, b))

    bmp.stride = ((bpp * bmp.width + 31) // 32) * 4
    need = bmp.stride * bmp.height
    if bmp.bfOffBits < after_header or bmp.bfOffBits + need > len(data):
        raise ValueError("pixel rows do not fit: %d bytes from offset %d in a file of %d"
                         % (need, bmp.bfOffBits, len(data)))
    rows = data[bmp.bfOffBits : bmp.bfOffBits + need]
    order = range(bmp.height) if bmp.top_down else range(bmp.height - 1, -1, -1)
    out = bytearray(bmp.width * bmp.height * 3)
    w = bmp.width
    for out_y, file_y in enumerate(order):
        row = rows[file_y * bmp.stride : (file_y + 1) * bmp.stride]
        out[out_y * w * 3 : (out_y + 1) * w * 3] = _decode_row(bmp, row)
    bmp.rgb = bytes(out)
    return bmp


def _indices(row, bpp, width):
    """The palette index of each pixel of one row at 1, 4 or 8 bits."""
    if bpp == 8:
        return row[:width]
    per_byte = 8 // bpp
    out = bytearray(len(row) * per_byte)
    for k in range(per_byte):
        shift = 8 - bpp * (k + 1)
        table = bytes((v >> shift) & ((1 << bpp) - 1) for v in range(256))
        out[k::per_byte] = row.translate(table)
    return bytes(out[:width])


def _decode_row(bmp, row):
    bpp, w = bmp.biBitCount, bmp.width
    out = bytearray(w * 3)
    if bpp <= 8:
        idx = _indices(row, bpp, w)
        if idx and max(idx) >= len(bmp.palette):
            raise ValueError("pixel index %d beyond a colour table of %d entries" % (max(idx), len(bmp.palette)))
        for c in range(3):
            table = bytes(bmp.palette[i][c] if i < len(bmp.palette) else 0 for i in range(256))
            out[c::3] = idx.translate(table)
        return out
    if bpp == 24:
        out[0::3] = row[2 : w * 3 : 3]
        out[1::3] = row[1 : w * 3 : 3]
        out[2::3] = row[0 : w * 3 : 3]
        return out
    step = bpp // 8
    chans = [_mask_shift_bits(m) for m in bmp.masks]
    if bpp == 32 and all(bits == 8 and shift % 8 == 0 for shift, bits in chans):
        for c, (shift, _bits) in enumerate(chans):
            out[c::3] = row[shift // 8 : w * 4 : 4]
        return out
    if step == 2 and all(bits <= 8 for _s, bits in chans):
        # Each channel is the OR of what the low and the high byte hold; the parts are looked up per byte and ORed
        # as big integers (they never overlap, so nothing carries from one pixel to the next).
        lo, hi = row[0 : w * 2 : 2], row[1 : w * 2 : 2]
        tables = getattr(bmp, "_tables16", None)
        if tables is None:
            tables = []
            for mask, (shift, bits) in zip(bmp.masks, chans):
                tables.append((bytes(((v & mask) >> shift) & 0xFF for v in range(256)),
                               bytes((((v << 8) & mask) >> shift) & 0xFF for v in range(256)),
                               bytes(_widen(v, bits) if v < (1 << bits) else 0 for v in range(256))))
            bmp._tables16 = tables
        for c, (from_lo, from_hi, widen) in enumerate(tables):
            part = int.from_bytes(lo.translate(from_lo), "big") | int.from_bytes(hi.translate(from_hi), "big")
            out[c::3] = part.to_bytes(w, "big").translate(widen)
        return out
    values = struct.unpack_from("<%d%s" % (w, "H" if step == 2 else "I"), row, 0)
    for c, (shift, bits) in enumerate(chans):
        widen = [_widen(v, bits) for v in range(1 << bits)] if bits <= 16 else None
        mask = bmp.masks[c]
        if widen is None:
            out[c::3] = bytes(((v & mask) >> shift) >> (bits - 8) for v in values)
        else:
            out[c::3] = bytes(widen[(v & mask) >> shift] for v in values)
    return out


def build_bmp(width, height, rgb, bpp, top_down=False, palette=None, clr_used=None, table_entries=None):
    """The bytes of a BMP file of the given depth holding the RGB picture (top-down rgb bytes).

    At 1, 4 and 8 bits, palette lists the colours [(r, g, b)] and every pixel must be one of them; the table holds
    table_entries entries (default: the palette's length), padded with black, and biClrUsed says clr_used (default:
    the table's length; 0 is allowed, meaning a full table). At 16 bits the pixels are 5-5-5 (the top five bits of
    each channel) and clr_used/table_entries put an unused table ahead of them, as a capture of a 16-bit screen
    may. At 32 bits the fourth byte is 0.
    """
    if len(rgb) != width * height * 3:
        raise ValueError("rgb holds %d bytes, not %d" % (len(rgb), width * height * 3))
    stride = ((bpp * width + 31) // 32) * 4
    if bpp <= 8:
        if not palette or len(palette) > (1 << bpp):
            raise ValueError("a palette of 1 to %d colours is needed at %d bits" % (1 << bpp, bpp))
        lookup = {tuple(c): i for i, c in reversed(list(enumerate(palette)))}
        entries = len(palette) if table_entries is None else table_entries
        table = [tuple(c) for c in palette] + [(0, 0, 0)] * (entries - len(palette))
    else:
        entries = table_entries or 0
        table = [(0, 0, 0)] * entries
    used = entries if clr_used is None else clr_used
    rows = []
    for y in range(height):
        src = rgb[y * width * 3 : (y + 1) * width * 3]
        if bpp <= 8:
            idx = [lookup[tuple(src[x * 3 : x * 3 + 3])] for x in range(width)]
            bits = 0
            acc = bytearray()
            value = 0
            for i in idx:
                value = (value << bpp) | i
                bits += bpp
                if bits == 8:
                    acc.append(value)
                    value = bits = 0
            if bits:
                acc.append(value << (8 - bits))
            line = bytes(acc)
        elif bpp == 16:
            line = b"".join(
                struct.pack("<H", ((src[x * 3] >> 3) << 10) | ((src[x * 3 + 1] >> 3) << 5) | (src[x * 3 + 2] >> 3))
                for x in range(width)
            )
        elif bpp == 24:
            line = bytearray(width * 3)
            line[0::3], line[1::3], line[2::3] = src[2::3], src[1::3], src[0::3]
            line = bytes(line)
        elif bpp == 32:
            line = bytearray(width * 4)
            line[0::4], line[1::4], line[2::4] = src[2::3], src[1::3], src[0::3]
            line = bytes(line)
        else:
            raise ValueError("unsupported bit count %d" % bpp)
        rows.append(line + b"\0" * (stride - len(line)))
    if not top_down:
        rows.reverse()
    pixels = b"".join(rows)
    table_bytes = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in table)
    off = 14 + 40 + len(table_bytes)
    info = INFO_HEADER.pack(40, width, -height if top_down else height, 1, bpp, BI_RGB, len(pixels), 0, 0, used, 0)
    return FILE_HEADER.pack(b"BM", off + len(pixels), 0, 0, off) + info + table_bytes + pixels


def check_capture(data, width, height, bits):
    """Asserts that data is a whole capture of a width x height screen at `bits` as the program writes it: every
    header field, a 256-entry table at 8 bits and none above (biClrUsed 0, as the pixel read leaves it), and exactly
    the bytes its headers describe. Returns the file as read."""
    read = read_bmp(data)
    stride = ((bits * width + 31) // 32) * 4
    assert (read.bfType, read.bfReserved1, read.bfReserved2) == (b"BM", 0, 0)
    assert (read.biSize, read.biWidth, read.biHeight, read.biPlanes, read.biBitCount) == (40, width, height, 1, bits)
    assert (read.biCompression, read.biXPelsPerMeter, read.biYPelsPerMeter) == (BI_RGB, 0, 0)
    assert (read.biClrUsed, read.biClrImportant) == (0, 0)
    assert read.biSizeImage == stride * height
    assert read.bfOffBits == 54 + (1024 if bits == 8 else 0)
    assert read.bfSize == read.bfOffBits + stride * height == read.file_length, (
        "header says %d bytes, the file has %d" % (read.bfSize, read.file_length))
    return read


def rgb_of_file_via_imagemagick(path):
    """(width, height, RGB bytes top-down) of an image file as ImageMagick reads it."""
    r = subprocess.run([IM_CONVERT, str(path), "-depth", "8", "ppm:-"], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=120)
    if r.returncode != 0:
        raise ValueError("ImageMagick cannot read %s: %s" % (path, r.stderr.decode(errors="replace").strip()))
    return parse_ppm(r.stdout)


def parse_ppm(data):
    """(width, height, RGB bytes) of a binary PPM (P6, maxval 255)."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        if data[pos : pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("not an 8-bit binary PPM: %r" % fields)
    w, h = int(fields[1]), int(fields[2])
    return w, h, bytes(data[pos : pos + w * h * 3])


def write_ppm(path, width, height, rgb):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        f.write(rgb)


def parse_xwd(data):
    """Decodes an xwd dump of a ZPixmap (TrueColor, DirectColor or a colour-mapped visual) to (w, h, RGB bytes).

    Channels of fewer than 8 bits are widened by repeating their top bits, so the top bits of every channel are
    exactly what the screen holds.
    """
    names = (
        "header_size file_version pixmap_format pixmap_depth width height xoffset byte_order bitmap_unit "
        "bitmap_bit_order bitmap_pad bits_per_pixel bytes_per_line visual_class red_mask green_mask blue_mask "
        "bits_per_rgb colormap_entries ncolors"
    ).split()
    h = dict(zip(names, struct.unpack(">20I", data[:80])))
    if h["pixmap_format"] != 2:
        raise ValueError("xwd dump is not a ZPixmap")
    w, ht, bpp, stride = h["width"], h["height"], h["bits_per_pixel"], h["bytes_per_line"]
    cmap_off = h["header_size"]
    pix_off = cmap_off + h["ncolors"] * 12
    pixels = data[pix_off : pix_off + stride * ht]
    if len(pixels) < stride * ht:
        raise ValueError("xwd dump is truncated")
    little = h["byte_order"] == 0
    out = bytearray(w * ht * 3)
    colour_mapped = h["visual_class"] in (0, 1, 2, 3)  # StaticGray, GrayScale, StaticColor, PseudoColor
    if colour_mapped:
        rt, gt, bt = bytearray(256), bytearray(256), bytearray(256)
        lut = {}
        for i in range(h["ncolors"]):
            pixel, r, g, b, _flags, _pad = struct.unpack(">IHHHBB", data[cmap_off + i * 12 : cmap_off + i * 12 + 12])
            lut[pixel] = (r >> 8, g >> 8, b >> 8)
        if bpp != 8:
            raise ValueError("colour-mapped xwd with %d bits per pixel" % bpp)
        for pixel, (r, g, b) in lut.items():
            if pixel < 256:
                rt[pixel], gt[pixel], bt[pixel] = r, g, b
        for y in range(ht):
            row = pixels[y * stride : y * stride + w]
            base = y * w * 3
            out[base : base + w * 3 : 3] = row.translate(bytes(rt))
            out[base + 1 : base + w * 3 : 3] = row.translate(bytes(gt))
            out[base + 2 : base + w * 3 : 3] = row.translate(bytes(bt))
        return w, ht, bytes(out)
    masks = (h["red_mask"], h["green_mask"], h["blue_mask"])
    if bpp not in (16, 24, 32):
        raise ValueError("unsupported xwd layout: %d bits per pixel" % bpp)
    chans = [_mask_shift_bits(m) for m in masks]
    # Per channel, what each of its values shows: through the colour map on a DirectColor visual, otherwise the
    # value widened to 8 bits.
    tables = [bytearray(_widen(v, bits) if v < (1 << bits) else 0 for v in range(256)) for _s, bits in chans]
    if h["visual_class"] == 5:
        for i in range(h["ncolors"]):
            pixel, r, g, b, _flags, _pad = struct.unpack(">IHHHBB", data[cmap_off + i * 12 : cmap_off + i * 12 + 12])
            for c, level in enumerate((r, g, b)):
                index = (pixel & masks[c]) >> chans[c][0]
                if index < 256:
                    tables[c][index] = level >> 8
    tables = [bytes(t) for t in tables]
    step = bpp // 8
    if all(bits <= 8 for _s, bits in chans) and step == 2:
        # Each channel is the OR of what its low byte and its high byte hold; both parts are looked up per byte
        # and ORed as big integers (the parts never overlap, so nothing carries between pixels).
        from_lo = [bytes(((v & m) >> s) & 0xFF for v in range(256)) for m, (s, _b) in zip(masks, chans)]
        from_hi = [bytes((((v << 8) & m) >> s) & 0xFF for v in range(256)) for m, (s, _b) in zip(masks, chans)]
        lo_i, hi_i = (0, 1) if little else (1, 0)
        for y in range(ht):
            row = pixels[y * stride : y * stride + w * 2]
            lo, hi = row[lo_i::2], row[hi_i::2]
            base = y * w * 3
            for c in range(3):
                part = int.from_bytes(lo.translate(from_lo[c]), "big") | int.from_bytes(hi.translate(from_hi[c]), "big")
                out[base + c : base + w * 3 : 3] = part.to_bytes(w, "big").translate(tables[c])
        return w, ht, bytes(out)
    if all(bits == 8 and shift % 8 == 0 for shift, bits in chans):
        # Whole bytes per channel: slice them out.
        offsets = [s // 8 if little else step - 1 - s // 8 for s, _b in chans]
        for y in range(ht):
            row = pixels[y * stride : y * stride + w * step]
            base = y * w * 3
            for c in range(3):
                out[base + c : base + w * 3 : 3] = row[offsets[c] :: step].translate(tables[c])
        return w, ht, bytes(out)
    order = "little" if little else "big"
    cache = {}
    for y in range(ht):
        row = pixels[y * stride : y * stride + w * step]
        base = y * w * 3
        for x in range(w):
            value = int.from_bytes(row[x * step : x * step + step], order)
            rgb = cache.get(value)
            if rgb is None:
                rgb = bytes(tables[c][((value & masks[c]) >> chans[c][0]) & 0xFF] for c in range(3))
                cache[value] = rgb
            out[base + x * 3 : base + x * 3 + 3] = rgb
    return w, ht, bytes(out)
