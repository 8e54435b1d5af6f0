#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the program icon (a charge meter on a telephone line) once at 512 px and scales it to
# the sizes the tray, the window and the icon theme use (kestrovan.svg is the same drawing for
# the theme's scalable size, kept by hand). Run by hand after changing the drawing; the PNGs are
# kept in the tree so the build needs no ImageMagick.
set -e
cd "$(dirname "$0")"
convert -size 512x512 xc:none \
    -fill '#1d4e89' -stroke '#0e2a4d' -strokewidth 12 -draw 'roundrectangle 16,16 496,496 72,72' \
    -fill white -stroke none -draw 'circle 256,300 256,110' \
    -fill '#1d4e89' -draw 'circle 256,300 256,140' \
    -fill white -draw 'rectangle 60,300 452,496' \
    -fill '#1d4e89' -draw 'rectangle 60,300 452,330' \
    -stroke white -strokewidth 22 -draw 'line 130,180 150,200' -draw 'line 382,180 362,200' \
    -draw 'line 256,125 256,155' \
    -stroke '#e63b2e' -strokewidth 30 -draw 'line 256,300 360,175' \
    -stroke none -fill '#e63b2e' -draw 'circle 256,300 256,328' \
    -fill '#1d4e89' -stroke none -draw 'rectangle 60,330 452,496' \
    -stroke '#ffd23f' -strokewidth 30 -fill none \
    -draw 'polyline 70,420 150,420 190,370 250,470 310,370 350,420 442,420' \
    kestrovan_512.tmp.png
for s in 16 22 24 32 48 64 128 256; do
    convert kestrovan_512.tmp.png -filter Lanczos -resize ${s}x${s} -strip "kestrovan_${s}.png"
done
rm -f kestrovan_512.tmp.png
# The Windows icon: the same pictures in one .ico file, each as a PNG of 8 bits a channel (what
# Windows reads; the PNGs above have 16).
python3 - <<'PY'
import struct, zlib

def chunks(data):
    pos = 8
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        yield kind, data[pos + 8:pos + 8 + n]
        pos += 12 + n

def rgba8(path):
    data = open(path, "rb").read()
    idat = b""
    for kind, body in chunks(data):
        if kind == b"IHDR":
            w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    assert colour == 6 and depth in (8, 16) and interlace == 0, path
    bpp = 4 * depth // 8
    raw, stride, rows, prev, pos = zlib.decompress(idat), w * bpp, [], bytearray(w * bpp), 0
    for _ in range(h):
        f, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line[0::2] if depth == 16 else line))
        prev = line
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(b"\0" + r for r in rows), 9)) + chunk(b"IEND", b""))

sizes = [16, 24, 32, 48, 64, 128, 256]
images = [rgba8(f"kestrovan_{s}.png") for s in sizes]
offset = 6 + 16 * len(images)
entries = b""
for s, data in zip(sizes, images):
    entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open("../../../../packaging/windows/kestrovan.ico", "wb") as out:
    out.write(struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(images))
PY
