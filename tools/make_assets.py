#!/usr/bin/python3
"""Regenerates every file under assets/: the main window's artwork and the
built-in files the program writes into set/dt at start-up.

Run with Debian's interpreter (python3-pil, fonts-noto-cjk):

    /usr/bin/python3 tools/make_assets.py            # rewrite assets/
    /usr/bin/python3 tools/make_assets.py --check    # fail if assets/ is stale
    /usr/bin/python3 tools/make_assets.py --preview out.png
    /usr/bin/python3 tools/make_assets.py --icon-sheet out.png   # every icon size side by side

The output is deterministic: no time stamps, no randomness, fixed encoder
settings, so a rerun on the same Debian release reproduces every byte.
"""

import argparse
import io
import math
import os
import struct
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FONT_DIR = "/usr/share/fonts/opentype/noto"
FONT_SC = 2  # face index of Simplified Chinese in the Noto CJK collections

W, H = 860, 540
SS = 4  # supersampling factor for shapes; PIL draws aliased edges otherwise

# Palette of the flat blue theme.
TITLE_TOP = (22, 90, 158)
TITLE_BOTTOM = (12, 62, 114)
ACCENT = (30, 136, 210)
ACCENT_LIGHT = (56, 158, 230)
ACCENT_DARK = (14, 100, 166)
LIST_TEXT = (4, 123, 194)  # colour of the list-title labels
FOOT_TEXT = (122, 212, 254)  # colour of the foot labels
FOOT_TOP = (14, 60, 108)
FOOT_BOTTOM = (9, 44, 82)
OUTLINE = (8, 40, 76)
FRAME = (232, 241, 249)
TOOLBAR_TOP = (244, 249, 253)
TOOLBAR_BOTTOM = (226, 237, 248)
PANEL_BORDER = (184, 208, 230)
HEADER = (240, 247, 253)
HEADER_LINE = (204, 224, 241)
WHITE = (255, 255, 255)
PAPER = (250, 250, 250)  # "white" inside tree icons: pure white is their key colour
AMBER = (244, 180, 52)
AMBER_DARK = (214, 146, 30)
ORANGE = (240, 126, 44)
ORANGE_LIGHT = (250, 148, 70)
ORANGE_DARK = (212, 102, 28)
RED = (226, 64, 76)
RED_DARK = (190, 44, 56)

# Main window geometry the artwork is drawn around (left, top, width, height).
MIN_BTN = (757, 2, 30, 16)
MAX_BTN = (788, 2, 30, 16)
CLOSE_BTN = (819, 2, 37, 16)
TOOL_BUTTONS = [  # file stem, caption, left
    ("chat", "在线交流", 16),
    ("ask", "在线提问", 111),
    ("share", "分享资源", 206),
    ("feedback", "问题反馈", 301),
    ("support", "支持正版", 397),
]
TOOL_TOP = 58
SEARCH_FIELD = (592, 58, 175, 23)
SEARCH_BTN = (776, 58, 70, 23)
PAGE_BUTTONS = [  # file stem, caption, left, glyph
    ("prev", "上一页", 401, "left"),
    ("next", "下一页", 468, "right"),
    ("jump", "跳转", 637, "jump"),
    ("random", "随便看看", 782, None),
]
PAGE_TOP = 98
PAGE_FIELD = (591, 102, 25, 18)
UPDATE_MARK = (199, 516, 14, 14)

BUILTIN_GIF_SIZES = {"down.gif": 1880, "see.gif": 1741, "look.gif": 1895}
LIST_PAGE_SIZE = 2009


# ---------------------------------------------------------------- helpers


def font(px, bold=False):
    name = "NotoSansCJK-Bold.ttc" if bold else "NotoSansCJK-Regular.ttc"
    return ImageFont.truetype(os.path.join(FONT_DIR, name), px, index=FONT_SC)


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def vgradient(img, box, top, bottom):
    x0, y0, x1, y1 = box  # inclusive
    d = ImageDraw.Draw(img)
    rows = max(1, y1 - y0)
    for y in range(y0, y1 + 1):
        d.line([(x0, y), (x1, y)], fill=mix(top, bottom, (y - y0) / rows))


