#!/usr/bin/python3
"""Draws the downloader's window artwork: the 380 x 170 background (blue title
band, white framed panel, light grey below) and the 17 x 17 product icon.

Run from anywhere: ./assets/make-artwork.py  (needs python3-pil). The outputs
are committed next to this script; rerun it after changing the look."""

import os

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))

BAND = (31, 78, 150)  # title band blue
BAND_LIGHT = (76, 125, 196)
PANEL = (255, 255, 255)
FRAME = (150, 164, 186)
GREY = (232, 232, 232)


def background():
    img = Image.new("RGB", (380, 170), GREY)
    d = ImageDraw.Draw(img)
    # Title band with a soft vertical gradient; the caption label sits on it.
    for y in range(30):
        t = y / 29
        c = tuple(round(BAND_LIGHT[i] * (1 - t) + BAND[i] * t) for i in range(3))
        d.line([(0, y), (379, y)], fill=c)
    d.line([(0, 30), (379, 30)], fill=(20, 52, 104))
    # White framed panel holding the status text, bar, speed and time fields.
    d.rectangle([(14, 40), (365, 126)], fill=PANEL, outline=FRAME)
    d.rectangle([(15, 41), (364, 125)], outline=(228, 233, 241))
    # Thin rule above the button row.
    d.line([(14, 131), (365, 131)], fill=(214, 214, 214))
    # One-pixel outer frame so the borderless window has an edge.
    d.rectangle([(0, 0), (379, 169)], outline=(20, 52, 104))
    return img


def icon():
    img = Image.new("RGBA", (17, 17), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.ellipse([(0, 0), (16, 16)], fill=(255, 255, 255, 255), outline=(20, 52, 104, 255))
    # A downward arrow into a tray: "download".
    d.rectangle([(7, 3), (9, 9)], fill=BAND)
    d.polygon([(4, 8), (12, 8), (8, 12)], fill=BAND)
    d.line([(4, 13), (12, 13)], fill=(20, 52, 104), width=1)
    return img


def main():
    background().save(os.path.join(HERE, "background.jpg"), "JPEG", quality=92)
    icon().save(os.path.join(HERE, "appicon.png"), "PNG")


if __name__ == "__main__":
    main()
