#!/usr/bin/env python3
"""Writes the small sample files of several kinds that the identify tests encrypt and look for.

Standard library only, and deterministic: running it again gives the same bytes.
Run from anywhere: python3 tests/data/samples/make_samples.py
"""
import gzip
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

PROSE = (
    "Minutes of the allotment committee, spring meeting.\n"
    "Present: the chair, the treasurer and nine members. The water tap by plot 14 leaks again;\n"
    "a plumber will look at it before the first frost. Seeds for the shared beds were ordered.\n"
    "The open day is on the second Saturday of June, from ten until four.\n"
)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def text_files():
    utf8 = (
        PROSE
        + "Café au lait for everyone; the crème brûlée was a success.\n"
        + "Ελληνικά: καλημέρα σας. Русский: добрый день. 日本語: こんにちは。\n"
    )
    write("text-utf8.txt", utf8.encode("utf-8"))
    cp1252 = (
        PROSE
        + "Le café coûte 2 € ; « très bien », dit-il — et voilà.\n"
        + "Größe, Übung, “quoted” and ‘single’ signs, naïve façade.\n"
    )
    write("text-cp1252.txt", cp1252.encode("cp1252"))
    write("text-utf16.txt", b"\xff\xfe" + (PROSE + "Zürich, Malmö, Kraków.\n").encode("utf-16-le"))


def png():
    width, height = 24, 16
    rows = b"".join(
        b"\x00" + bytes(v for x in range(width) for v in (x * 10, y * 15, 128))
        for y in range(height)
    )

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    write("image.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
          + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def pdf():
    content = b"BT /F1 18 Tf 72 720 Td (Allotment minutes, spring) Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    write("document.pdf", out)


def zip_file():
    path = os.path.join(HERE, "archive.zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("minutes.txt", date_time=(2024, 3, 1, 12, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, PROSE * 3)


def jpeg():
    # An 8x8 grey baseline JPEG: one block whose DC difference and AC run both use a one-code
    # Huffman table, so the scan is the two bits 00 padded with ones.
    def segment(marker, body):
        return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body

    out = b"\xff\xd8"
    out += segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    out += segment(0xFE, b"allotment committee")
    out += segment(0xDB, b"\x00" + bytes([1] * 64))
    out += segment(0xC0, b"\x08\x00\x08\x00\x08\x01\x01\x11\x00")
    one_code = b"\x01" + b"\x00" * 15 + b"\x00"
    out += segment(0xC4, b"\x00" + one_code)
    out += segment(0xC4, b"\x10" + one_code)
    out += segment(0xDA, b"\x01\x01\x00\x00\x3f\x00")
    out += b"\x3f\xff\xd9"
    write("photo.jpg", out)


def gzip_file():
    write("notes.txt.gz", gzip.compress((PROSE * 4).encode(), compresslevel=9, mtime=0))


def elf():
    # A complete x86-64 Linux program that exits with status 0: header, one segment, the code.
    code = bytes.fromhex("b83c000000" "31ff" "0f05")  # mov eax, 60; xor edi, edi; syscall
    base = 0x400000
    header_size, phdr_size = 64, 56
    entry = base + header_size + phdr_size
    ident = b"\x7fELF" + bytes([2, 1, 1, 0]) + bytes(8)
    header = ident + struct.pack("<HHIQQQIHHHHHH", 2, 0x3E, 1, entry, header_size, 0, 0,
                                 header_size, phdr_size, 1, 0, 0, 0)
    total = header_size + phdr_size + len(code)
    phdr = struct.pack("<IIQQQQQQ", 1, 5, 0, base, base, total, total, 0x1000)
    write("program.elf", header + phdr + code)


if __name__ == "__main__":
    text_files()
    png()
    pdf()
    zip_file()
    jpeg()
    gzip_file()
    elf()