class Canvas:
    """A supersampled drawing surface over an existing picture: shapes are
    drawn at SS times the size and scaled down, so edges come out smooth."""

    def __init__(self, base):
        self.base = base
        self.big = base.resize((base.width * SS, base.height * SS), Image.NEAREST)
        self.draw = ImageDraw.Draw(self.big)

    @staticmethod
    def _s(v):
        return [round(c * SS) for c in v]

    def rrect(self, box, radius, fill=None, outline=None, width=1):
        x0, y0, x1, y1 = box  # outer edges in pixels (x1, y1 exclusive)
        self.draw.rounded_rectangle(
            self._s((x0, y0, x1 - 1.0 / SS, y1 - 1.0 / SS)),
            radius=radius * SS,
            fill=fill,
            outline=outline,
            width=round(width * SS) if outline else 0,
        )

    def polygon(self, points, fill):
        self.draw.polygon([tuple(self._s(p)) for p in points], fill=fill)

    def line(self, points, fill, width):
        self.draw.line([tuple(self._s(p)) for p in points], fill=fill, width=round(width * SS), joint="curve")

    def ellipse(self, box, fill=None, outline=None, width=1):
        x0, y0, x1, y1 = box
        self.draw.ellipse(
            self._s((x0, y0, x1 - 1.0 / SS, y1 - 1.0 / SS)),
            fill=fill,
            outline=outline,
            width=round(width * SS) if outline else 0,
        )

    def done(self):
        return self.big.resize(self.base.size, Image.LANCZOS)


def text_size(text, fnt):
    x0, y0, x1, y1 = fnt.getbbox(text)
    return x1 - x0, y1 - y0


def draw_text(img, xy, text, fnt, fill):
    """Draws text with its ink box's top-left corner at xy."""
    x0, y0, _, _ = fnt.getbbox(text)
    ImageDraw.Draw(img).text((xy[0] - x0, xy[1] - y0), text, font=fnt, fill=fill)


def caption_width(text, fnt):
    # Advance width, not ink width, so that captions with and without a
    # leading glyph centre the same way.
    return round(fnt.getlength(text))


def draw_caption(img, box, text, fnt, fill, glyph=None, glyph_w=0, gap=4, glyph_after=False):
    """Centres a caption (and an optional glyph drawn by a callback) in box.
    CJK ink boxes are all the same height, so centring the ink centres the line."""
    x0, y0, x1, y1 = box
    tw = caption_width(text, fnt)
    total = tw + (glyph_w + gap if glyph else 0)
    left = x0 + (x1 - x0 - total) / 2
    _, th = text_size("中", fnt)
    top = y0 + round((y1 - y0 - th) / 2)
    tx = left + (0 if glyph_after or not glyph else glyph_w + gap)
    ImageDraw.Draw(img).text((round(tx), top - fnt.getbbox("中")[1]), text, font=fnt, fill=fill)
    if glyph:
        gx = left + tw + gap if glyph_after else left
        glyph(img, gx, (y0 + y1) / 2, fill)


# ---------------------------------------------------------------- file output


def write_file(path, data):
    """Replaces path atomically so that an interrupted run never leaves a
    truncated asset behind."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.chmod(tmp, 0o644)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def encode(img, kind):
    buf = io.BytesIO()
    if kind == "jpg":
        # 4:4:4 keeps the thin strokes of 12 px Chinese captions clean.
        img.convert("RGB").save(buf, "JPEG", quality=94, subsampling=0, optimize=False)
    elif kind == "bmp":
        img.convert("RGB").save(buf, "BMP")
    elif kind == "gif":
        return gif89a(img)
    else:
        raise ValueError(kind)
    return buf.getvalue()


def lzw_compress(pixels, min_code_size=8):
    """GIF's variable-length LZW; the dictionary is reset when full."""
    clear = 1 << min_code_size
    eoi = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def fresh():
        return {bytes([i]): i for i in range(clear)}

    table = fresh()
    next_code = eoi + 1
    size = min_code_size + 1
    emit(clear, size)
    prefix = b""
    for p in pixels:
        candidate = prefix + bytes([p])
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix], size)
        if next_code == 4096:
            emit(clear, size)
            table = fresh()
            next_code = eoi + 1
            size = min_code_size + 1
        else:
            table[candidate] = next_code
            # The decoder widens one code later than it could, so widen when
            # the code just assigned no longer fits.
            if next_code == (1 << size) and size < 12:
                size += 1
            next_code += 1
        prefix = bytes([p])
    if prefix:
        emit(table[prefix], size)
    emit(eoi, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i : i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def comment_extension(length):
    """A comment extension of exactly `length` bytes (at least 3)."""
    body = length - 3  # introducer, label, terminator
    if body < 0 or body == 1:
        raise ValueError("cannot pad a GIF by %d bytes" % length)
    filler = b"Vellumark list button face. "
    payload = bytearray()
    blocks = []
    while body > 0:
        n = min(body - 1, 255)
        if body - (n + 1) == 1:  # avoid leaving a single unusable byte
            n -= 1
        blocks.append(n)
        body -= n + 1
    out = bytearray(b"\x21\xfe")
    for n in blocks:
        while len(payload) < n:
            payload += filler
        out.append(n)
        out += payload[:n]
        payload = payload[n:]
    out.append(0)
    return bytes(out)


def quantize(img, colours):
    # Max-coverage keeps small accents (the logo's ribbon, icon strokes) that
    # median cut merges into the large gradients, and compresses better.
    q = img.convert("RGB").quantize(colors=colours, method=Image.Quantize.MAXCOVERAGE, dither=Image.Dither.NONE)
    pal = q.getpalette()[: 3 * colours]
    pal += [0] * (768 - len(pal))
    return q, bytes(pal)


def gif89a(img, colours=256, total_size=None):
    """GIF89a with one image and a full 256-entry global colour table.
    With total_size, a comment extension pads the file to exactly that size."""
    q, palette = quantize(img, colours)
    w, h = q.size
    header = b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF7, 0, 0) + palette
    image = b"\x2c" + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\x08" + sub_blocks(lzw_compress(q.tobytes()))
    trailer = b"\x3b"
    pad = b""
    if total_size is not None:
        pad = comment_extension(total_size - len(header) - len(image) - len(trailer))
    data = header + pad + image + trailer
    decoded = Image.open(io.BytesIO(data))
    assert decoded.tobytes() == q.tobytes(), "LZW round trip failed"
    if total_size is not None:
        assert len(data) == total_size, (len(data), total_size)
    return data


