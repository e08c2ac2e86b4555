#!/usr/bin/python3
"""Draws the client's own art: the window background (bitmap 141), the Start and Cancel button
strips (142, 143), the pointing-hand cursor (144) and the application icon (128).

    res/draw_art.py [OUTPUT_FOLDER]      (default: the folder of this script)

Needs Pillow and the WenQuanYi Micro Hei font (Debian: python3-pil, fonts-wqy-microhei). The output
is committed; a test draws it again and compares, so edit this script, run it and commit both.
Positions follow the window's layout in client pixels (one dialog unit is 1.5 pixels).
"""
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
WIDTH, HEIGHT = 440, 570
FRAME_W, FRAME_H = 77, 23
KEY = (0, 0, 255)  # the window's transparent key colour; never used in the strips

# Where the window puts its controls (client pixels).
NOTICE = (28, 109, 383, 233)
LABEL_X, LABEL_W = 114, 256
LABEL_Y = {"name": 391, "file": 412, "total": 459}
BARS = [(28, 435, 389, 12), (28, 481, 389, 12)]
START_POS, CANCEL_POS = (63, 522), (288, 522)


def font(size):
    return ImageFont.truetype(FONT, size)


def vertical_gradient(image, box, top, bottom):
    x0, y0, x1, y1 = box
    draw = ImageDraw.Draw(image)
    span = max(1, y1 - y0 - 1)
    for y in range(y0, y1):
        t = (y - y0) / span
        colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        draw.line([(x0, y), (x1 - 1, y)], fill=colour)


def lighter(colour, amount):
    return tuple(min(255, round(c + (255 - c) * amount)) for c in colour)


# ---- button strips ----

def button_frame(caption, face_top, face_bottom, border, text, shift=0):
    frame = Image.new("RGB", (FRAME_W, FRAME_H), (236, 240, 246))
    vertical_gradient(frame, (1, 1, FRAME_W - 1, FRAME_H - 1), face_top, face_bottom)
    draw = ImageDraw.Draw(frame)
    draw.rounded_rectangle([0, 0, FRAME_W - 1, FRAME_H - 1], radius=4, outline=border)
    draw.line([(3, 2), (FRAME_W - 4, 2)], fill=lighter(face_top, 0.45))  # a highlight along the top
    f = font(13)
    left, top, right, bottom = f.getbbox(caption)
    x = (FRAME_W - (right - left)) // 2 - left + shift
    y = (FRAME_H - (bottom - top)) // 2 - top + shift
    draw.text((x, y), caption, font=f, fill=text)
    return frame


def button_strip(caption):
    blue_top, blue_bottom, blue_border = (74, 140, 222), (28, 86, 178), (18, 52, 120)
    hover_top, hover_bottom = lighter(blue_top, 0.25), lighter(blue_bottom, 0.25)
    frames = [
        button_frame(caption, (214, 216, 220), (178, 181, 186), (132, 134, 138), (120, 122, 126)),  # locked
        button_frame(caption, blue_top, blue_bottom, blue_border, (255, 255, 255)),                 # normal
        button_frame(caption, hover_top, hover_bottom, blue_border, (255, 255, 255)),               # hover
        button_frame(caption, hover_top, hover_bottom, blue_border, (255, 255, 255), shift=1),      # pressed
    ]
    strip = Image.new("RGB", (FRAME_W * 4, FRAME_H))
    for i, frame in enumerate(frames):
        strip.paste(frame, (i * FRAME_W, 0))
    return without_key(strip)


def without_key(image):
    # The window draws the strips with a key colour; the shipped pictures must be opaque.
    pixels = image.load()
    for y in range(image.height):
        for x in range(image.width):
            if pixels[x, y] == KEY:
                pixels[x, y] = (0, 0, 254)
    return image


# ---- background ----

