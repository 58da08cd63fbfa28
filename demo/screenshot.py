#!/usr/bin/python3
"""Saves a screenshot of an X display, cropped to the windows given.

usage: screenshot.py DISPLAY OUT.png [X,Y,W,H ...]
Without windows the whole screen is saved; with several, their bounding box.
"""
import sys

from PIL import ImageGrab


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    display, out = sys.argv[1], sys.argv[2]
    image = ImageGrab.grab(xdisplay=display)
    boxes = [tuple(int(v) for v in arg.split(",")) for arg in sys.argv[3:]]
    if boxes:
        left = max(0, min(x for x, _, _, _ in boxes))
        top = max(0, min(y for _, y, _, _ in boxes))
        right = min(image.width, max(x + w for x, _, w, _ in boxes))
        bottom = min(image.height, max(y + h for _, y, _, h in boxes))
        if right > left and bottom > top:
            image = image.crop((left, top, right, bottom))
    image.save(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
