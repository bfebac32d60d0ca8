#!/usr/bin/env python3
"""Draws PostOwl's pictures and writes them as XPM files.

    scripts/draw_pictures.py            # rewrites the committed pictures

The build uses the committed XPM files; this script is only how they were
made. It needs nothing beyond Python's standard library: every shape is
sampled on a 4 x 4 grid inside each pixel and the samples are averaged, so
edges come out smooth without an imaging library.

  app/resources/mailbox-flag-down.xpm   32 x 32, no mail waiting
  app/resources/mailbox-flag-up.xpm     32 x 32, mail waiting
  dialogs/images/owl.xpm                85 x 190, the About box's picture
"""

import math
import os
import sys

SS = 4  # samples per pixel along each axis


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.samples = [[None] * (width * SS) for _ in range(height * SS)]

    def _paint(self, bbox, inside, fill):
        x0, y0, x1, y1 = bbox
        sx0 = max(0, int(math.floor(x0 * SS)))
        sy0 = max(0, int(math.floor(y0 * SS)))
        sx1 = min(self.width * SS, int(math.ceil(x1 * SS)) + 1)
        sy1 = min(self.height * SS, int(math.ceil(y1 * SS)) + 1)
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / SS
            row = self.samples[sy]
            for sx in range(sx0, sx1):
                x = (sx + 0.5) / SS
                if inside(x, y):
                    row[sx] = fill(x, y) if callable(fill) else fill

    def rect(self, x0, y0, x1, y1, fill):
        self._paint((x0, y0, x1, y1), lambda x, y: x0 <= x < x1 and y0 <= y < y1, fill)

    def round_rect(self, x0, y0, x1, y1, r, fill):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

        self._paint((x0, y0, x1, y1), inside, fill)

    def ellipse(self, cx, cy, rx, ry, fill, angle=0.0):
        c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))

        def inside(x, y):
            dx, dy = x - cx, y - cy
            u = dx * c + dy * s
            v = -dx * s + dy * c
            return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0

        r = max(rx, ry)
        self._paint((cx - r, cy - r, cx + r, cy + r), inside, fill)

    def polygon(self, points, fill):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]

        def inside(x, y):
            # even-odd rule
            hit = False
            n = len(points)
            for i in range(n):
                ax, ay = points[i]
                bx, by = points[(i + 1) % n]
                if (ay > y) != (by > y):
                    cross = ax + (y - ay) * (bx - ax) / (by - ay)
                    if x < cross:
                        hit = not hit
            return hit

        self._paint((min(xs), min(ys), max(xs), max(ys)), inside, fill)

    def line(self, ax, ay, bx, by, width, fill):
        """A stroke with round ends."""
        r = width / 2.0
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
            px, py = ax + t * dx, ay + t * dy
            return (x - px) ** 2 + (y - py) ** 2 <= r * r

        self._paint((min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r), inside, fill)

    def polyline(self, points, width, fill, closed=False):
        pairs = list(zip(points, points[1:]))
        if closed:
            pairs.append((points[-1], points[0]))
        for (ax, ay), (bx, by) in pairs:
            self.line(ax, ay, bx, by, width, fill)

    def pixels(self):
        """Averages the samples; a pixel less than half covered is transparent."""
        out = []
        for py in range(self.height):
            row = []
            for px in range(self.width):
                covered = [
                    self.samples[py * SS + j][px * SS + i]
                    for j in range(SS)
                    for i in range(SS)
                    if self.samples[py * SS + j][px * SS + i] is not None
                ]
                if len(covered) * 2 < SS * SS:
                    row.append(None)
                    continue
                rgb = tuple(sum(c[k] for c in covered) / len(covered) for k in range(3))
                # Rounding to steps of 4 keeps the palette (and the file) small.
                row.append(tuple(min(255, int(round(v / 4.0)) * 4) for v in rgb))
            out.append(row)
        return out


def vertical(top, bottom, y0, y1):
    """A fill that blends from top colour at y0 to bottom colour at y1."""

    def fill(_x, y):
        t = min(1.0, max(0.0, (y - y0) / float(y1 - y0)))
        return tuple(top[k] + (bottom[k] - top[k]) * t for k in range(3))

    return fill


def cylinder(light, dark, y0, y1, highlight_at=0.3):
    """Shading of a rounded metal box seen from the side: a bright band near the top."""

    def fill(_x, y):
        t = min(1.0, max(0.0, (y - y0) / float(y1 - y0)))
        d = abs(t - highlight_at) / (1.0 - highlight_at if t > highlight_at else highlight_at)
        return tuple(light[k] + (dark[k] - light[k]) * d for k in range(3))

    return fill