def logo(image):
    """The project's own logo: a disc with two beamed quavers, and the name beside it."""
    draw = ImageDraw.Draw(image)
    cx, cy, r = 58, 48, 30
    draw.ellipse([cx - r, cy - r, cx + r, cy + r], fill=(255, 196, 60), outline=(255, 236, 170), width=2)
    ink = (40, 30, 90)
    for hx in (cx - 12, cx + 8):
        draw.ellipse([hx - 6, cy + 6, hx + 5, cy + 14], fill=ink)
        draw.line([(hx + 4, cy + 10), (hx + 4, cy - 16)], fill=ink, width=3)
    draw.polygon([(cx - 9, cy - 17), (cx + 13, cy - 21), (cx + 13, cy - 14), (cx - 9, cy - 10)], fill=ink)
    big = font(40)
    draw.text((102, 14), "TARVO", font=big, fill=(22, 34, 82))
    draw.text((100, 12), "TARVO", font=big, fill=(255, 255, 255))
    draw.text((104, 60), "补丁更新程序  ·  Patch Client", font=font(13), fill=(214, 228, 255))


def caption(draw, xy, text, colour=(30, 44, 80)):
    draw.text(xy, text, font=font(12), fill=colour)


def background(start_strip, cancel_strip):
    image = Image.new("RGB", (WIDTH, HEIGHT))
    vertical_gradient(image, (0, 0, WIDTH, 92), (44, 82, 170), (92, 146, 226))
    vertical_gradient(image, (0, 92, WIDTH, HEIGHT), (226, 234, 246), (196, 210, 232))
    logo(image)
    draw = ImageDraw.Draw(image)
    draw.line([(0, 92), (WIDTH - 1, 92)], fill=(30, 60, 130))

    # The notice: its caption and a frame just outside the web view.
    x, y, w, h = NOTICE
    caption(draw, (x + 2, y - 16), "公告")
    draw.rectangle([x - 3, y - 3, x + w + 2, y + h + 2], outline=(120, 140, 180))
    draw.rectangle([x - 2, y - 2, x + w + 1, y + h + 1], outline=(250, 252, 255))
    draw.rectangle([x - 1, y - 1, x + w, y + h], fill=(255, 255, 255), outline=(160, 176, 206))

    # The patch group: a frame with its caption, the captions of the labels, the tracks.
    gx0, gy0, gx1, gy1 = 18, 368, 421, 503
    draw.rounded_rectangle([gx0, gy0, gx1, gy1], radius=5, outline=(130, 150, 190))
    draw.rectangle([gx0 + 10, gy0 - 7, gx0 + 40, gy0 + 7], fill=(212, 223, 240))
    caption(draw, (gx0 + 13, gy0 - 8), "补丁")
    caption(draw, (30, LABEL_Y["name"] - 2), "补丁文件名称 :")
    caption(draw, (30, LABEL_Y["file"] - 2), "当前更新进度 :")
    caption(draw, (30, LABEL_Y["total"] - 2), "文件总大小 :")
    for key in ("file", "total"):
        caption(draw, (LABEL_X + LABEL_W + 4, LABEL_Y[key] - 2), "字节")
    for bx, by, bw, bh in BARS:
        draw.rectangle([bx - 1, by - 1, bx + bw, by + bh], fill=(244, 247, 252), outline=(150, 166, 196))

    # The buttons as the window shows them first (the windows sit exactly on them).
    image.paste(start_strip.crop((FRAME_W, 0, 2 * FRAME_W, FRAME_H)), START_POS)
    image.paste(cancel_strip.crop((FRAME_W, 0, 2 * FRAME_W, FRAME_H)), CANCEL_POS)
    return image


# ---- cursor and icon (ICO/CUR files written here: Pillow writes neither in these formats) ----

