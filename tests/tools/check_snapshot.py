#!/usr/bin/env python3
"""Opens a snapshot bitmap with Pillow and checks it against the simulated unit's test pattern.

Usage: check_snapshot.py FILE FRAME [--single]
FRAME is the number of the captured frame (it places the moving marker). Exits 0 when the picture
matches, 1 with a message for each difference otherwise.
"""
import sys

from PIL import Image

WIDTH, LINES_A, LINES_B = 720, 288, 287
BARS = [(255, 255, 255), (255, 255, 0), (0, 255, 255), (0, 255, 0),
        (255, 0, 255), (255, 0, 0), (0, 0, 255), (0, 0, 0)]


def picture_line(row, height, single):
    """The pattern line a bitmap row shows: a single field shows each line of field A twice."""
    return 2 * (row // 2) if single else row


def expected(x, line, lines, frame):
    if line < lines * 2 // 3:
        return BARS[x * 8 // WIDTH]
    if line < lines * 5 // 6:
        v = x * 255 // (WIDTH - 1)
        return (v, v, v)
    at = frame * 16 % (WIDTH - 32)
    return (255, 255, 255) if at <= x < at + 32 else (0, 0, 0)


def main():
    path, frame = sys.argv[1], int(sys.argv[2])
    single = "--single" in sys.argv[3:]
    image = Image.open(path)
    problems = []
    height = 2 * LINES_A if single else LINES_A + LINES_B
    if image.format != "BMP" or image.mode != "RGB":
        problems.append(f"format {image.format} mode {image.mode}, expected BMP RGB")
    if image.size != (WIDTH, height):
        problems.append(f"size {image.size}, expected {(WIDTH, height)}")
    else:
        lines = LINES_A + LINES_B
        marker = frame * 16 % (WIDTH - 32)
        columns = [0, 45, 135, 225, 315, 405, 495, 585, 675, WIDTH - 1, marker, marker + 31, (marker + 200) % WIDTH]
        # The top row, the rows around each band edge (odd and even), the bottom row.
        rows = [0, 1, 2, 381, 382, 383, 384, 385, 477, 478, 479, 480, 481, height - 2, height - 1]
        for row in rows:
            line = picture_line(row, height, single)
            for x in columns:
                want = expected(x, line, lines, frame)
                got = image.getpixel((x, row))
                if got != want:
                    problems.append(f"pixel ({x}, {row}) is {got}, expected {want}")
    for p in problems[:20]:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
