"""Lays PNG thumbnails out on a dark grid, each labelled with its file name."""
import os
import sys

from PIL import Image, ImageDraw

CELL = 192      # the thumbnails' longest side
LABEL = 16      # pixels under each for its name
COLUMNS = 4
MARGIN = 8
BACKGROUND = (24, 24, 28)


def main(out, pictures):
    rows = (len(pictures) + COLUMNS - 1) // COLUMNS
    width = COLUMNS * (CELL + MARGIN) + MARGIN
    height = rows * (CELL + LABEL + MARGIN) + MARGIN
    sheet = Image.new("RGB", (width, height), BACKGROUND)
    draw = ImageDraw.Draw(sheet)
    for i, path in enumerate(pictures):
        x = MARGIN + (i % COLUMNS) * (CELL + MARGIN)
        y = MARGIN + (i // COLUMNS) * (CELL + LABEL + MARGIN)
        with Image.open(path) as picture:
            sheet.paste(picture.convert("RGB"),
                        (x + (CELL - picture.width) // 2, y + (CELL - picture.height) // 2))
        name = os.path.basename(path)[: -len(".png")]
        draw.text((x, y + CELL + 2), name, fill=(200, 200, 200))
    sheet.save(out, optimize=True)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