# ---------------------------------------------------------------- background


# The logo in a 28 x 28 box: a rounded tile with a sheet of vellum and a bookmark ribbon
# hanging over its top edge. The title bar draws it at 28 px; the desktop icons at every size
# and as SVG come from the same shapes.
LOGO_SIZE = 28
LOGO = [
    ("rrect", (0, 0, 28, 28), 6, ACCENT_LIGHT),
    ("rrect", (7, 5, 22, 24), 2, WHITE),
    ("polygon", [(17, 5), (22, 10), (17, 10)], (200, 226, 246)),
    ("line", [(10, 12), (19, 12)], ACCENT, 1.3),
    ("line", [(10, 15.5), (19, 15.5)], ACCENT, 1.3),
    ("line", [(10, 19), (16, 19)], ACCENT, 1.3),
    ("polygon", [(11, 3), (15, 3), (15, 11), (13, 9.2), (11, 11)], ORANGE),
]


def draw_logo(img, x, y, scale=1):
    c = Canvas(img)
    at = lambda p: (x + p[0] * scale, y + p[1] * scale)
    for shape in LOGO:
        kind = shape[0]
        if kind == "rrect":
            x0, y0, x1, y1 = shape[1]
            c.rrect(at((x0, y0)) + at((x1, y1)), shape[2] * scale, fill=shape[3])
        elif kind == "polygon":
            c.polygon([at(p) for p in shape[1]], fill=shape[2])
        else:
            c.line([at(p) for p in shape[1]], fill=shape[2], width=shape[3] * scale)
    return c.done()


def icon_png(size):
    """The logo alone at size x size, on a transparent ground."""
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    img = draw_logo(img, 0, 0, size / LOGO_SIZE)
    out = io.BytesIO()
    img.save(out, "PNG", optimize=True)
    return out.getvalue()


