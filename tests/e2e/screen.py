"""Reading what a window shows: captures of single windows as pixel images, and the few shapes the
tests look for in them (text runs, the menu bar, button frames). Works on any font and style,
since it looks for shapes rather than fixed positions."""

import subprocess


class Image:
    """An 8-bit RGB image as captured from a window."""

    def __init__(self, width, height, pixels):
        self.width = width
        self.height = height
        self.pixels = pixels

    @classmethod
    def from_ppm(cls, data):
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos : pos + 1].isspace():
                pos += 1
            if data[pos : pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            end = pos
            while not data[end : end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise ValueError("expected an 8-bit binary PPM image")
        width, height = int(fields[1]), int(fields[2])
        return cls(width, height, data[pos + 1 : pos + 1 + 3 * width * height])

    def rgb(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i : i + 3])

    def lum(self, x, y):
        i = (y * self.width + x) * 3
        p = self.pixels
        return (p[i] + p[i + 1] + p[i + 2]) // 3


def capture(env, window_id):
    """The current content of one window (its client area)."""
    out = subprocess.run(["import", "-window", str(window_id), "-depth", "8", "ppm:-"], env=env,
                         capture_output=True, check=True, timeout=30).stdout
    return Image.from_ppm(out)


DARK = 100  # text pixels are darker than this
FRAME = 220  # button frames and separators are darker than this, backgrounds lighter


def runs(flags, min_gap=1):
    """Groups the True positions of `flags` into (first, last) runs; positions closer than
    `min_gap` to the previous run join it."""
    result = []
    for i, flag in enumerate(flags):
        if not flag:
            continue
        if result and i - result[-1][1] <= min_gap:
            result[-1][1] = i
        else:
            result.append([i, i])
    return [tuple(r) for r in result]


def text_rows(img, x0=0, x1=None, y0=0, y1=None):
    """Bands of rows (first, last) that hold dark (text) pixels within the given box."""
    x1 = img.width if x1 is None else x1
    y1 = img.height if y1 is None else y1
    flags = [False] * img.height
    for y in range(y0, y1):
        flags[y] = any(img.lum(x, y) < DARK for x in range(x0, x1))
    return runs(flags)


def text_columns(img, y0, y1, word_gap):
    """Horizontal runs of text between rows y0 and y1; letters and words closer than `word_gap`
    pixels belong to one run."""
    flags = [any(img.lum(x, y) < DARK for y in range(y0, y1 + 1)) for x in range(img.width)]
    return runs(flags, min_gap=word_gap)


def menu_bar(img):
    """The menu bar of a main window: (items, height). `items` are the (x, y) centres of the menu
    bar's captions, left to right; `height` is where the window's client controls begin."""
    bands = text_rows(img, y0=0, y1=min(img.height, 40))
    if not bands:
        raise AssertionError("no menu bar text found at the top of the window")
    top, bottom = bands[0]
    items = [((a + b) // 2, (top + bottom) // 2)
             for a, b in text_columns(img, top, bottom, word_gap=10)]
    # The menu bar ends with a separator line across the whole width.
    for y in range(bottom + 1, min(img.height, bottom + 20)):
        row = [img.lum(x, y) for x in range(img.width)]
        if sum(1 for v in row if v < FRAME) > 0.95 * img.width:
            return items, y + 1
    raise AssertionError("no line under the menu bar found")


def button_frames(img):
    """The push buttons in the bottom part of a message box: the (x, y) centres of their frames,
    left to right. The buttons' captions are the lowest text of the box; each button's frame
    draws a horizontal line just above its caption."""
    bands = text_rows(img)
    if not bands:
        raise AssertionError("no text found in the box")
    top, bottom = bands[-1]
    centre_y = (top + bottom) // 2
    for y in range(top - 1, max(0, top - 20), -1):
        frames = [r for r in runs([img.lum(x, y) < FRAME for x in range(img.width)])
                  if r[1] - r[0] >= 30]
        if frames:
            return [((a + b) // 2, centre_y) for a, b in frames]
    raise AssertionError("no button frames found above the lowest text of the box")
