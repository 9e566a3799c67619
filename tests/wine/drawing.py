"""How a window of the program looks on the virtual screen: its labels on the
window's face, its picture, its link, and the Chinese of its texts."""

from collections import Counter
from itertools import groupby

from PIL import ImageDraw

from conftest import controls

LINK_COLOR = (20, 159, 211)


def color_of(colorref):
    return (colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF)


def pixels(screen, rect, inset=0, leave_out=()):
    """The pixels of a rectangle of the screen, but those of rectangles in it
    left out."""
    left, top = rect[0] + inset, rect[1] + inset
    region = screen.crop((left, top, rect[2] - inset, rect[3] - inset)).convert("RGBA")
    draw = ImageDraw.Draw(region)
    for l, t, r, b in leave_out:
        draw.rectangle((l - left, t - top, r - left - 1, b - top - 1), fill=(0, 0, 0, 0))
    return [pixel[:3] for pixel in region.getdata() if pixel[3]]


def share(found, wanted):
    return sum(map(wanted, found)) / len(found) if found else 0.0


def check_texts_render(window):
    """Each control's characters draw as pictures of their own: a font
    without Chinese would draw every Chinese character as one box."""
    drawn = {c["text"]: c["pictures"] for c in window["controls"] if c.get("characters")}
    assert drawn == {c["text"]: c["characters"] for c in window["controls"] if c.get("characters")}


def check_drawn(screen, window, labels, picture_id, link_id, underlined):
    """The window's labels are drawn on its face, its picture is drawn, its
    link in the link's blue and, where it should be, underlined."""
    face = color_of(window["face"])
    by_id = controls(window)
    backgrounds = {name: Counter(pixels(screen, by_id[i]["rect"])).most_common(1)[0][0]
                   for name, i in labels.items() if by_id[i]["class"] == "Static" and by_id[i]["text"]}
    assert backgrounds == dict.fromkeys(backgrounds, face), "labels are drawn on the window's face"
    drawn = share(pixels(screen, by_id[picture_id]["rect"]), lambda p: p != face)
    assert drawn > 0.3, f"only {drawn:.0%} of the picture's box differs from the face"
    link = by_id[link_id]["rect"]
    assert LINK_COLOR in pixels(screen, link), "the link is drawn in the link's blue"
    if underlined:
        # An underline is one unbroken line under the whole text; the edges
        # of glyphs, or of boxes drawn for missing ones, break between them.
        region = screen.crop(link)
        rows = [[region.getpixel((x, y)) for x in range(region.width)] for y in range(region.height)]
        longest = max((len(list(run)) for row in rows for color, run in groupby(row) if color == LINK_COLOR),
                      default=0)
        assert longest >= 0.9 * region.width, "the link is underlined"