def icon_svg():
    hexc = lambda c: "#%02x%02x%02x" % c
    num = lambda v: ("%g" % v)
    pts = lambda ps: " ".join("%s,%s" % (num(px), num(py)) for px, py in ps)
    body = []
    for shape in LOGO:
        kind = shape[0]
        if kind == "rrect":
            x0, y0, x1, y1 = shape[1]
            body.append('<rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="%s"/>'
                        % (num(x0), num(y0), num(x1 - x0), num(y1 - y0), num(shape[2]), hexc(shape[3])))
        elif kind == "polygon":
            body.append('<polygon points="%s" fill="%s"/>' % (pts(shape[1]), hexc(shape[2])))
        else:
            body.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="%s" stroke-linecap="butt"/>'
                        % (pts(shape[1]), hexc(shape[2]), num(shape[3])))
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 %d %d">\n  %s\n</svg>\n'
            % (LOGO_SIZE, LOGO_SIZE, "\n  ".join(body))).encode("ascii")


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def make_background():
    img = Image.new("RGB", (W, H), FRAME)
    d = ImageDraw.Draw(img)

    # title area
    vgradient(img, (0, 0, W - 1, 49), TITLE_TOP, TITLE_BOTTOM)
    d.line([(0, 50), (W - 1, 50)], fill=ACCENT)
    d.line([(0, 51), (W - 1, 51)], fill=ACCENT_DARK)
    img = draw_logo(img, 12, 11)
    d = ImageDraw.Draw(img)
    name_font = font(20, bold=True)
    draw_text(img, (48, 15), "Vellumark", name_font, WHITE)
    nw, _ = text_size("Vellumark", name_font)
    tag_font = font(12)
    draw_text(img, (48 + nw + 12, 21), "源码样例目录", tag_font, (150, 200, 238))
    d.line([(48 + nw + 6, 19), (48 + nw + 6, 33)], fill=(70, 126, 184))
    # separator between the settings and about labels
    d.line([(706, 8), (706, 17)], fill=(84, 138, 194))

    # toolbar band
    vgradient(img, (0, 52, W - 1, 85), TOOLBAR_TOP, TOOLBAR_BOTTOM)
    d.line([(0, 86), (W - 1, 86)], fill=PANEL_BORDER)
    x, y, w, h = SEARCH_FIELD
    c = Canvas(img)
    c.rrect((x, y, x + w, y + h), 2, fill=WHITE, outline=(150, 190, 225))
    img = c.done()
    d = ImageDraw.Draw(img)

    # content box: tree panel, divider, list header, browser area
    d.rectangle([5, 88, 853, 506], fill=WHITE, outline=PANEL_BORDER)
    d.rectangle([201, 89, 852, 123], fill=HEADER)
    d.line([(201, 124), (852, 124)], fill=HEADER_LINE)
    d.line([(200, 89), (200, 505)], fill=PANEL_BORDER)
    d.rectangle([201, 105, 202, 116], fill=LIST_TEXT)  # marker before the list title
    x, y, w, h = PAGE_FIELD
    d.rectangle([x, y, x + w - 1, y + h - 1], fill=WHITE, outline=PANEL_BORDER)

    # foot bar
    d.line([(0, 509), (W - 1, 509)], fill=ACCENT_DARK)
    vgradient(img, (0, 510, W - 1, H - 1), FOOT_TOP, FOOT_BOTTOM)
    for sx in (277, 650):
        d.line([(sx, 518), (sx, 529)], fill=(40, 92, 146))

    # outline; the window's rounded region cuts the corners themselves
    d.rectangle([0, 0, W - 1, H - 1], outline=OUTLINE)
    return img


# ---------------------------------------------------------------- buttons


def crop(bg, geom):
    x, y, w, h = geom
    return bg.crop((x, y, x + w, y + h))


def window_buttons(bg):
    out = {}

    def glyph(c, kind, w, colour):
        cx, cy = w / 2, 8
        if kind == "min":
            c.line([(cx - 5, cy + 3), (cx + 5, cy + 3)], fill=colour, width=1.4)
        elif kind == "max":
            c.rrect((cx - 5, cy - 4.5, cx + 5, cy + 4.5), 1, outline=colour, width=1.3)
        else:
            c.line([(cx - 4, cy - 4), (cx + 4, cy + 4)], fill=colour, width=1.5)
            c.line([(cx - 4, cy + 4), (cx + 4, cy - 4)], fill=colour, width=1.5)

    for kind, geom in (("min", MIN_BTN), ("max", MAX_BTN), ("close", CLOSE_BTN)):
        w, h = geom[2], geom[3]
        states = [None, "hover", "pressed"] if kind != "max" else [None]
        for i, state in enumerate(states):
            c = Canvas(crop(bg, geom))
            if state:
                if kind == "close":
                    fill = RED if state == "hover" else RED_DARK
                else:
                    fill = (52, 116, 184) if state == "hover" else (10, 50, 96)
                c.rrect((0, 0, w, h), 2, fill=fill)
            glyph(c, kind, w, WHITE if state else (214, 230, 246))
            out["%s_%d.gif" % (kind, i)] = c.done()
    return out


def ghost_style(state):
    """Light buttons on light bands: outline at rest, filled when pressed."""
    if state == 0:
        return (WHITE, (236, 244, 251)), (176, 206, 232), (18, 98, 164)
    if state == 1:
        return ((234, 245, 254), (214, 234, 251)), (84, 158, 220), LIST_TEXT
    return (ACCENT_DARK, ACCENT), ACCENT_DARK, WHITE


def solid_style(base, light, dark, state):
    if state == 0:
        return (mix(base, WHITE, 0.08), base), mix(base, dark, 0.5), WHITE
    if state == 1:
        return (mix(light, WHITE, 0.1), light), base, WHITE
    return (dark, mix(dark, base, 0.4)), mix(dark, (0, 0, 0), 0.15), WHITE


def button_face(base, size, style, radius=3):
    (top, bottom), border, _ = style
    w, h = size
    face = Image.new("RGB", size, top)
    vgradient(face, (0, 0, w - 1, h - 1), top, bottom)
    mask = Image.new("L", (w * SS, h * SS), 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, w * SS - 1, h * SS - 1), radius=radius * SS, fill=255)
    mask = mask.resize(size, Image.LANCZOS)
    img = base.copy()
    img.paste(face, (0, 0), mask)
    c = Canvas(img)
    c.rrect((0, 0, w, h), radius, outline=border, width=1)
    return c.done()


