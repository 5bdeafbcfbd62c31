#!/usr/bin/env python3
"""Draws the main window's icon (a film frame with a star on its screen) at one size, as XPM text.

The 32 x 32 picture in mainframe.xpm is drawn by hand; the other sizes are this same picture redrawn at their own
size from its shapes (frame, sprocket holes, screen, a star lit from the left), so that lines stay one pixel wide
and holes stay square instead of being one bitmap scaled up. Run: draw-mainframe.py SIZE > mainframe-SIZE.xpm
"""
import math
import sys

PALETTE = [("#", "#202020"), (".", "None"), ("b", "#000080"), ("c", "#808080"), ("o", "#808000"), ("w", "#FFFFFF"),
           ("y", "#FFFF00")]


def star(cx, cy, outer, inner):
    points = []
    for k in range(10):
        radius = outer if k % 2 == 0 else inner
        angle = math.pi * k / 5
        points.append((cx + radius * math.sin(angle), cy - radius * math.cos(angle)))
    return points


def inside(polygon, x, y):
    result = False
    for (x1, y1), (x2, y2) in zip(polygon, polygon[1:] + polygon[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


def draw(n):
    f = n / 32.0
    u = lambda v: int(round(v * f))
    line = max(1, u(1))
    pixels = [["."] * n for _ in range(n)]

    def fill(x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(n, y1)):
            for x in range(max(0, x0), min(n, x1)):
                pixels[y][x] = c

    fill(u(3), u(1), u(29), u(31), "#")
    hole = max(1, u(2))
    for k in range(7):
        top = u(3 + 4 * k)
        left = max(u(4), u(3) + line)
        right = min(u(28), u(29) - line)
        fill(left, top, left + hole, top + hole, "w")
        fill(right - hole, top, right, top + hole, "w")
    x0, y0, x1, y1 = u(8), u(6), u(24), u(26)
    fill(x0, y0, x1, y1, "c")
    fill(x0 + line, y0 + line, x1 - line, y1 - line, "b")
    centre_x = (x0 + x1) / 2.0
    shape = star(centre_x, 16.6 * f, 6.9 * f, 3.1 * f)
    for y in range(y0 + line, y1 - line):
        for x in range(x0 + line, x1 - line):
            if inside(shape, x + 0.5, y + 0.5):
                pixels[y][x] = "y" if x + 0.5 < centre_x else "o"
    return pixels


def main():
    n = int(sys.argv[1])
    pixels = draw(n)
    print("/* XPM */")
    print("static const char* const kMainFrame%dXpm[] = {" % n)
    print('    "%d %d %d 1",' % (n, n, len(PALETTE)))
    for key, colour in PALETTE:
        print('    "%s c %s",' % (key, colour))
    rows = ['    "%s"' % "".join(row) for row in pixels]
    print(",\n".join(rows))
    print("};")


if __name__ == "__main__":
    main()
