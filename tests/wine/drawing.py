"""How the program's windows look: the virtual screen read pixel by pixel, and
the checks on what a window draws there, its face, pictures, links and the
Chinese of its texts.
"""

from tally import Failed

LINK_COLOR = (20, 159, 211)


class Screen:
    """A screenshot as a binary PPM, read pixel by pixel."""

    def __init__(self, data):
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position)
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failed("the screenshot is not an 8-bit PPM")
        self.width = int(fields[1])
        self.height = int(fields[2])
        self.pixels = data[position + 1:]

    def at(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self.pixels[offset:offset + 3])

    def region(self, rect, inset=0, leave_out=()):
        left, top, right, bottom = rect
        for y in range(top + inset, bottom - inset):
            for x in range(left + inset, right - inset):
                if not any(l <= x < r and t <= y < b for l, t, r, b in leave_out):
                    yield self.at(x, y)


def color_of(colorref):
    return (colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF)


def controls_by_id(window):
    return {control["id"]: control for control in window["controls"]}


def dominant(pixels):
    counts = {}
    for pixel in pixels:
        counts[pixel] = counts.get(pixel, 0) + 1
    return max(counts, key=counts.get) if counts else None


def share(pixels, wanted):
    pixels = list(pixels)
    return sum(1 for p in pixels if wanted(p)) / len(pixels) if pixels else 0.0


def check_texts_render(checks, window, what):
    """Each control's characters draw as pictures of their own: a font
    without Chinese would draw every Chinese character as one box."""
    for control in window["controls"]:
        if control.get("characters"):
            checks.that(control["pictures"] == control["characters"],
                        f"{what}: each character of {control['text']!r} has a picture of its own",
                        f"{control['characters']} characters drawn as {control['pictures']} pictures")


def check_face(checks, screen, window, ids, what):
    """Labels and pictures sit on the window's own face colour."""
    face = color_of(window["face"])
    controls = controls_by_id(window)
    for name, control_id in ids.items():
        control = controls[control_id]
        if control["class"] == "Static" and control["text"]:
            checks.equal(dominant(screen.region(control["rect"])), face,
                         f"{what}: label {name} is drawn on the form's face")


def check_picture(checks, screen, window, control_id, what):
    face = color_of(window["face"])
    control = controls_by_id(window)[control_id]
    drawn = share(screen.region(control["rect"]), lambda p: p != face)
    checks.that(drawn > 0.3, f"{what}: its picture is drawn", f"only {drawn:.0%} of the box differs from the face")


def check_link_color(checks, screen, rect, what, underlined):
    left, _, right, _ = rect
    pixels = list(screen.region(rect))
    checks.that(LINK_COLOR in pixels, f"{what} is drawn in the link's blue",
                f"no pixel of {LINK_COLOR} in {rect}")
    if not underlined:
        return
    # An underline is one unbroken line under the whole text; the edges of
    # glyphs, or of boxes drawn for missing ones, break between characters.
    longest = 0
    for y in range(rect[1], rect[3]):
        run = 0
        for x in range(left, right):
            run = run + 1 if screen.at(x, y) == LINK_COLOR else 0
            longest = max(longest, run)
    checks.that(longest >= 0.9 * (right - left), f"{what} is underlined",
                f"the longest unbroken line of link colour is {longest} of {right - left} pixels")

