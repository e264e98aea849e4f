#!/usr/bin/python3
"""Draw the window's picture, banner.bmp (bitmap 130): 452 x 211, 24 bits per pixel.

The window sizes itself and lays out its controls from this bitmap's size, so the size is
fixed. Run with Debian's python3 and python3-pil; the text uses the embedded font.
    /usr/bin/python3 res/make_banner.py [output.bmp]
The build uses the committed output; it never runs this script.
"""
import os
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = os.path.join(HERE, "font", "ElektraTextPro-Bold.otf")
DEFAULT_OUTPUT = os.path.join(HERE, "banner.bmp")

WIDTH, HEIGHT = 452, 211
SCALE = 4   # drawn larger, then reduced: smooth edges without an anti-aliasing pass per shape

TOP = (22, 52, 84)        # deep blue
BOTTOM = (36, 116, 128)   # calm teal
CHIP = (236, 242, 246)
CHIP_EDGE = (150, 190, 205)
PIN = (200, 214, 222)
ACCENT = (255, 196, 72)
TEXT = (246, 249, 252)
SUBTEXT = (178, 214, 222)


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def background(w, h):
    # Vertical gradient with a slight diagonal lean so the banner does not look flat.
    img = Image.new("RGB", (w, h))
    px = img.load()
    for y in range(h):
        for x in range(w):
            t = min(1.0, max(0.0, (y / (h - 1)) * 0.8 + (x / (w - 1)) * 0.2))
            px[x, y] = lerp(TOP, BOTTOM, t)
    return img


def draw_chip(draw, cx, cy, size, s):
    half = size // 2
    body = (cx - half, cy - half, cx + half, cy + half)
    pins = 5
    pin_len, pin_w = 11 * s, 5 * s
    step = size / (pins + 1)
    for i in range(1, pins + 1):
        o = round(-half + i * step)
        draw.rounded_rectangle((cx + o - pin_w // 2, cy - half - pin_len, cx + o + pin_w // 2, cy - half + s), 2 * s, fill=PIN)
        draw.rounded_rectangle((cx + o - pin_w // 2, cy + half - s, cx + o + pin_w // 2, cy + half + pin_len), 2 * s, fill=PIN)
        draw.rounded_rectangle((cx - half - pin_len, cy + o - pin_w // 2, cx - half + s, cy + o + pin_w // 2), 2 * s, fill=PIN)
        draw.rounded_rectangle((cx + half - s, cy + o - pin_w // 2, cx + half + pin_len, cy + o + pin_w // 2), 2 * s, fill=PIN)
    draw.rounded_rectangle(body, 8 * s, fill=CHIP, outline=CHIP_EDGE, width=2 * s)
    # An upward arrow on the die: new data going into the device.
    a = size // 4
    draw.rounded_rectangle((cx - a // 3, cy - a // 4, cx + a // 3, cy + a), 2 * s, fill=ACCENT)
    draw.polygon([(cx - a, cy), (cx + a, cy), (cx, cy - a)], fill=ACCENT)
    draw.rounded_rectangle((cx - half + 6 * s, cy + half - 12 * s, cx - half + 12 * s, cy + half - 6 * s), 3 * s, fill=CHIP_EDGE)


def main(argv):
    output = argv[1] if len(argv) > 1 else DEFAULT_OUTPUT
    s = SCALE
    w, h = WIDTH * s, HEIGHT * s
    img = background(WIDTH, HEIGHT).resize((w, h), Image.BILINEAR)

    # Soft light circles in the background, blurred so they read as depth, not shapes.
    glow = Image.new("L", (w, h), 0)
    gd = ImageDraw.Draw(glow)
    gd.ellipse((w - 220 * s, -120 * s, w + 60 * s, 160 * s), fill=40)
    gd.ellipse((-80 * s, h - 90 * s, 160 * s, h + 150 * s), fill=28)
    glow = glow.filter(ImageFilter.GaussianBlur(18 * s))
    img = Image.composite(Image.new("RGB", (w, h), (255, 255, 255)), img, glow)

    draw = ImageDraw.Draw(img)
    draw_chip(draw, 92 * s, 104 * s, 92 * s, s)

    title = ImageFont.truetype(FONT, 42 * s)
    sub = ImageFont.truetype(FONT, 17 * s)
    tx = 176 * s
    draw.text((tx, 104 * s), "Zarn Update", font=title, fill=TEXT, anchor="ls")
    draw.rounded_rectangle((tx, 118 * s, tx + 64 * s, 122 * s), 2 * s, fill=ACCENT)
    draw.text((tx, 150 * s), "Device data update", font=sub, fill=SUBTEXT, anchor="ls")

    img = img.resize((WIDTH, HEIGHT), Image.LANCZOS)
    # RGB mode: Pillow writes an uncompressed bottom-up BMP with 24 bits per pixel.
    img.save(output, format="BMP")
    print("wrote", output)


if __name__ == "__main__":
    main(sys.argv)
