#!/usr/bin/python3
"""Draw the program's icon, zarn.ico (icon group 128): one 48 x 48 image, 32 bits per pixel.

The image is stored as a classic DIB (BGRA with alpha plus an AND mask), not PNG-compressed,
so that every Windows version from 2000 on and the resource compiler accept it. Drawn with
Debian's python3-pil; the ICO file itself is written here byte by byte.
    /usr/bin/python3 res/make_icon.py [output.ico]
The build uses the committed output; it never runs this script.
"""
import os
import struct
import sys

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUTPUT = os.path.join(HERE, "zarn.ico")

SIZE = 48
SCALE = 8   # drawn larger, then reduced (with premultiplied alpha) for smooth edges

TOP = (22, 52, 84)
BOTTOM = (36, 116, 128)
CHIP = (236, 242, 246)
PIN = (200, 214, 222)
ACCENT = (255, 196, 72)


def draw_icon():
    s = SCALE
    n = SIZE * s
    # The tile: a rounded square with the banner's gradient.
    grad = Image.new("RGBA", (1, n))
    for y in range(n):
        t = y / (n - 1)
        grad.putpixel((0, y), tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM)) + (255,))
    grad = grad.resize((n, n))
    mask = Image.new("L", (n, n), 0)
    ImageDraw.Draw(mask).rounded_rectangle((1 * s, 1 * s, n - 1 * s - 1, n - 1 * s - 1), 9 * s, fill=255)
    img = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    img.paste(grad, (0, 0), mask)

    d = ImageDraw.Draw(img)
    cx = cy = n // 2
    half = 13 * s
    pin_len, pin_w = 5 * s, 3 * s
    for o in (-8 * s, 0, 8 * s):
        d.rectangle((cx + o - pin_w // 2, cy - half - pin_len, cx + o + pin_w // 2, cy + half + pin_len), fill=PIN)
        d.rectangle((cx - half - pin_len, cy + o - pin_w // 2, cx + half + pin_len, cy + o + pin_w // 2), fill=PIN)
    d.rounded_rectangle((cx - half, cy - half, cx + half, cy + half), 3 * s, fill=CHIP)
    # The upward arrow: new data going into the device.
    a = 8 * s
    d.rectangle((cx - 3 * s, cy - 1 * s, cx + 3 * s, cy + a), fill=ACCENT)
    d.polygon([(cx - a, cy + 1 * s), (cx + a, cy + 1 * s), (cx, cy - a - 1 * s)], fill=ACCENT)
    return img.resize((SIZE, SIZE), Image.LANCZOS)


def ico_bytes(img):
    """One-image ICO: ICONDIR, ICONDIRENTRY, BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    w, h = img.size
    px = img.load()
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = px[x, y]
            xor += bytes((b, g, r, a))
    mask_stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(w):
            if px[x, y][3] == 0:   # fully transparent: masked out for systems without alpha
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    # The header's height counts the XOR image and the AND mask together.
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


def main(argv):
    output = argv[1] if len(argv) > 1 else DEFAULT_OUTPUT
    with open(output, "wb") as f:
        f.write(ico_bytes(draw_icon()))
    print("wrote", output)


if __name__ == "__main__":
    main(sys.argv)
