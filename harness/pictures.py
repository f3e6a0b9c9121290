"""Known pictures to put on a screen, and comparisons of RGB pictures."""

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
