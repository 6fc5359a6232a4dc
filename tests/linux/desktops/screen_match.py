"""Finds gleamo's 16x16 picture on a screenshot, pixel-exact.

    model = model_picture(pixmap_tool, code, size)  # size x size ARGB from gleamo_test_pixmap
    found = find_picture(rgb, width, height, model, factor)   # (left, top) or None

A match: every opaque model pixel shows exactly its colour, enlarged to
factor x factor blocks, and every transparent model pixel shows one and the
same colour (the host's background there, not a blend).
"""
from fixtures import model_pixmaps


def model_picture(pixmap_tool, code, size=16):
    """The pixmap of the code at that size as size*size*4 ARGB bytes."""
    for pixmap_size, argb in model_pixmaps(pixmap_tool, code):
        if pixmap_size == size:
            return argb
    raise AssertionError("gleamo_test_pixmap printed no %d px pixmap" % size)


def find_picture(rgb, width, height, model, factor=1):
    size = int((len(model) // 4) ** 0.5)
    opaque = [(x, y, model[(y * size + x) * 4 + 1:(y * size + x) * 4 + 4])
              for y in range(size) for x in range(size) if model[(y * size + x) * 4] == 0xFF]
    clear = [(x, y) for y in range(size) for x in range(size) if model[(y * size + x) * 4] != 0xFF]
    # The longest run of opaque pixels in one row, as it shows enlarged: found
    # with bytes.find, then the whole picture is checked around it.
    best = None
    for y in range(size):
        x = 0
        while x < size:
            if model[(y * size + x) * 4] != 0xFF:
                x += 1
                continue
            end = x
            while end < size and model[(y * size + end) * 4] == 0xFF:
                end += 1
            if best is None or end - x > best[2] - best[0]:
                best = (x, y, end)
            x = end
    run_x, run_y, run_end = best
    pattern = b"".join(model[(run_y * size + x) * 4 + 1:(run_y * size + x) * 4 + 4] * factor
                       for x in range(run_x, run_end))
    extent = size * factor

    def pixel(px, py):
        at = (py * width + px) * 3
        return rgb[at:at + 3]

    start = 0
    while True:
        at = rgb.find(pattern, start)
        if at < 0:
            return None
        start = at + 1
        if at % 3:
            continue
        py, px = divmod(at // 3, width)
        left, top = px - run_x * factor, py - run_y * factor
        if left < 0 or top < 0 or left + extent > width or top + extent > height or px + len(pattern) // 3 > width:
            continue
        if not all(pixel(left + x * factor + dx, top + y * factor + dy) == color
                   for x, y, color in opaque for dy in range(factor) for dx in range(factor)):
            continue
        background = pixel(left + clear[0][0] * factor, top + clear[0][1] * factor)
        if all(pixel(left + x * factor + dx, top + y * factor + dy) == background
               for x, y in clear for dy in range(factor) for dx in range(factor)):
            return left, top
