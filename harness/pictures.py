"""Known pictures to put on a screen, comparisons of RGB pictures, xwd dumps decoded, and ImageMagick's tools."""

import os
import shutil
import struct


def _tool(name):
    """The imagemagick package's binary, whatever else of that name comes earlier on PATH."""
    path = "/usr/bin/" + name
    return path if os.path.exists(path) else (shutil.which(name) or name)


IM_DISPLAY = _tool("display")
IM_CONVERT = _tool("convert")
IM_IMPORT = _tool("import")


def _noise(length, seed):
    """Deterministic pseudo-random bytes (a 32-bit LCG), the same on every machine."""
    out = bytearray(length)
    state = seed & 0xFFFFFFFF
    for i in range(length):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


_NOISE_PERIOD = 8191  # prime, so row offsets do not repeat before 8191 rows


def picture(width, height, variant=0):
    """RGB bytes, top-down, of a deterministic picture with per-pixel detail everywhere.

    Every row differs from its neighbours and every pixel from the ones beside it, so a capture shifted by one
    pixel, mirrored, or with its rows in the wrong order does not match. Variant 0 is a horizontal red ramp, a
    vertical green ramp and blue noise; variant 1 is red noise, a reversed green ramp and a blue ramp by rows, so
    it differs from variant 0 in almost every pixel.
    """
    if variant not in (0, 1):
        raise ValueError("variant must be 0 or 1")
    span = max(width, 1)
    noise = _noise(_NOISE_PERIOD, 12345 + variant * 777)
    noise = noise * (span // _NOISE_PERIOD + 2)
    ramp = bytes(x & 255 for x in range(width))
    reverse = bytes(255 - (x & 255) for x in range(width))
    out = bytearray(width * height * 3)
    for y in range(height):
        row = bytearray(width * 3)
        offset = (y * 1031) % _NOISE_PERIOD
        dots = noise[offset : offset + width]
        if variant == 0:
            row[0::3] = ramp
            row[1::3] = bytes([y & 255]) * width
            row[2::3] = dots
        else:
            row[0::3] = dots
            row[1::3] = reverse
            row[2::3] = bytes([(y * 3) & 255]) * width
        out[y * width * 3 : (y + 1) * width * 3] = row
    return bytes(out)


def write_ppm(path, width, height, rgb):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        f.write(rgb)


def diff_rgb(width, height, a, b, bits=8):
    """Compares two RGB pictures on the top `bits` bits of each channel.

    Returns (number of differing pixels, first difference as (x, y, pixel_a, pixel_b) or None). bits=5 compares
    what survives in a 5-5-5 file, which is how a 16-bit capture is compared with a 16-bit screen.
    """
    if len(a) != width * height * 3 or len(b) != width * height * 3:
        raise ValueError("picture sizes differ: %d, %d for %dx%d" % (len(a), len(b), width, height))
    if bits >= 8:
        qa, qb = a, b
    else:
        mask = (0xFF << (8 - bits)) & 0xFF
        table = bytes(v & mask for v in range(256))
        qa, qb = a.translate(table), b.translate(table)
    if qa == qb:
        return 0, None
    count = 0
    first = None
    for row in range(height):
        start, end = row * width * 3, (row + 1) * width * 3
        if qa[start:end] == qb[start:end]:
            continue
        for x in range(width):
            i = start + x * 3
            if qa[i : i + 3] != qb[i : i + 3]:
                count += 1
                if first is None:
                    first = (x, row, tuple(a[i : i + 3]), tuple(b[i : i + 3]))
    return count, first


def mean_abs_diff(a, b, step=7):
    """Mean absolute channel difference of two equal-length byte strings, sampling every `step`th byte."""
    n = 0
    total = 0
    for i in range(0, min(len(a), len(b)), step):
        total += abs(a[i] - b[i])
        n += 1
    return total / max(n, 1)


def _expand(value, bits):
    """A channel of `bits` bits widened to 8 by repeating its bits, as BMP readers widen 5-bit channels."""
    if bits >= 8:
        return (value >> (bits - 8)) & 0xFF
    out = 0
    pos = 8
    while pos > 0:
        pos -= bits
        out |= value << pos if pos >= 0 else value >> -pos
    return out & 0xFF


def _mask_shift_bits(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    bits = 0
    while mask & 1:
        mask >>= 1
        bits += 1
    return shift, bits


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
    tables = [bytearray(_expand(v, bits) if v < (1 << bits) else 0 for v in range(256)) for _s, bits in chans]
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
