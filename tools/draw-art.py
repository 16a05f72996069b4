#!/usr/bin/env python3
"""Draw the artwork that is linked into the Tarnlink Suite setup program.

Writes, relative to the repository root:
  resources/art/tl_bmp.bmp     product banner, 168 x 47, 8 bpp
  resources/art/qvlogo.bmp     Quorvale maker logo, 115 x 84, 4 bpp
  resources/art/app_main.ico   setup.exe's icon, 32 x 32 and 16 x 16, 4 bpp
  resources/art/product.ico    the product's icon (removetl.exe, tarnlink.exe):
                               the same picture at 16, 32 and 48 pixels, each
                               in 16 and in 256 colours

Everything is drawn procedurally with the standard library only and the
BMP/ICO bytes are assembled by hand, so the output is identical on every
run.  Usage (from anywhere):  python3 tools/draw-art.py
"""

import math
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ART_DIR = os.path.join(ROOT, "resources", "art")


# ---------------------------------------------------------------------------
# Small raster canvas
# ---------------------------------------------------------------------------

class Canvas:
    """A w x h grid of arbitrary pixel values (RGB tuples or palette indices)."""

    def __init__(self, w, h, fill):
        self.w = w
        self.h = h
        self.pix = [[fill] * w for _ in range(h)]

    def get(self, x, y):
        return self.pix[y][x]

    def set(self, x, y, v):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.pix[y][x] = v

    def rect(self, x0, y0, x1, y1, v):
        """Fill the inclusive rectangle (x0,y0)-(x1,y1)."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, v)

    def hline(self, x0, x1, y, v):
        for x in range(x0, x1 + 1):
            self.set(x, y, v)

    def vline(self, x, y0, y1, v):
        for y in range(y0, y1 + 1):
            self.set(x, y, v)

    def line(self, x0, y0, x1, y1, v):
        """Bresenham line between integer points."""
        dx = abs(x1 - x0)
        dy = -abs(y1 - y0)
        sx = 1 if x0 < x1 else -1
        sy = 1 if y0 < y1 else -1
        err = dx + dy
        while True:
            self.set(x0, y0, v)
            if x0 == x1 and y0 == y1:
                break
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy


# ---------------------------------------------------------------------------
# Bitmap fonts (1-pixel strokes; '#' = ink).  Bold text is produced by
# smearing each glyph one pixel to the right, like the old system fonts.
# ---------------------------------------------------------------------------

# Title face: 11 rows, x-height 8 (lowercase starts on row 3).
TITLE_FONT = {
    "T": ["#######",
          "...#...",
          "...#...",
          "...#...",
          "...#...",
          "...#...",
          "...#...",
          "...#...",
          "...#...",
          "...#...",
          "...#..."],
    "S": [".####.",
          "#....#",
          "#.....",
          "#.....",
          ".#....",
          "..###.",
          ".....#",
          ".....#",
          ".....#",
          "#....#",
          ".####."],
    "a": [".....",
          ".....",
          ".....",
          ".###.",
          "....#",
          "....#",
          ".####",
          "#...#",
          "#...#",
          "#..##",
          ".##.#"],
    "e": [".....",
          ".....",
          ".....",
          ".###.",
          "#...#",
          "#...#",
          "#####",
          "#....",
          "#....",
          "#...#",
          ".###."],
    "i": ["#",
          "#",
          ".",
          "#",
          "#",
          "#",
          "#",
          "#",
          "#",
          "#",
          "#"],
    "k": ["#....",
          "#....",
          "#....",
          "#...#",
          "#..#.",
          "#.#..",
          "##...",
          "#.#..",
          "#..#.",
          "#...#",
          "#...#"],
    "l": ["#"] * 11,
    "n": [".....",
          ".....",
          ".....",
          "#.##.",
          "##..#",
          "#...#",
          "#...#",
          "#...#",
          "#...#",
          "#...#",
          "#...#"],
    "r": ["....",
          "....",
          "....",
          "#.##",
          "##..",
          "#...",
          "#...",
          "#...",
          "#...",
          "#...",
          "#..."],
    "t": ["....",
          ".#..",
          ".#..",
          "####",
          ".#..",
          ".#..",
          ".#..",
          ".#..",
          ".#..",
          ".#..",
          "..##"],
    "u": [".....",
          ".....",
          ".....",
          "#...#",
          "#...#",
          "#...#",
          "#...#",
          "#...#",
          "#...#",
          "#..##",
          ".##.#"],
    " ": ["..."] * 11,
}

# Small face: 7 rows, x-height 5.  Used for captions and the maker name.
SMALL_FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "e": ["....", "....", ".##.", "#..#", "####", "#...", ".###"],
    "k": ["#...", "#...", "#..#", "#.#.", "##..", "#.#.", "#..#"],
    "l": ["#", "#", "#", "#", "#", "#", "#"],
    "o": ["....", "....", ".##.", "#..#", "#..#", "#..#", ".##."],
    "r": ["...", "...", "#.#", "##.", "#..", "#..", "#.."],
    "s": ["....", "....", ".###", "#...", ".##.", "...#", "###."],
    "t": ["...", ".#.", "###", ".#.", ".#.", ".#.", "..#"],
    "w": [".....", ".....", "#...#", "#...#", "#.#.#", "#.#.#", ".#.#."],
    " ": ["..."] * 7,
}


# Logo face: 12 rows, rounded "technical" capitals with 2-pixel strokes.
LOGO_FONT = {
    "Q": ["..######...",
          ".########..",
          "###....###.",
          "##......##.",
          "##......##.",
          "##......##.",
          "##......##.",
          "##...##.##.",
          "##....####.",
          "###....###.",
          ".#########.",
          "..######.##"],
    "U": ["##......##",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "###....###",
          ".########.",
          "..######.."],
    "O": ["..######..",
          ".########.",
          "###....###",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "##......##",
          "###....###",
          ".########.",
          "..######.."],
    "R": ["########..",
          "#########.",
          "##.....###",
          "##......##",
          "##......##",
          "##.....###",
          "#########.",
          "########..",
          "##....###.",
          "##.....###",
          "##......##",
          "##......##"],
    "V": ["##......##",
          "##......##",
          "##......##",
          "###....###",
          ".##....##.",
          ".##....##.",
          ".###..###.",
          "..##..##..",
          "..##..##..",
          "..######..",
          "...####...",
          "....##...."],
    "A": ["..######..",
          ".########.",
          "###....###",
          "##......##",
          "##......##",
          "##......##",
          "##########",
          "##########",
          "##......##",
          "##......##",
          "##......##",
          "##......##"],
    "L": ["##........",
          "##........",
          "##........",
          "##........",
          "##........",
          "##........",
          "##........",
          "##........",
          "##........",
          "##........",
          "##########",
          "##########"],
    "E": ["##########",
          "##########",
          "##........",
          "##........",
          "##........",
          "########..",
          "########..",
          "##........",
          "##........",
          "##........",
          "##########",
          "##########"],
}


def text_mask(font, text, bold=False, spacing=1, sx=1, sy=1):
    """Render text into a set of (x, y) ink pixels; returns (pixels, w, h)."""
    ink = set()
    pen = 0
    height = len(next(iter(font.values())))
    for ch in text:
        glyph = font[ch]
        gw = len(glyph[0])
        for gy, row in enumerate(glyph):
            for gx, c in enumerate(row):
                if c != "#":
                    continue
                for bx in range(2 if bold else 1):
                    for yy in range(sy):
                        for xx in range(sx):
                            ink.add((pen + (gx + bx) * sx + xx, gy * sy + yy))
        pen += (gw + (1 if bold else 0)) * sx + spacing
    return ink, pen - spacing, height * sy


# ---------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------

def _pack_rows(canvas, bpp):
    """Bottom-up pixel rows, each padded to a multiple of 4 bytes."""
    row_bytes = (canvas.w * bpp + 31) // 32 * 4
    out = bytearray()
    for y in range(canvas.h - 1, -1, -1):
        row = canvas.pix[y]
        b = bytearray()
        if bpp == 8:
            b.extend(row)
        elif bpp == 4:
            for x in range(0, canvas.w, 2):
                hi = row[x]
                lo = row[x + 1] if x + 1 < canvas.w else 0
                b.append((hi << 4) | lo)
        elif bpp == 1:
            for x in range(0, canvas.w, 8):
                v = 0
                for i in range(8):
                    if x + i < canvas.w and row[x + i]:
                        v |= 0x80 >> i
                b.append(v)
        else:
            raise ValueError(bpp)
        b.extend(b"\0" * (row_bytes - len(b)))
        out.extend(b)
    return bytes(out)


def _info_header(w, h, bpp, image_size, colours, ppm=2835):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, 0, image_size,
                       ppm, ppm, colours, 0)


def _palette_bytes(palette):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)


def _rle_rows(canvas, bpp):
    """Bottom-up rows run-length encoded (BI_RLE8 or BI_RLE4): the pictures
    travel inside the setup program. Each row takes the shortest mix of
    encoded runs (one value, or for 4 bpp two values taking turns) and
    absolute runs, found by a shortest-path search along the row."""
    out = bytearray()

    def run_length(row, x):
        # The longest encoded run from x: 8 bpp repeats one value, 4 bpp
        # alternates the first two.
        n = 1
        while x + n < len(row) and n < 255:
            if row[x + n] != row[x + (n % 2 if bpp == 4 else 0)]:
                break
            n += 1
        return n

    def absolute_cost(n):
        size = n if bpp == 8 else (n + 1) // 2
        return 2 + size + size % 2

    def encode_row(row):
        w = len(row)
        best = [0] + [None] * w
        step = [None] * (w + 1)
        for x in range(w):
            if best[x] is None:
                continue
            longest = run_length(row, x)
            for n in range(1, longest + 1):
                if best[x + n] is None or best[x] + 2 < best[x + n]:
                    best[x + n], step[x + n] = best[x] + 2, ("run", x, n)
            for n in range(3, min(255, w - x) + 1):
                cost = best[x] + absolute_cost(n)
                if best[x + n] is None or cost < best[x + n]:
                    best[x + n], step[x + n] = cost, ("abs", x, n)
        parts, x = [], w
        while x > 0:
            parts.append(step[x])
            x = step[x][1]
        for kind, x, n in reversed(parts):
            pixels = row[x:x + n]
            if kind == "run":
                second = pixels[1] if len(pixels) > 1 else pixels[0]
                out.extend((n, pixels[0] if bpp == 8 else (pixels[0] << 4) | second))
            else:
                out.extend((0, n))
                if bpp == 8:
                    data = bytes(pixels)
                else:
                    data = bytes((pixels[i] << 4) | (pixels[i + 1] if i + 1 < n else 0)
                                 for i in range(0, n, 2))
                out.extend(data)
                if len(data) % 2:
                    out.append(0)

    for y in range(canvas.h - 1, -1, -1):
        encode_row(canvas.pix[y])
        out.extend((0, 0))
    out[-2:] = bytes((0, 1))
    return bytes(out)


def bmp_bytes(canvas, bpp, palette, rle=False):
    """A complete .bmp file for an indexed canvas."""
    for row in canvas.pix:
        for v in row:
            assert 0 <= v < len(palette), v
    bits = _rle_rows(canvas, bpp) if rle else _pack_rows(canvas, bpp)
    pal = _palette_bytes(palette)
    offset = 14 + 40 + len(pal)
    info = _info_header(canvas.w, canvas.h, bpp, len(bits), len(palette))
    if rle:
        compression = 1 if bpp == 8 else 2
        info = info[:16] + struct.pack("<I", compression) + info[20:]
    head = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return head + info + pal + bits


def ico_bytes(images):
    """An .ico file from [(canvas, palette)] where None pixels are see-through.

    A palette of 16 colours gives a 4 bpp image, one of 256 an 8 bpp image.
    Every image is an uncompressed DIB with its AND mask, as Windows 95
    reads them (no PNG images)."""
    blobs = []
    for canvas, palette in images:
        bpp = {16: 4, 256: 8}[len(palette)]
        # See-through pixels take colour 0, black, which the mask's XOR
        # leaves the screen as it was.
        assert palette[0] == (0, 0, 0)
        xor = Canvas(canvas.w, canvas.h, 0)
        mask = Canvas(canvas.w, canvas.h, 0)
        for y in range(canvas.h):
            for x in range(canvas.w):
                v = canvas.get(x, y)
                if v is None:
                    mask.set(x, y, 1)
                else:
                    xor.set(x, y, v)
        xor_bits = _pack_rows(xor, bpp)
        and_bits = _pack_rows(mask, 1)
        info = _info_header(canvas.w, canvas.h * 2, bpp,
                            len(xor_bits) + len(and_bits), 0, ppm=0)
        blobs.append((canvas.w, canvas.h, bpp,
                      info + _palette_bytes(palette) + xor_bits + and_bits))
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for w, h, bpp, blob in blobs:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, (1 << bpp) % 256, 0, 1, bpp,
                           len(blob), offset)
        offset += len(blob)
    for _, _, _, blob in blobs:
        out += blob
    return bytes(out)


# ---------------------------------------------------------------------------
# Shared helpers
# ---------------------------------------------------------------------------

def mix(c0, c1, t):
    t = min(1.0, max(0.0, t))
    return tuple(int(round(a + (b - a) * t)) for a, b in zip(c0, c1))


def ramp(stops, t):
    """Piecewise-linear colour ramp; stops = [(pos, rgb), ...]."""
    t = min(1.0, max(0.0, t))
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0) if p1 > p0 else 0.0)
    return stops[-1][1]


def quant(t, steps):
    """Snap 0..1 to one of `steps` levels (keeps palettes small)."""
    t = min(1.0, max(0.0, t))
    return round(t * (steps - 1)) / (steps - 1)


def _normalise(v):
    n = math.sqrt(sum(c * c for c in v))
    return tuple(c / n for c in v)


LIGHT = _normalise((-0.55, -0.65, 0.75))   # from the upper left, in front


def sphere_sample(px, py, cx, cy, r, tilt=0.35, spin=0.3,
                  lat_step=30, lon_step=30, lat_shift=0.5):
    """Shading and grid cell of a globe at pixel (px, py).

    Returns None outside the disc, else (light 0..1, lat_cell, lon_cell).
    """
    dx = (px + 0.5 - cx) / r
    dy = (py + 0.5 - cy) / r
    d2 = dx * dx + dy * dy
    if d2 > 1.0:
        return None
    dz = math.sqrt(1.0 - d2)
    light = dx * LIGHT[0] + dy * LIGHT[1] + dz * LIGHT[2]
    # Tip the globe towards the viewer so the parallels curve.
    y2 = dy * math.cos(tilt) - dz * math.sin(tilt)
    z2 = dy * math.sin(tilt) + dz * math.cos(tilt)
    lat = math.degrees(math.asin(max(-1.0, min(1.0, -y2))))
    lon = math.degrees(math.atan2(dx, z2) + spin)
    lat_cell = math.floor(lat / lat_step + lat_shift)
    lon_cell = math.floor(lon / lon_step) % (360 // lon_step)
    return max(0.0, light), lat_cell, lon_cell


def globe_layers(cx, cy, r, x0, y0, x1, y1, **kw):
    """Map (x, y) -> (light, is_grid_line) for the visible disc."""
    cells = {}
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            s = sphere_sample(x, y, cx, cy, r, **kw)
            if s is not None:
                cells[(x, y)] = s
    out = {}
    for (x, y), (light, lat_c, lon_c) in cells.items():
        grid = False
        for nx, ny in ((x + 1, y), (x, y + 1)):
            n = cells.get((nx, ny))
            if n is not None and (n[1] != lat_c or n[2] != lon_c):
                grid = True
        out[(x, y)] = (light, grid)
    return out


def ellipse_points(cx, cy, a, b, angle, n=720):
    """Points on a rotated ellipse with a flag telling the far half."""
    ca, sa = math.cos(angle), math.sin(angle)
    pts = []
    for i in range(n):
        t = 2 * math.pi * i / n
        ex, ey = a * math.cos(t), b * math.sin(t)
        x = cx + ex * ca - ey * sa
        y = cy + ex * sa + ey * ca
        pts.append((x, y, math.sin(t) < 0))      # upper half lies behind
    return pts


# ---------------------------------------------------------------------------
# 1. Product banner, 168 x 47, 8 bpp
# ---------------------------------------------------------------------------

BANNER_W, BANNER_H = 168, 47


def draw_banner():
    W, H = BANNER_W, BANNER_H
    c = Canvas(W, H, (0, 0, 0))

    # Panel: diagonal midnight-blue gradient.
    bg_stops = [(0.0, (24, 48, 120)), (0.55, (8, 24, 80)), (1.0, (0, 8, 40))]
    for y in range(H):
        for x in range(W):
            t = (x / W) * 0.7 + (y / H) * 0.3
            c.set(x, y, ramp(bg_stops, quant(t, 20)))

    # Faint horizontal scan lines in the text area give it some texture.
    for y in range(4, H - 4, 3):
        for x in range(52, W - 3):
            r, g, b = c.get(x, y)
            c.set(x, y, (max(0, r - 8), max(0, g - 10), max(0, b - 16)))

    # Globe.
    gx, gy, gr = 25.0, 24.0, 16.5
    glow = globe_layers(gx, gy, gr, 2, 2, 50, 45)
    sea = [(0.0, (0, 24, 72)), (0.45, (0, 80, 168)), (0.8, (40, 150, 230)),
           (1.0, (190, 240, 255))]
    for (x, y), (light, grid) in glow.items():
        t = quant(light, 12)
        col = ramp(sea, t)
        if grid:
            col = ramp(sea, quant(min(1.0, light + 0.35), 12))
            col = mix(col, (120, 255, 255), 0.35)
        c.set(x, y, col)
    # Dark rim so the sphere stands off the panel.
    rim = (0, 8, 32)
    for y in range(2, 46):
        for x in range(2, 50):
            if (x, y) in glow:
                continue
            for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
                if (nx, ny) in glow:
                    c.set(x, y, rim)
                    break

    # Orbit ring with network nodes riding on it.
    orbit = ellipse_points(gx, gy, 23.5, 7.5, math.radians(-18))
    gold_hi, gold, gold_lo = (255, 236, 120), (240, 176, 16), (150, 90, 0)
    for x, y, back in orbit:
        ix, iy = int(math.floor(x)), int(math.floor(y))
        if back and (ix, iy) in glow:
            continue
        c.set(ix, iy + 1, gold_lo)
    for x, y, back in orbit:
        ix, iy = int(math.floor(x)), int(math.floor(y))
        if back and (ix, iy) in glow:
            continue
        c.set(ix, iy, gold_hi if y < gy else gold)

    # Links between the nodes.
    link = (255, 236, 160)
    nodes = []
    for deg in (152, 28, 95):
        t = math.radians(deg)
        a, b, ang = 23.5, 7.5, math.radians(-18)
        ex, ey = a * math.cos(t), b * math.sin(t)
        nodes.append((int(round(gx + ex * math.cos(ang) - ey * math.sin(ang))),
                      int(round(gy + ex * math.sin(ang) + ey * math.cos(ang)))))
    top = (int(gx) + 3, int(gy - gr) - 1)
    nodes.append(top)
    for (ax, ay), (bx, by) in ((nodes[0], nodes[3]), (nodes[1], nodes[3]),
                               (nodes[0], nodes[2]), (nodes[2], nodes[1])):
        c.line(ax, ay, bx, by, link)

    node_shape = [".###.",
                  "#hh##",
                  "#h###",
                  "#####",
                  ".###."]
    for nx, ny in nodes:
        for sy, row in enumerate(node_shape):
            for sx, ch in enumerate(row):
                px, py = nx - 2 + sx, ny - 2 + sy
                if ch == "h":
                    c.set(px, py, (255, 255, 255))
                elif ch == "#":
                    edge = sy in (0, 4) or sx in (0, 4)
                    c.set(px, py, (200, 60, 0) if edge else (255, 160, 32))
        # outline
        for sy in range(-1, 6):
            for sx in range(-1, 6):
                inside = 0 <= sy < 5 and 0 <= sx < 5 and node_shape[sy][sx] != "."
                if inside:
                    continue
                near = False
                for ox, oy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                    qx, qy = sx + ox, sy + oy
                    if 0 <= qy < 5 and 0 <= qx < 5 and node_shape[qy][qx] != ".":
                        near = True
                if near:
                    c.set(nx - 2 + sx, ny - 2 + sy, (16, 8, 0))

    # Title with drop shadow and a white-to-gold fill.
    ink, tw, th = text_mask(TITLE_FONT, "Tarnlink Suite", bold=True, spacing=1)
    tx, ty = 56, 9
    for (x, y) in ink:
        c.set(tx + x + 2, ty + y + 2, (0, 0, 16))
    for (x, y) in ink:
        c.set(tx + x + 1, ty + y + 1, (0, 0, 16))
    fill = [(0.0, (255, 255, 255)), (0.45, (255, 246, 200)), (1.0, (255, 196, 40))]
    for (x, y) in ink:
        c.set(tx + x, ty + y, ramp(fill, y / (th - 1)))

    # Gold rule fading out to the right, then the caption.
    ry = ty + th + 5
    for x in range(tx, W - 6):
        t = (x - tx) / (W - 6 - tx)
        c.set(x, ry, mix((255, 200, 48), c.get(x, ry), quant(t, 10)))
        c.set(x, ry + 1, mix((110, 60, 0), c.get(x, ry + 1), quant(t, 10)))

    cap, cw, ch_ = text_mask(SMALL_FONT, "Network Tools", bold=False, spacing=1)
    cx0, cy0 = tx + 1, ry + 5
    for (x, y) in cap:
        c.set(cx0 + x + 1, cy0 + y + 1, (0, 0, 16))
    for (x, y) in cap:
        c.set(cx0 + x, cy0 + y, (150, 220, 255))

    # Raised bevel frame (Windows style) so the panel sits on the desktop.
    for x in range(W):
        c.set(x, 0, (224, 240, 240))
        c.set(x, H - 1, (0, 16, 16))
    for y in range(H):
        c.set(0, y, (224, 240, 240))
        c.set(W - 1, y, (0, 16, 16))
    for x in range(1, W - 1):
        c.set(x, 1, (96, 160, 200))
        c.set(x, H - 2, (0, 40, 64))
    for y in range(1, H - 1):
        c.set(1, y, (96, 160, 200))
        c.set(W - 2, y, (0, 40, 64))

    # Index the colours.
    colours = sorted({v for row in c.pix for v in row})
    if len(colours) > 256:
        sys.exit("banner uses %d colours, more than 256" % len(colours))
    index = {v: i for i, v in enumerate(colours)}
    out = Canvas(W, H, 0)
    for y in range(H):
        for x in range(W):
            out.set(x, y, index[c.get(x, y)])
    return bmp_bytes(out, 8, colours, rle=True)


# ---------------------------------------------------------------------------
# 2. Maker logo, 115 x 84, 4 bpp
# ---------------------------------------------------------------------------

LOGO_W, LOGO_H = 115, 84

LOGO_PALETTE = [
    (0, 128, 128),     # 0  window background (dark cyan)
    (0, 0, 0),         # 1  black
    (0, 72, 72),       # 2  cast shadow
    (255, 255, 255),   # 3  white
    (255, 250, 210),   # 4  gold ramp, brightest
    (255, 226, 120),   # 5
    (246, 196, 56),    # 6
    (220, 156, 16),    # 7
    (176, 116, 0),     # 8
    (128, 80, 0),      # 9
    (80, 46, 0),       # 10 darkest gold
    (192, 192, 192),   # 11 light grey (lower half of the lettering)
    (128, 128, 128),   # 12-15 spare
    (0, 32, 80),
    (0, 64, 136),
    (32, 112, 184),
]


def _tube_light(nr, dirx, diry):
    """Light a rounded (tube-like) profile; nr in -1..1 across the tube."""
    nz = math.sqrt(max(0.0, 1.0 - nr * nr))
    n = (nr * dirx, nr * diry, nz)
    return max(0.0, n[0] * LIGHT[0] + n[1] * LIGHT[1] + n[2] * LIGHT[2]), nz


def draw_logo():
    W, H = LOGO_W, LOGO_H
    c = Canvas(W, H, 0)
    cx, cy = 57.0, 31.0
    r_out, r_in = 28.0, 17.0
    r_mid, half = (r_out + r_in) / 2, (r_out - r_in) / 2
    # The tail: a tapered bar leaving the ring towards the lower right.
    t0 = (cx + 8.0, cy + 9.0)
    t1 = (cx + 34.0, cy + 29.0)
    tail_half = 5.0

    def sample(px, py):
        """(height, light) of the emblem at a pixel centre, or None."""
        best = None
        dx, dy = px - cx, py - cy
        d = math.hypot(dx, dy)
        if d > 0 and abs(d - r_mid) <= half:
            nr = (d - r_mid) / half
            light, h = _tube_light(nr, dx / d, dy / d)
            best = (h, light)
        vx, vy = t1[0] - t0[0], t1[1] - t0[1]
        u = ((px - t0[0]) * vx + (py - t0[1]) * vy) / (vx * vx + vy * vy)
        u = min(1.0, max(0.0, u))                  # rounded ends
        ox = px - (t0[0] + u * vx)
        oy = py - (t0[1] + u * vy)
        dist = math.hypot(ox, oy)
        hw = tail_half * (1.0 - 0.4 * u)
        if 0 < dist <= hw:
            light, h = _tube_light(dist / hw, ox / dist, oy / dist)
            h += 0.15                              # tail passes over ring
            if best is None or h > best[0]:
                best = (h, light)
        return best

    shape = {}
    for y in range(H):
        for x in range(W):
            s = sample(x + 0.5, y + 0.5)
            if s is not None:
                shape[(x, y)] = s

    # Cast shadow first, then the metal.
    for (x, y) in shape:
        c.set(x + 3, y + 3, 2)
    gold = [4, 5, 6, 7, 8, 9, 10]
    for (x, y), (h, light) in shape.items():
        lvl = int(round((1.0 - min(1.0, light * 1.08)) * (len(gold) - 1)))
        c.set(x, y, gold[max(0, min(len(gold) - 1, lvl))])
    # Bright glint and a crisp dark outline.
    for (x, y), (h, light) in shape.items():
        if light > 0.985:
            c.set(x, y, 3)
    for y in range(H):
        for x in range(W):
            if (x, y) in shape:
                continue
            for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
                if (nx, ny) in shape:
                    c.set(x, y, 10)
                    break

    # Maker name, chunky capitals with a bevel.
    ink, tw, th = text_mask(LOGO_FONT, "QUORVALE", spacing=3)
    tx, ty = (W - tw) // 2, H - th - 4
    for (x, y) in ink:
        c.set(tx + x + 2, ty + y + 2, 2)
    for (x, y) in ink:
        c.set(tx + x + 1, ty + y + 1, 1)
    for (x, y) in ink:
        c.set(tx + x, ty + y, 3 if y < th // 2 else 11)
    return bmp_bytes(c, 4, LOGO_PALETTE, rle=True)


# ---------------------------------------------------------------------------
# 3. Program icon, 32 x 32 and 16 x 16, 4 bpp
# ---------------------------------------------------------------------------

VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY = 0, 4, 7, 8
YELLOW, BLUE, AQUA, WHITE, OLIVE = 11, 12, 14, 15, 3


def draw_floppy(c, x0, y0, size):
    """A 3.5-inch diskette, size x size pixels, top-left at (x0, y0)."""
    s = size
    x1, y1 = x0 + s - 1, y0 + s - 1
    c.rect(x0, y0, x1, y1, NAVY)
    cut = max(2, s // 8)
    for i in range(cut):                      # chamfered top-right corner
        for j in range(cut - i):
            c.set(x1 - j, y0 + i, None)
    # Outline.
    c.hline(x0, x1 - cut, y0, BLACK)
    c.hline(x0, x1, y1, BLACK)
    c.vline(x0, y0, y1, BLACK)
    c.vline(x1, y0 + cut, y1, BLACK)
    c.line(x1 - cut, y0, x1, y0 + cut, BLACK)
    # Metal shutter with its window.
    sx0, sx1 = x0 + s // 4, x1 - s // 4 - (1 if s > 16 else 0)
    sy1 = y0 + s * 3 // 8
    c.rect(sx0, y0 + 1, sx1, sy1, SILVER)
    c.vline(sx1, y0 + 1, sy1, GREY)
    c.hline(sx0, sx1, sy1, GREY)
    wx = sx1 - max(1, s // 8) - (1 if s > 16 else 0)
    ww = max(1, s // 10)
    c.rect(wx, y0 + 2 + (1 if s > 16 else 0), wx + ww - 1, sy1 - 2, BLACK)
    # Paper label.
    lx0, lx1 = x0 + s // 8 + 1, x1 - s // 8 - 1
    ly0, ly1 = y0 + s // 2 + 1, y1 - 1
    c.rect(lx0, ly0, lx1, ly1, WHITE)
    if s > 16:
        for ly in range(ly0 + 2, ly1, 2):
            c.hline(lx0 + 2, lx1 - 2, ly, SILVER)


def draw_icon_globe(c, cx, cy, r, ring=True):
    small = r < 6
    glow = globe_layers(cx, cy, r, 0, 0, c.w - 1, c.h - 1,
                        lat_step=90 if small else 45, lat_shift=0.0,
                        lon_step=90 if small else 45, spin=0.5)
    for (x, y), (light, grid) in glow.items():
        if light > 0.95:
            col = WHITE
        elif light > 0.35:
            col = AQUA if grid else BLUE
        else:
            col = BLUE if grid else NAVY
        c.set(x, y, col)
    for y in range(c.h):
        for x in range(c.w):
            if (x, y) in glow:
                continue
            if any((x + ox, y + oy) in glow
                   for ox, oy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                c.set(x, y, BLACK)
    if ring:
        pts = ellipse_points(cx, cy, r * 1.3, r * 0.4, math.radians(-20), 360)
        for colour, dy in ((OLIVE, 1), (YELLOW, 0)):
            for x, y, back in pts:
                ix, iy = int(math.floor(x)), int(math.floor(y))
                if back and (ix, iy) in glow:
                    continue
                c.set(ix, iy + dy, colour)
    return glow


# Where the diskette and the globe stand at each size: (diskette's corner,
# its size), (globe's centre, radius, ring).
ICON_LAYOUT = {
    16: ((0, 12), (10.5, 10.5, 4.6, False)),
    32: ((1, 24), (20.5, 21.5, 8.2, True)),
    48: ((1, 36), (30.75, 32.25, 12.3, True)),
}


def draw_icon(size):
    c = Canvas(size, size, None)
    (corner, side), (gx, gy, r, ring) = ICON_LAYOUT[size]
    draw_floppy(c, corner, corner, side)
    draw_icon_globe(c, gx, gy, r, ring=ring)
    return c


# ---------------------------------------------------------------------------
# 4. The same icon in 256 colours: shaded where the 16-colour one is flat
# ---------------------------------------------------------------------------

def draw_floppy_shaded(c, x0, y0, size):
    """The diskette of draw_floppy with lit plastic and metal."""
    flat = Canvas(c.w, c.h, None)
    draw_floppy(flat, x0, y0, size)
    s = size
    for y in range(c.h):
        for x in range(c.w):
            v = flat.get(x, y)
            if v is None:
                continue
            # Light falls from the upper left across the whole disk.
            t = ((x - x0) + (y - y0)) / (2.0 * s)
            if v == NAVY:
                col = ramp([(0.0, (52, 84, 176)), (1.0, (14, 24, 82))], quant(t, 8))
            elif v == SILVER:
                col = ramp([(0.0, (236, 238, 242)), (1.0, (150, 156, 168))], quant(t, 6))
            elif v == GREY:
                col = (104, 108, 120)
            elif v == WHITE:
                col = ramp([(0.0, (255, 255, 250)), (1.0, (222, 220, 206))], quant(t, 4))
            else:
                col = VGA[v]
            c.set(x, y, col)


def draw_globe_shaded(c, cx, cy, r, ring=True):
    small = r < 6
    glow = globe_layers(cx, cy, r, 0, 0, c.w - 1, c.h - 1,
                        lat_step=90 if small else 45, lat_shift=0.0,
                        lon_step=90 if small else 45, spin=0.5)
    sea = [(0.0, (0, 18, 72)), (0.45, (16, 72, 188)), (0.8, (64, 156, 244)),
           (1.0, (200, 240, 255))]
    for (x, y), (light, grid) in glow.items():
        level = quant(light, 16)
        col = ramp(sea, level)
        if grid:
            col = mix(col, (150, 255, 255), 0.45)
        if light > 0.95:
            col = (255, 255, 255)
        c.set(x, y, col)
    for y in range(c.h):
        for x in range(c.w):
            if (x, y) in glow:
                continue
            if any((x + ox, y + oy) in glow
                   for ox, oy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                c.set(x, y, (0, 0, 0))
    if ring:
        pts = ellipse_points(cx, cy, r * 1.3, r * 0.4, math.radians(-20), 360)
        for dy in (1, 0):
            for x, y, back in pts:
                ix, iy = int(math.floor(x)), int(math.floor(y))
                if back and (ix, iy) in glow:
                    continue
                # Brighter towards the front, a darker band beneath.
                front = quant((ix - (cx - r * 1.3)) / (2.6 * r), 5)
                gold = mix((255, 236, 96), (214, 150, 0), front)
                c.set(ix, iy + dy, gold if dy == 0 else mix(gold, (0, 0, 0), 0.45))


def draw_icon_shaded(size):
    c = Canvas(size, size, None)
    (corner, side), (gx, gy, r, ring) = ICON_LAYOUT[size]
    draw_floppy_shaded(c, corner, corner, side)
    draw_globe_shaded(c, gx, gy, r, ring=ring)
    return c


def indexed(canvas):
    """(canvas of palette indices, 256-colour palette) for an RGB canvas;
    black first, for the see-through pixels."""
    colours = sorted({v for row in canvas.pix for v in row if v is not None} - {(0, 0, 0)})
    palette = [(0, 0, 0)] + colours
    assert len(palette) <= 256, len(palette)
    index = {colour: i for i, colour in enumerate(palette)}
    out = Canvas(canvas.w, canvas.h, None)
    for y in range(canvas.h):
        for x in range(canvas.w):
            v = canvas.get(x, y)
            out.set(x, y, None if v is None else index[v])
    return out, palette + [(0, 0, 0)] * (256 - len(palette))


def product_icon():
    """16 colours first, for the systems and displays that show no more."""
    images = [(draw_icon(size), VGA) for size in (32, 16, 48)]
    images += [indexed(draw_icon_shaded(size)) for size in (32, 16, 48)]
    return ico_bytes(images)


# ---------------------------------------------------------------------------

def main():
    os.makedirs(ART_DIR, exist_ok=True)
    outputs = {
        "tl_bmp.bmp": draw_banner(),
        "qvlogo.bmp": draw_logo(),
        # setup.exe has room for no more than these (README, setup-empty.exe).
        "app_main.ico": ico_bytes([(draw_icon(32), VGA), (draw_icon(16), VGA)]),
        "product.ico": product_icon(),
    }
    for name, data in outputs.items():
        path = os.path.join(ART_DIR, name)
        with open(path, "wb") as f:
            f.write(data)
        print("%-14s %6d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
