#!/usr/bin/python3
"""Make the window's embedded font, ElektraTextPro-Bold.otf, from Debian's Cantarell Bold.

Renames the family to "Elektra Text Pro" (style Bold, weight 700) and keeps only Latin,
Cyrillic and common punctuation so the font embedded in the program stays small.
Run with Debian's python3 and python3-fonttools:
    /usr/bin/python3 res/font/make_font.py [source.otf] [output.otf]
The build uses the committed output; it never runs this script.
"""
import os
import sys

from fontTools import subset
from fontTools.ttLib import TTFont

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SOURCE = "/usr/share/fonts/opentype/cantarell/Cantarell-Bold.otf"
DEFAULT_OUTPUT = os.path.join(HERE, "ElektraTextPro-Bold.otf")

FAMILY = "Elektra Text Pro"
STYLE = "Bold"
FULL_NAME = FAMILY + " " + STYLE
PS_NAME = "ElektraTextPro-Bold"
WEIGHT = 700

# Basic Latin, Latin-1, Latin Extended-A, Cyrillic (with Supplement), general punctuation,
# and a few signs the texts or their neighbours may need (euro, numero, trade mark).
UNICODE_RANGES = [
    (0x0020, 0x007E), (0x00A0, 0x017F), (0x0400, 0x052F),
    (0x2010, 0x2027), (0x2030, 0x203A), (0x20AC, 0x20AC), (0x2116, 0x2116), (0x2122, 0x2122),
]

FS_SELECTION_ITALIC = 1 << 0
FS_SELECTION_BOLD = 1 << 5
FS_SELECTION_REGULAR = 1 << 6
MAC_STYLE_BOLD = 1 << 0


def subset_font(font):
    options = subset.Options()
    options.layout_features = ["*"]   # keep kerning and ligatures of the kept glyphs
    options.name_IDs = ["*"]          # copyright and licence records must stay
    options.name_languages = ["*"]
    options.notdef_outline = True
    options.glyph_names = True
    subsetter = subset.Subsetter(options)
    unicodes = [cp for lo, hi in UNICODE_RANGES for cp in range(lo, hi + 1)]
    subsetter.populate(unicodes=unicodes)
    subsetter.subset(font)


def rename(font):
    name = font["name"]
    version = name.getDebugName(5) or "Version 1.000"
    vendor = "ZARN"
    records = {
        1: FAMILY,
        2: STYLE,
        3: "%s;%s;%s" % (version.replace("Version ", ""), vendor, PS_NAME),
        4: FULL_NAME,
        6: PS_NAME,
        16: FAMILY,
        17: STYLE,
        10: "Elektra Text Pro Bold is a renamed subset of Cantarell Bold, "
            "under the SIL Open Font License 1.1.",
    }
    # Drop every old naming record (all platforms) before writing ours, so no trace of the
    # original family name stays in a field that users see as the font's name.
    for rec in list(name.names):
        if rec.nameID in records or rec.nameID in (18, 21, 22, 25):
            name.removeNames(nameID=rec.nameID)
    for name_id, text in sorted(records.items()):
        name.setName(text, name_id, 3, 1, 0x409)

    cff = font["CFF "].cff
    top = cff[cff.fontNames[0]]
    cff.fontNames = [PS_NAME]
    top.FullName = FULL_NAME
    top.FamilyName = FAMILY
    top.Weight = STYLE

    os2 = font["OS/2"]
    os2.usWeightClass = WEIGHT
    os2.achVendID = vendor
    os2.fsSelection = (os2.fsSelection | FS_SELECTION_BOLD) & ~(FS_SELECTION_REGULAR | FS_SELECTION_ITALIC)
    font["head"].macStyle = (font["head"].macStyle | MAC_STYLE_BOLD) & ~0x2
    font["post"].italicAngle = 0


def main(argv):
    source = argv[1] if len(argv) > 1 else DEFAULT_SOURCE
    output = argv[2] if len(argv) > 2 else DEFAULT_OUTPUT
    font = TTFont(source)
    if "CFF " not in font:
        sys.exit("%s: not a CFF-flavoured OpenType font" % source)
    subset_font(font)
    rename(font)
    # Fixed timestamps so that re-running the script gives the same bytes.
    font.recalcTimestamp = False
    font.save(output)
    print("wrote", output)


if __name__ == "__main__":
    main(sys.argv)
