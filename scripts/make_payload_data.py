#!/usr/bin/env python3
"""Writes the product's stand-in materials, textures and sample scenes into resources/payload/.

The installer carries them as the product's data: one material file per material below
materials/<group>/, a 16 x 16 texture at 24 bits per pixel for each in textures/, and sample
scenes in samples/ that place the materials. The textures are drawn from each material's colour
and pattern with a fixed pseudo-random sequence, so the same script always writes the same
bytes. Only the standard library is used; run it again after changing a material:

    python3 scripts/make_payload_data.py
"""

import pathlib
import struct

SIZE = 16

# group, name, colour, pattern, roughness, metallic
MATERIALS = [
    ("Metals", "Brushed Steel", 0x8C9299, "streaks", 0.35, 1.0),
    ("Metals", "Copper", 0xB87333, "noise", 0.30, 1.0),
    ("Metals", "Gold", 0xD4AF37, "noise", 0.20, 1.0),
    ("Metals", "Chrome", 0xDCDFE3, "plain", 0.05, 1.0),
    ("Woods", "Oak", 0x9C7A4F, "grain", 0.60, 0.0),
    ("Woods", "Walnut", 0x5C4033, "grain", 0.55, 0.0),
    ("Woods", "Pine", 0xC9A66B, "grain", 0.65, 0.0),
    ("Woods", "Birch", 0xE3D3B0, "grain", 0.60, 0.0),
    ("Stones", "Granite", 0x7D7A75, "noise", 0.70, 0.0),
    ("Stones", "Marble", 0xEDEBE6, "veins", 0.25, 0.0),
    ("Stones", "Slate", 0x4A5058, "streaks", 0.75, 0.0),
    ("Stones", "Red Brick", 0x9E4A36, "bricks", 0.85, 0.0),
    ("Plastics", "Matte White", 0xF2F2F2, "plain", 0.80, 0.0),
    ("Plastics", "Glossy Red", 0xC8102E, "plain", 0.10, 0.0),
    ("Plastics", "Rubber Black", 0x1E1E1E, "noise", 0.95, 0.0),
    ("Plastics", "Checker Test", 0x808080, "checker", 0.50, 0.0),
]

# scene, description, materials placed
SCENES = [
    ("Studio Chair", "A chair of oak and brushed steel under one key light.", ["Oak", "Brushed Steel"]),
    ("Kitchen Counter", "Marble counter top on walnut cabinets.", ["Marble", "Walnut", "Chrome"]),
    ("Garden Wall", "A red brick wall with slate capping in evening light.", ["Red Brick", "Slate"]),
    ("Jewellery Box", "Gold and copper fittings on a birch box.", ["Gold", "Copper", "Birch"]),
    ("Toy Blocks", "Plastic blocks in a pile, lit from above.", ["Glossy Red", "Matte White", "Rubber Black"]),
    ("Granite Fountain", "A granite basin with chrome spouts.", ["Granite", "Chrome"]),
    ("Pine Cabin", "A cabin interior of pine boards.", ["Pine", "Slate"]),
    ("Material Test", "Every material on a row of spheres over the checker floor.", [m[1] for m in MATERIALS]),
]


def stem(name):
    return name.lower().replace(" ", "_")


class Sequence:
    """A small linear congruential generator: the same numbers on every machine."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state >> 24


def shade(colour, factor):
    return tuple(max(0, min(255, int(c * factor))) for c in colour)


def texture_pixels(colour, pattern, seed):
    base = ((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF)
    random = Sequence(seed)
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            jitter = (random.next() - 128) / 1280
            if pattern == "plain":
                factor = 1.0
            elif pattern == "noise":
                factor = 1.0 + jitter * 2
            elif pattern == "streaks":
                factor = 1.0 + jitter + (0.08 if (y * 7 + x // 8) % 3 == 0 else 0.0)
            elif pattern == "grain":
                factor = 0.85 + 0.15 * (((x + (y // 4) * 3) % 6) / 5) + jitter
            elif pattern == "veins":
                factor = 0.8 if (x + 2 * y) % 11 == 0 or (3 * x - y) % 13 == 0 else 1.0 + jitter / 2
            elif pattern == "bricks":
                mortar = y % 4 == 3 or (x + (4 if (y // 4) % 2 else 0)) % 8 == 7
                factor = 1.6 if mortar else 1.0 + jitter
            elif pattern == "checker":
                factor = 1.5 if (x // 4 + y // 4) % 2 == 0 else 0.5
            else:
                raise ValueError(pattern)
            row.append(shade(base, factor))
        rows.append(row)
    return rows


def bitmap(rows):
    """A bottom-up 24-bit BMP; 16 pixels of 3 bytes need no row padding."""
    pixels = b"".join(bytes((b, g, r)) for row in reversed(rows) for (r, g, b) in row)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def material_text(group, name, colour, roughness, metallic):
    return (
        "# Stelvane material 1.0\r\n"
        f"name = {name}\r\n"
        f"group = {group}\r\n"
        f"colour = #{colour:06X}\r\n"
        f"roughness = {roughness:.2f}\r\n"
        f"metallic = {metallic:.2f}\r\n"
        f"texture = Textures\\{stem(name)}.bmp\r\n"
    )


def scene_text(name, description, materials):
    lines = ["# Stelvane scene 1.0", f"title = {name}", f"description = {description}",
             "camera = 0.0 1.6 -4.0 0.0 0.8 0.0 45"]
    for i, material in enumerate(materials):
        lines.append(f"object = sphere {i * 1.5 - (len(materials) - 1) * 0.75:.2f} 0.5 0.0 0.5 \"{material}\"")
    lines.append("light = 2.0 4.0 -3.0 1.0 0.95 0.9 800")
    return "\r\n".join(lines) + "\r\n"


def main():
    root = pathlib.Path(__file__).resolve().parent.parent / "resources" / "payload"
    for seed, (group, name, colour, pattern, roughness, metallic) in enumerate(MATERIALS, start=1):
        folder = root / "materials" / group
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"{stem(name)}.vmat").write_bytes(material_text(group, name, colour, roughness, metallic).encode())
        (root / "textures").mkdir(exist_ok=True)
        (root / "textures" / f"{stem(name)}.bmp").write_bytes(bitmap(texture_pixels(colour, pattern, seed)))
    (root / "samples").mkdir(exist_ok=True)
    for name, description, materials in SCENES:
        (root / "samples" / f"{name}.vscn").write_bytes(scene_text(name, description, materials).encode())


if __name__ == "__main__":
    main()