def glyph_chevron(direction):
    def draw(img, x, cy, colour):
        c = Canvas(img)
        if direction == "left":
            pts = [(x + 4, cy - 3.5), (x + 0.8, cy), (x + 4, cy + 3.5)]
        else:
            pts = [(x + 0.8, cy - 3.5), (x + 4, cy), (x + 0.8, cy + 3.5)]
        c.line(pts, fill=colour, width=1.4)
        img.paste(c.done())

    return draw


def glyph_jump(img, x, cy, colour):
    c = Canvas(img)
    c.line([(x + 1, cy - 4), (x + 1, cy + 1), (x + 7, cy + 1)], fill=colour, width=1.3)
    c.polygon([(x + 5, cy - 2), (x + 8.5, cy + 1), (x + 5, cy + 4)], fill=colour)
    img.paste(c.done())


def glyph_search(img, x, cy, colour):
    c = Canvas(img)
    c.ellipse((x + 0.5, cy - 5.5, x + 8.5, cy + 2.5), outline=colour, width=1.5)
    c.line([(x + 7.3, cy + 1.3), (x + 10.5, cy + 4.5)], fill=colour, width=1.8)
    img.paste(c.done())


def glyph_download(img, x, cy, colour):
    c = Canvas(img)
    c.line([(x + 5, cy - 5.5), (x + 5, cy + 1.5)], fill=colour, width=1.6)
    c.polygon([(x + 1.5, cy - 1), (x + 8.5, cy - 1), (x + 5, cy + 3)], fill=colour)
    c.line([(x + 0.5, cy + 5), (x + 9.5, cy + 5)], fill=colour, width=1.4)
    img.paste(c.done())


def glyph_folder(img, x, cy, colour):
    c = Canvas(img)
    c.polygon(
        [(x, cy - 4.5), (x + 4, cy - 4.5), (x + 5.3, cy - 3), (x + 11, cy - 3), (x + 11, cy + 4.5), (x, cy + 4.5)],
        fill=colour,
    )
    c.line([(x + 0.5, cy - 0.8), (x + 10.5, cy - 0.8)], fill=WHITE, width=1)
    img.paste(c.done())


def glyph_play(img, x, cy, colour):
    c = Canvas(img)
    c.ellipse((x, cy - 5.5, x + 11, cy + 5.5), outline=colour, width=1.3)
    c.polygon([(x + 4.2, cy - 2.8), (x + 8.2, cy), (x + 4.2, cy + 2.8)], fill=colour)
    img.paste(c.done())


def toolbar_buttons(bg):
    out = {}
    f = font(12)
    for stem, caption, left in TOOL_BUTTONS:
        for state in range(3):
            geom = (left, TOOL_TOP, 69, 23)
            style = ghost_style(state)
            img = button_face(crop(bg, geom), (69, 23), style)
            draw_caption(img, (0, 0, 69, 23), caption, f, style[2])
            out["%s_%d.jpg" % (stem, state)] = img
    for state in range(3):
        style = solid_style(ACCENT, ACCENT_LIGHT, ACCENT_DARK, state)
        img = button_face(crop(bg, SEARCH_BTN), (70, 23), style)
        draw_caption(img, (0, 0, 70, 23), "搜索", f, style[2], glyph=glyph_search, glyph_w=11, gap=5)
        out["search_%d.gif" % state] = img
    for stem, caption, left, glyph in PAGE_BUTTONS:
        for state in range(3):
            geom = (left, PAGE_TOP, 64, 24)
            style = ghost_style(state)
            img = button_face(crop(bg, geom), (64, 24), style)
            if glyph in ("left", "right"):
                draw_caption(
                    img, (0, 0, 64, 24), caption, f, style[2], glyph=glyph_chevron(glyph), glyph_w=5, gap=4,
                    glyph_after=(glyph == "right"),
                )
            elif glyph == "jump":
                draw_caption(img, (0, 0, 64, 24), caption, f, style[2], glyph=glyph_jump, glyph_w=9, gap=5)
            else:
                draw_caption(img, (0, 0, 64, 24), caption, f, style[2])
            out["%s_%d.bmp" % (stem, state)] = img
    return out


def update_mark(bg):
    c = Canvas(crop(bg, UPDATE_MARK))
    c.ellipse((0.5, 0.5, 13.5, 13.5), fill=ORANGE)
    c.polygon([(7, 3), (10.6, 7), (8.2, 7), (8.2, 10.8), (5.8, 10.8), (5.8, 7), (3.4, 7)], fill=WHITE)
    return c.done()