def write_xpm(path, name, pixels):
    colours = sorted({p for row in pixels for p in row if p is not None})
    alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&*+-=@"
    width = 1 if len(colours) < len(alphabet) else 2
    codes = {}
    for i, colour in enumerate(colours):
        if width == 1:
            codes[colour] = alphabet[i]
        else:
            codes[colour] = alphabet[i // len(alphabet)] + alphabet[i % len(alphabet)]
    transparent = " " * width
    lines = ["/* XPM */", "static const char *const %s[] = {" % name]
    entries = ['"%d %d %d %d"' % (len(pixels[0]), len(pixels), len(colours) + 1, width)]
    entries.append('"%s c None"' % transparent)
    for colour in colours:
        entries.append('"%s c #%02X%02X%02X"' % ((codes[colour],) + colour))
    for row in pixels:
        entries.append('"' + "".join(transparent if p is None else codes[p] for p in row) + '"')
    lines.append(",\n".join(entries))
    lines.append("};")
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")


# --- colours ---------------------------------------------------------------

OUTLINE = (40, 44, 56)
METAL_LIGHT = (214, 226, 240)
METAL_DARK = (92, 112, 140)
DOOR_LIGHT = (184, 200, 222)
DOOR_DARK = (76, 94, 122)
WOOD = (150, 100, 56)
WOOD_DARK = (98, 62, 32)
FLAG_RED = (222, 32, 32)
FLAG_DARK = (140, 14, 14)


def mailbox(c, x0, y0, x1, y1, front_w, flag_up, pivot, flag_len, flag_plate, stroke):
    """A mailbox seen from front left: a D-shaped door on the left, the body
    running to the right, the red flag hinged on the near side."""
    h = y1 - y0
    r = front_w / 2.0
    # body: outline, then metal
    c.round_rect(x0 + r - stroke, y0 - stroke, x1 + stroke, y1 + stroke, r * 0.6, OUTLINE)
    c.round_rect(x0 + r, y0, x1, y1, r * 0.6 - stroke, cylinder(METAL_LIGHT, METAL_DARK, y0, y1))
    # a seam near the back
    c.rect(x1 - h * 0.18, y0 + stroke, x1 - h * 0.18 + stroke * 0.8, y1 - stroke, METAL_DARK)
    # door: a D (half ellipse on a rectangle)
    dx0, dx1 = x0, x0 + front_w
    c.ellipse(dx0 + r, y0 + r * 1.1, r + stroke, r * 1.1 + stroke, OUTLINE)
    c.rect(dx0 - stroke, y0 + r * 1.1, dx1 + stroke, y1 + stroke, OUTLINE)
    door = vertical(DOOR_LIGHT, DOOR_DARK, y0, y1)
    c.ellipse(dx0 + r, y0 + r * 1.1, r, r * 1.1, door)
    c.rect(dx0, y0 + r * 1.1, dx1, y1, door)
    # door handle
    c.line(dx0 + r, y0 + h * 0.42, dx0 + r, y0 + h * 0.58, max(1.2, stroke * 1.3), OUTLINE)
    # flag: an arm from the hinge with a plate at its end
    px, py = pivot
    if flag_up:
        ex, ey = px, py - flag_len
        plate = (ex - stroke * 0.2, ey - flag_plate[1] * 0.1, ex + flag_plate[0], ey + flag_plate[1])
    else:
        ex, ey = px - flag_len, py
        plate = (ex - flag_plate[1] * 0.1, ey - flag_plate[0] + stroke, ex + flag_plate[1], ey + stroke)
    c.line(px, py, ex, ey, stroke * 2.6, FLAG_DARK)
    c.line(px, py, ex, ey, stroke * 1.4, FLAG_RED)
    c.rect(plate[0] - stroke, plate[1] - stroke, plate[2] + stroke, plate[3] + stroke, FLAG_DARK)
    c.rect(plate[0], plate[1], plate[2], plate[3], vertical((250, 70, 60), FLAG_RED, plate[1], plate[3]))
    c.ellipse(px, py, stroke * 1.6, stroke * 1.6, OUTLINE)


def icon(flag_up):
    c = Canvas(32, 32)
    # post
    c.rect(13, 19, 19, 32, WOOD_DARK)
    c.rect(14, 19, 18, 32, vertical(WOOD, WOOD_DARK, 19, 32))
    mailbox(c, 1.5, 9.5, 29.5, 21.5, 9, flag_up, pivot=(24, 16.5), flag_len=13 if flag_up else 12,
            flag_plate=(6, 5) if flag_up else (5, 5), stroke=1.0)
    return c.pixels()


def owl_picture():
    W, H = 85, 190
    c = Canvas(W, H)
    # night sky with a moon and a few stars
    c.rect(0, 0, W, H, vertical((20, 30, 78), (88, 120, 186), 0, 170))
    c.ellipse(66, 20, 11, 11, (250, 240, 196))
    c.ellipse(61, 16, 10, 10, vertical((20, 30, 78), (88, 120, 186), 0, 170))
    for sx, sy, r in [(12, 12, 1.1), (30, 6, 0.9), (8, 40, 0.9), (78, 48, 1.0), (46, 14, 0.8), (20, 28, 0.7)]:
        c.ellipse(sx, sy, r, r, (255, 250, 220))
    # hills and grass
    c.ellipse(20, 196, 60, 26, (52, 112, 60))
    c.ellipse(78, 200, 50, 26, (40, 96, 50))
    c.rect(0, 178, W, H, vertical((64, 132, 70), (36, 84, 44), 178, 190))
    # post
    c.rect(36, 118, 50, 184, WOOD_DARK)
    c.rect(38, 118, 48, 184, vertical(WOOD, WOOD_DARK, 118, 184))
    for gy in (132, 147, 163):
        c.line(40, gy, 45, gy + 3, 0.8, WOOD_DARK)
    # mailbox, flag raised: mail waits
    mailbox(c, 5, 94, 80, 124, 18, True, pivot=(70, 110), flag_len=36, flag_plate=(11, 9), stroke=1.5)

    BROWN = (146, 98, 58)
    BROWN_DARK = (92, 58, 32)
    BROWN_MID = (120, 80, 46)
    CREAM = (238, 220, 182)
    FACE = (226, 196, 150)
    # wings behind the body
    c.ellipse(22, 70, 10, 23, BROWN_DARK, angle=12)
    c.ellipse(60, 70, 10, 23, BROWN_DARK, angle=-12)
    # body
    c.ellipse(41, 68, 21, 28, BROWN_DARK)
    c.ellipse(41, 68, 20, 27, vertical(BROWN, BROWN_MID, 40, 96))
    c.ellipse(41, 74, 13, 19, CREAM)
    # breast feathers: small chevrons
    for row, ys in enumerate((62, 69, 76, 83)):
        xs = (33, 41, 49) if row % 2 == 0 else (37, 45)
        for fx in xs:
            c.polyline([(fx - 2.5, ys), (fx, ys + 2.2), (fx + 2.5, ys)], 0.9, BROWN_MID)
    # wing feather lines
    for k in range(3):
        c.line(17 + k * 2.5, 62 + k * 6, 22 + k * 2, 84 + k * 2, 0.8, (70, 44, 24))
        c.line(65 - k * 2.5, 62 + k * 6, 60 - k * 2, 84 + k * 2, 0.8, (70, 44, 24))
    # head with ear tufts
    c.polygon([(21, 34), (19, 13), (33, 25)], BROWN_DARK)
    c.polygon([(61, 34), (63, 13), (49, 25)], BROWN_DARK)
    c.ellipse(41, 40, 23, 19, BROWN_DARK)
    c.ellipse(41, 40, 22, 18, vertical(BROWN, BROWN_MID, 22, 58))
    c.polygon([(22, 32), (20.5, 16), (31, 26)], BROWN)
    c.polygon([(60, 32), (61.5, 16), (51, 26)], BROWN)
    # facial disc: two rounded halves
    c.ellipse(33, 42, 10, 11, FACE)
    c.ellipse(49, 42, 10, 11, FACE)
    c.polyline([(26, 33), (33, 30.5), (41, 35), (49, 30.5), (56, 33)], 1.3, BROWN_DARK)
    # eyes
    for ex in (33, 49):
        c.ellipse(ex, 41, 7.5, 7.5, BROWN_DARK)
        c.ellipse(ex, 41, 6.5, 6.5, (255, 250, 235))
        c.ellipse(ex, 41, 5, 5, (250, 180, 30))
        c.ellipse(ex, 41, 2.8, 2.8, (16, 12, 10))
        c.ellipse(ex - 1.6, 39.2, 1.1, 1.1, (255, 255, 255))
    # beak
    c.polygon([(38, 46), (44, 46), (41, 54)], (120, 80, 20))
    c.polygon([(38.8, 46.4), (43.2, 46.4), (41, 52.6)], (236, 170, 40))
    # feet gripping the mailbox's top
    for fx in (33, 49):
        for t in (-2.2, 0, 2.2):
            c.line(fx + t, 91, fx + t * 1.4, 96.5, 1.6, (200, 130, 30))
        c.line(fx - 3, 96.5, fx + 3, 96.5, 1.2, (120, 70, 16))
    return c.pixels()


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    targets = [
        ("app/resources/mailbox-flag-down.xpm", "mailbox_flag_down", lambda: icon(False)),
        ("app/resources/mailbox-flag-up.xpm", "mailbox_flag_up", lambda: icon(True)),
        ("dialogs/images/owl.xpm", "owl", owl_picture),
    ]
    for relative, name, draw in targets:
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_xpm(path, name, draw())
        print("wrote", relative)
    return 0


if __name__ == "__main__":
    sys.exit(main())