def dib_entry(image, bits, palette=None):
    """One ICO/CUR image: a bottom-up DIB with doubled height, then the 1-bit AND mask."""
    w, h = image.size
    rgba = image.convert("RGBA")
    px = rgba.load()
    rows = []
    for y in range(h - 1, -1, -1):
        if bits == 32:
            row = b"".join(struct.pack("BBBB", px[x, y][2], px[x, y][1], px[x, y][0], px[x, y][3]) for x in range(w))
        else:  # 4 bits per pixel through the palette; transparent pixels take entry 0
            nibbles = [palette.index(px[x, y][:3]) if px[x, y][3] else 0 for x in range(w)]
            row = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, w, 2))
        rows.append(row + b"\0" * (-len(row) % 4))
    mask = []
    for y in range(h - 1, -1, -1):
        bitsrow = 0
        for x in range(w):
            bitsrow = (bitsrow << 1) | (0 if px[x, y][3] else 1)
        row = bitsrow.to_bytes((w + 7) // 8, "big")
        mask.append(row + b"\0" * (-len(row) % 4))
    colours = len(palette) if palette else 0
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, 0, 0, 0, colours, 0)
    table = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in (palette or []))
    return header + table + b"".join(rows) + b"".join(mask)


def icon_file(entries, kind, hotspots=None):
    """entries: list of (image, bits, palette); kind 1 = icon, 2 = cursor (hot spots given)."""
    out = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    blobs = []
    for i, (image, bits, palette) in enumerate(entries):
        blob = dib_entry(image, bits, palette)
        w, h = image.size
        colours = len(palette) if palette else 0
        if kind == 2:
            field1, field2 = hotspots[i]
        else:
            field1, field2 = 1, bits
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colours % 256, 0, field1, field2, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


def hand_cursor():
    """A pointing hand, 32 x 32, the tip of the index finger at (12, 1)."""
    image = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    black, white = (0, 0, 0, 255), (255, 255, 255, 255)
    finger = [(10, 2), (11, 1), (13, 1), (14, 2), (14, 11)]
    palm = [(14, 11), (16, 10), (18, 11), (19, 12), (21, 11), (23, 13), (24, 14), (25, 16), (25, 22),
            (23, 26), (22, 29), (12, 29), (11, 26), (6, 20), (5, 17), (6, 16), (8, 16), (10, 19), (10, 2)]
    outline = finger + palm[1:]
    draw.polygon(outline, fill=white, outline=black)
    for x in (14, 19):  # the gaps between the folded fingers
        draw.line([(x, 12), (x, 18)], fill=black)
    draw.line([(23, 14), (23, 18)], fill=black)
    palette = [(0, 0, 0), (255, 255, 255)] + [(0, 0, 0)] * 14
    return icon_file([(image, 4, palette)], 2, hotspots=[(12, 1)])


def app_icon_image(size):
    scale = 4
    big = Image.new("RGBA", (size * scale, size * scale), (0, 0, 0, 0))
    draw = ImageDraw.Draw(big)
    s = size * scale
    draw.ellipse([0, 0, s - 1, s - 1], fill=(44, 82, 170, 255))
    draw.ellipse([s * 0.1, s * 0.1, s * 0.9, s * 0.9], fill=(255, 196, 60, 255))
    ink = (40, 30, 90, 255)
    for hx in (0.36, 0.62):
        draw.ellipse([s * (hx - 0.12), s * 0.58, s * (hx + 0.08), s * 0.74], fill=ink)
        draw.rectangle([s * (hx + 0.03), s * 0.26, s * (hx + 0.08), s * 0.66], fill=ink)
    draw.polygon([(s * 0.39, s * 0.26), (s * 0.70, s * 0.20), (s * 0.70, s * 0.30), (s * 0.39, s * 0.36)], fill=ink)
    return big.resize((size, size), Image.LANCZOS)


def app_icon():
    return icon_file([(app_icon_image(size), 32, None) for size in (16, 32, 48)], 1)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    start = button_strip("开始游戏")
    cancel = button_strip("取消")
    start.save(os.path.join(out, "start_142.bmp"))
    cancel.save(os.path.join(out, "cancel_143.bmp"))
    background(start, cancel).save(os.path.join(out, "background_141.bmp"))
    with open(os.path.join(out, "hand_144.cur"), "wb") as f:
        f.write(hand_cursor())
    with open(os.path.join(out, "tarvo_128.ico"), "wb") as f:
        f.write(app_icon())


if __name__ == "__main__":
    main()