# ---------------------------------------------------------------- tree images


def tree_images():
    """16 x 16 images for the category tree. The background is pure white and
    nothing inside an image is, so the tree may key white out."""
    images = []

    def canvas():
        return Canvas(Image.new("RGB", (16, 16), WHITE))

    # 0: closed folder
    c = canvas()
    c.polygon([(1.5, 3), (6, 3), (7.5, 4.5), (14.5, 4.5), (14.5, 13.5), (1.5, 13.5)], fill=AMBER_DARK)
    c.rrect((1.5, 5.5, 14.5, 13.5), 1, fill=AMBER)
    images.append(c.done())

    # 1: open folder
    c = canvas()
    c.polygon([(1.5, 3), (6, 3), (7.5, 4.5), (13.5, 4.5), (13.5, 7), (1.5, 7)], fill=AMBER_DARK)
    c.rrect((1.5, 4.5, 13.5, 13.5), 1, fill=AMBER_DARK)
    c.rrect((3, 5.5, 12.5, 10), 0.5, fill=PAPER)
    c.polygon([(3.5, 7.5), (15.5, 7.5), (13, 13.5), (1, 13.5)], fill=(250, 204, 98))
    images.append(c.done())

    # 2: leaf category, a page of source text
    c = canvas()
    c.polygon([(3, 1.5), (10, 1.5), (13.5, 5), (13.5, 14.5), (3, 14.5)], fill=(92, 140, 190))
    c.polygon([(4, 2.5), (9.5, 2.5), (12.5, 5.5), (12.5, 13.5), (4, 13.5)], fill=PAPER)
    c.polygon([(9.5, 2.5), (12.5, 5.5), (9.5, 5.5)], fill=(190, 214, 236))
    c.line([(5.5, 7.5), (10.5, 7.5)], fill=ACCENT, width=1)
    c.line([(5.5, 9.5), (11, 9.5)], fill=ACCENT, width=1)
    c.line([(5.5, 11.5), (9, 11.5)], fill=ACCENT, width=1)
    images.append(c.done())

    # 3: latest updates, a star
    c = canvas()
    pts = []
    for i in range(10):
        r = 7 if i % 2 == 0 else 3.1
        a = -math.pi / 2 + i * math.pi / 5
        pts.append((8 + r * math.cos(a), 8.6 + r * math.sin(a)))
    c.polygon(pts, fill=ORANGE)
    images.append(c.done())

    # 4: search
    c = canvas()
    c.ellipse((1.5, 1.5, 11, 11), fill=(226, 240, 252), outline=ACCENT, width=1.8)
    c.line([(9.6, 9.6), (14, 14)], fill=ACCENT_DARK, width=2.6)
    images.append(c.done())

    # 5: random picks, a die
    c = canvas()
    c.rrect((1.5, 1.5, 14.5, 14.5), 3, fill=ACCENT)
    for px, py in ((5, 5), (8, 8), (11, 11), (11, 5), (5, 11)):
        c.ellipse((px - 1.3, py - 1.3, px + 1.3, py + 1.3), fill=PAPER)
    images.append(c.done())
    return images


# ---------------------------------------------------------------- built-in files


def list_buttons():
    """The list rows' buttons, drawn on the list's white background. Few
    colours and flat fills keep them inside their fixed byte sizes."""
    f = font(12)
    specs = [
        ("down.gif", "下载", glyph_download, 10, solid_style(ACCENT, ACCENT_LIGHT, ACCENT_DARK, 0)),
        ("see.gif", "查看", glyph_folder, 11, ghost_style(0)),
        ("look.gif", "看视频", glyph_play, 11, solid_style(ORANGE, ORANGE_LIGHT, ORANGE_DARK, 0)),
    ]
    out = {}
    for name, caption, glyph, gw, style in specs:
        (top, bottom), border, text = style
        flat = ((top, top), border, text)  # a gradient would cost runs the budget lacks
        img = button_face(Image.new("RGB", (69, 23), WHITE), (69, 23), flat)
        draw_caption(img, (0, 0, 69, 23), caption, f, text, glyph=glyph, glyph_w=gw, gap=4)
        out[name] = img
    return out


