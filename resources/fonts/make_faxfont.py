#!/usr/bin/python3
"""Builds the fax font (faxfont.bin, 16384 bytes) from the misc-fixed bitmap fonts of xfonts-base.

Layout: 256 glyphs of 16 bytes (12 x 8 pixels, 2 bytes per row) at offset 0, then 256 glyphs of
48 bytes (20 x 16 pixels, 3 bytes per row) at offset 4096; glyph index = ISO 8859-1 code; rows top
to bottom, leftmost pixel in the top bit, 1 = black.

Fax pixels in normal resolution are about twice as tall as wide, so every source pixel becomes
two pixels side by side: 5x8 gives the 12 x 8 glyphs (10 columns used), 9x15 the 20 x 16 glyphs
(18 columns used). The two rightmost columns stay blank, so a line cut at the row width loses
nothing of its last glyph.

    /usr/bin/python3 make_faxfont.py [FONTDIR] [OUTPUT]
"""
import gzip
import os
import struct
import sys

PCF_PROPERTIES = 1 << 0
PCF_ACCELERATORS = 1 << 1
PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5
PCF_BDF_ACCELERATORS = 1 << 8
PCF_BYTE_MASK = 1 << 2
PCF_BIT_MASK = 1 << 3
PCF_COMPRESSED_METRICS = 0x100


class PcfFont:
    def __init__(self, path):
        with gzip.open(path, "rb") as f:
            self.data = f.read()
        if self.data[:4] != b"\x01fcp":
            raise ValueError(path + ": not a PCF font")
        (count,) = struct.unpack_from("<i", self.data, 4)
        self.tables = {}
        for i in range(count):
            ttype, fmt, size, offset = struct.unpack_from("<iiii", self.data, 8 + 16 * i)
            self.tables[ttype] = (fmt, offset)
        self._read_accelerators()
        self._read_metrics()
        self._read_bitmaps()
        self._read_encodings()

    def _table(self, ttype):
        fmt, offset = self.tables[ttype]
        (fmt2,) = struct.unpack_from("<i", self.data, offset)
        order = ">" if fmt2 & PCF_BYTE_MASK else "<"
        return fmt2, order, offset + 4

    def _read_accelerators(self):
        ttype = PCF_BDF_ACCELERATORS if PCF_BDF_ACCELERATORS in self.tables else PCF_ACCELERATORS
        fmt, order, at = self._table(ttype)
        self.ascent, self.descent = struct.unpack_from(order + "ii", self.data, at + 8)

    def _read_metrics(self):
        fmt, order, at = self._table(PCF_METRICS)
        self.metrics = []
        if fmt & PCF_COMPRESSED_METRICS:
            (n,) = struct.unpack_from(order + "h", self.data, at)
            at += 2
            for i in range(n):
                lsb, rsb, width, asc, desc = (b - 0x80 for b in self.data[at:at + 5])
                self.metrics.append((lsb, rsb, width, asc, desc))
                at += 5
        else:
            (n,) = struct.unpack_from(order + "i", self.data, at)
            at += 4
            for i in range(n):
                self.metrics.append(struct.unpack_from(order + "hhhhh", self.data, at))
                at += 12

    def _read_bitmaps(self):
        fmt, order, at = self._table(PCF_BITMAPS)
        if (fmt >> 4) & 3:
            raise ValueError("scan units above one byte are not handled")
        self.msb_first = bool(fmt & PCF_BIT_MASK)
        self.pad = 1 << (fmt & 3)
        (n,) = struct.unpack_from(order + "i", self.data, at)
        at += 4
        self.offsets = struct.unpack_from(order + "%di" % n, self.data, at)
        at += 4 * n
        sizes = struct.unpack_from(order + "4i", self.data, at)
        at += 16
        self.bitmap_base = at
        self.bitmap_size = sizes[fmt & 3]

    def _read_encodings(self):
        fmt, order, at = self._table(PCF_BDF_ENCODINGS)
        min2, max2, min1, max1, default = struct.unpack_from(order + "5h", self.data, at)
        at += 10
        self.encoding = {}
        per_row = max2 - min2 + 1
        for b1 in range(min1, max1 + 1):
            for b2 in range(min2, max2 + 1):
                index = (b1 - min1) * per_row + (b2 - min2)
                (glyph,) = struct.unpack_from(order + "H", self.data, at + 2 * index)
                if glyph != 0xFFFF:
                    self.encoding[(b1 << 8) | b2] = glyph

    def pixels(self, code):
        """Set pixels (x, y) of the character, y from the top of the font's ascent."""
        glyph = self.encoding.get(code)
        if glyph is None:
            return set()
        lsb, rsb, width, asc, desc = self.metrics[glyph][:5]
        w, h = rsb - lsb, asc + desc
        row_bytes = ((w + 7) // 8 + self.pad - 1) // self.pad * self.pad
        base = self.bitmap_base + self.offsets[glyph]
        out = set()
        for r in range(h):
            for c in range(w):
                byte = self.data[base + r * row_bytes + c // 8]
                bit = (byte >> (7 - c % 8)) & 1 if self.msb_first else (byte >> (c % 8)) & 1
                if bit:
                    out.add((lsb + c, self.ascent - asc + r))
        return out


def glyph_block(font, cell_w, cell_h, row_bytes):
    out = bytearray()
    for code in range(256):
        rows = [0] * cell_h
        for x, y in font.pixels(code):
            for dx in (0, 1):
                px = 2 * x + dx
                if 0 <= px < cell_w - 2 and 0 <= y < cell_h:
                    rows[y] |= 1 << (row_bytes * 8 - 1 - px)
        for value in rows:
            out += value.to_bytes(row_bytes, "big")
    return out


def main():
    fontdir = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/fonts/X11/misc"
    output = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "faxfont.bin")
    small = PcfFont(os.path.join(fontdir, "5x8-ISO8859-1.pcf.gz"))
    large = PcfFont(os.path.join(fontdir, "9x15-ISO8859-1.pcf.gz"))
    data = glyph_block(small, 12, 8, 2) + glyph_block(large, 20, 16, 3)
    assert len(data) == 16384
    with open(output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