LIST_PAGE = """\
<html>
<head>
<meta http-equiv="X-UA-Compatible" />
<meta http-equiv="content-type" content="text/html;charset=utf-8" />
<style type="text/css">
body {
	margin-left: 2px;
	margin-top: 3px;
	margin-right: 2px;
	margin-bottom: 0px;
	border: 0;
	overflow: hidden;
	background-color: #FFFFFF;
}
body,td,th {
	font-size: 12px;
	font-family: 宋体;
}
a:link,a:visited,a:hover,a:active {
	text-decoration: none;
	color: #000000;
}
table td {
	line-height: 1.5;
}
#bg {
	border-bottom-width: 1px;
	border-bottom-style: dashed;
	border-bottom-color: #3366FF;
}
.em3 {
	font-size: 12px;
	color: #FF00FF;
}
.em2 {
	font-size: 12px;
	color: #0000FF;
}
.em1 {
	font-size: 12px;
	color: #FF0000;
}
.em0 {
	font-size: 12px;
	color: #000000;
}
.STYLE4 {
	color: #666666;
}
.SuoShu {
	color: #000066;
}
.dreamdu:hover, .hover {
	background: #EAF4FB;
	color: #000000;
}
</style>
<script type="text/javascript">
// 资源列表的行在鼠标经过时变色：页面载入之后找出 class 以 "dreamdu" 开头的表格行，鼠标经过时换上 hover 的底色
function DreamduColorRows() {
	var rows = document.getElementsByTagName("tr");
	for (var i = 0; i < rows.length; i++) {
		if (rows[i].className.substr(0, 7) == "dreamdu" && navigator.appName == "Microsoft Internet Explorer") {
			// 这个浏览器只认 a:hover，不认 tr:hover，只好由脚本在鼠标进出时加上、去掉 hover 类，底色取自样式表的 .hover 规则
			rows[i].onmouseover = function () {
				this.className += " hover";
			};
			rows[i].onmouseout = function () {
				this.className = this.className.replace(" hover", "");
			};
		}
	}
}
window.onload = DreamduColorRows;
document.onselectstart = function (e) {
	var ev = e || self.event;
	var tag = (ev.srcElement || ev.target).tagName;
	return tag == "INPUT" || tag == "TEXTAREA";
};
</script>
</head>
<body oncontextmenu="self.event.returnValue=false">
<div id="list"></div>
</body>
</html>
"""


def list_page():
    data = LIST_PAGE.replace("\n", "\r\n").encode("utf-8")
    assert len(data) == LIST_PAGE_SIZE, len(data)
    return data


README = """\
Everything in this folder is generated by `tools/make_assets.py` (run it with
`/usr/bin/python3`; it needs python3-pil and fonts-noto-cjk): `main/` holds the main
window's artwork, `builtin/` the files the program writes into `set/dt/` at start-up and
`icons/` the desktop icon (the title bar's logo) in the hicolor theme's layout.
Do not hand-edit these files; change the script, rerun it and commit both.
`tools/make_assets.py --check` reports files that no longer match the script.
"""


# ---------------------------------------------------------------- driver


def build():
    """Returns {relative path: bytes} for every asset."""
    files = {}
    bg = make_background()
    files["main/background.gif"] = gif89a(bg)
    for name, img in window_buttons(bg).items():
        files["main/" + name] = encode(img, "gif")
    for name, img in toolbar_buttons(bg).items():
        files["main/" + name] = encode(img, name.rsplit(".", 1)[1])
    files["main/update_mark.jpg"] = encode(update_mark(bg), "jpg")
    for i, img in enumerate(tree_images()):
        files["main/tree_%d.bmp" % i] = encode(img, "bmp")
    for name, img in list_buttons().items():
        files["builtin/" + name] = gif89a(img, total_size=BUILTIN_GIF_SIZES[name])
    files["builtin/list.htm"] = list_page()
    for size in ICON_SIZES:
        files["icons/hicolor/%dx%d/apps/org.vellumark.Vellumark.png" % (size, size)] = icon_png(size)
    files["icons/hicolor/scalable/apps/org.vellumark.Vellumark.svg"] = icon_svg()
    files["README.md"] = README.encode("utf-8")
    verify(files)
    return files


def expected_images():
    """{path: pixel size} of every picture the program loads; the window's
    layout is built around these sizes, so a drift is an error here."""
    out = {"main/background.gif": (W, H), "main/max_0.gif": MAX_BTN[2:], "main/update_mark.jpg": UPDATE_MARK[2:]}
    for s in range(3):
        out["main/min_%d.gif" % s] = MIN_BTN[2:]
        out["main/close_%d.gif" % s] = CLOSE_BTN[2:]
        out["main/search_%d.gif" % s] = SEARCH_BTN[2:]
        for stem, _, _ in TOOL_BUTTONS:
            out["main/%s_%d.jpg" % (stem, s)] = (69, 23)
        for stem, _, _, _ in PAGE_BUTTONS:
            out["main/%s_%d.bmp" % (stem, s)] = (64, 24)
    for i in range(6):
        out["main/tree_%d.bmp" % i] = (16, 16)
    for name in BUILTIN_GIF_SIZES:
        out["builtin/" + name] = (69, 23)
    return out


def verify(files):
    formats = {"gif": "GIF", "jpg": "JPEG", "bmp": "BMP"}
    expected = expected_images()
    pictures = {p for p in files if p.rsplit(".", 1)[1] in formats}
    assert pictures == set(expected), sorted(pictures ^ set(expected))
    for path, size in expected.items():
        data = files[path]
        img = Image.open(io.BytesIO(data))
        img.load()
        assert img.format == formats[path.rsplit(".", 1)[1]], (path, img.format)
        assert img.size == tuple(size), (path, img.size, size)
        if path.endswith(".gif"):
            assert data[:6] == b"GIF89a" and data[10] == 0xF7, path
            assert getattr(img, "n_frames", 1) == 1, path
    for name, size in BUILTIN_GIF_SIZES.items():
        assert len(files["builtin/" + name]) == size, name
    assert len(set(files["main/tree_%d.bmp" % i] for i in range(6))) == 6, "tree images must differ"


def preview(files, out):
    """The background with every control's picture and sample texts in place."""

    def load(path):
        return Image.open(io.BytesIO(files[path])).convert("RGB")

    img = load("main/background.gif")
    place = [("main/min_0.gif", MIN_BTN), ("main/max_0.gif", MAX_BTN), ("main/close_0.gif", CLOSE_BTN)]
    place += [("main/%s_0.jpg" % s, (x, TOOL_TOP)) for s, _, x in TOOL_BUTTONS]
    place += [("main/search_0.gif", SEARCH_BTN)]
    place += [("main/%s_0.bmp" % s, (x, PAGE_TOP)) for s, _, x, _ in PAGE_BUTTONS]
    place += [("main/update_mark.jpg", UPDATE_MARK)]
    for path, geom in place:
        img.paste(load(path), geom[:2])
    d = ImageDraw.Draw(img)
    f = font(12)
    labels = [
        ((674, 5), "设置", WHITE),
        ((711, 5), "关于", WHITE),
        ((205, 103), "最新更新资源", LIST_TEXT),
        ((336, 103), "共 12 页", LIST_TEXT),
        ((538, 103), "当前位置", LIST_TEXT),
        ((19, 516), "主程序版本：1.4 测试版", FOOT_TEXT),
        ((216, 516), "最新版本", FOOT_TEXT),
        ((282, 516), "正在检查更新...", FOOT_TEXT),
        ((656, 516), "官方网址：www.example.org", FOOT_TEXT),
        ((596, 62), "请输入您要搜索的关键字", (150, 150, 150)),
        ((596, 104), "1", (0, 0, 0)),
    ]
    for xy, text, colour in labels:
        d.text(xy, text, font=f, fill=colour)
    for i in range(6):
        img.paste(load("main/tree_%d.bmp" % i), (12, 96 + i * 20))
        d.text((32, 96 + i * 20), ["全部分类", "网络例程", "界面例程", "最新更新", "搜索结果", "随便看看"][i], font=f, fill=(0, 0, 0))
    for i, name in enumerate(("down.gif", "see.gif", "look.gif")):
        img.paste(load("builtin/" + name), (560 + i * 75, 140))
    img.save(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(ROOT, "assets"), help="assets folder to write")
    ap.add_argument("--check", action="store_true", help="only compare with the existing files")
    ap.add_argument("--preview", metavar="PNG", help="also save a composed preview of the main window")
    ap.add_argument("--icon-sheet", metavar="PNG", help="also save the desktop icons side by side")
    args = ap.parse_args()

    files = build()
    if args.icon_sheet:
        sheet = Image.new("RGBA", (sum(ICON_SIZES) + 10 * len(ICON_SIZES), 256), (255, 255, 255, 255))
        x = 0
        for size in ICON_SIZES:
            icon = Image.open(io.BytesIO(files["icons/hicolor/%dx%d/apps/org.vellumark.Vellumark.png" % (size, size)]))
            sheet.alpha_composite(icon.convert("RGBA"), (x, 0))
            x += size + 10
        sheet.save(args.icon_sheet)
    if args.preview:
        preview(files, args.preview)
    if args.check:
        stale = []
        for rel, data in sorted(files.items()):
            path = os.path.join(args.out, rel)
            if not os.path.isfile(path) or open(path, "rb").read() != data:
                stale.append(rel)
        for rel in stale:
            print("stale: " + rel, file=sys.stderr)
        return 1 if stale else 0
    for rel, data in sorted(files.items()):
        write_file(os.path.join(args.out, rel), data)
    print("wrote %d files to %s" % (len(files), args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
