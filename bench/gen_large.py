#!/usr/bin/env python3
"""Writes a Eudora mailbox whose messages are larger than the 4 MiB a message is held
in memory up to, so that they are converted from the spool file: Mac Roman with CR
line ends and <x-flowed> blocks, Shift_JIS with no-break spaces and <x-charset> blocks,
ISO-2022-JP, Windows-1252 HTML with a Mac marker, an intact multipart body, UTF-8 with
8-bit header fields, one with an attachment line, one with a header field over 1 MiB,
and small messages between them. The same bytes every time.

usage: gen_large.py OUT
"""
import sys

MIB = 1 << 20


def message(header, body, eol):
    lines = ["From ???@??? Tue Jan 03 01:05:34 1996"] + header + [""]
    return eol.join(lines).encode("latin-1") + eol.encode() + body


def repeat(chunk, size):
    return (chunk * (size // len(chunk) + 1))[:size]


def small(n):
    return message(["Subject: small %d" % n, "From: a@example.org"], b"just a line\r\n" * 20, "\r\n")


def build():
    parts = []
    mac = repeat("caf\u00e9 \u2260 zero \u221e loop line of text\r".encode("mac_roman"), 5 * MIB)
    parts.append(message(["Subject: mac large"], b"<x-flowed>" + mac + b"</x-flowed>\r" + mac[:1000] + b"\r", "\r"))
    parts.append(small(1))
    sjis = repeat("会議の資料を確認します。 ".encode("shift_jis") + b"price \xa0 100\r\n", 5 * MIB)
    parts.append(message(["Subject: ja large", "Content-Type: text/plain; charset=shift_jis"],
                         b"<x-charset shift_jis>" + sjis + b"</x-charset>\r\n" + sjis[:4000] + b"\r\n", "\r\n"))
    parts.append(small(2))
    jis = repeat("予定を変更します。\r\n".encode("iso2022_jp"), 5 * MIB)
    parts.append(message(["Subject: jis large", "Content-Type: text/plain; charset=iso-2022-jp"], jis, "\r\n"))
    html = repeat("<p>price \u20ac20 \u0160koda</p>\r\n".encode("cp1252"), 5 * MIB)
    parts.append(message(["Subject: html large"],
                         b"<x-html><!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"windows-1252\">\r\n" + html
                         + b"</x-html>\r\n", "\r\n"))
    parts.append(small(3))
    part = repeat(b"body line of the first part\r\n", 5 * MIB)
    parts.append(message(["Subject: multipart", "Content-Type: multipart/mixed; boundary=\"xyz\""],
                         b"--xyz\r\nContent-Type: text/plain\r\n\r\n" + part + b"\r\n--xyz--\r\n", "\r\n"))
    utf8 = repeat("Zürich naïve — “quoted” 日本\r\n".encode("utf-8"), 5 * MIB)
    parts.append(message(["Subject: Gr\u00fc\u00dfe aus Z\u00fcrich".encode("utf-8").decode("latin-1"),
                          "From: Zo\u00eb <z@example.org>".encode("utf-8").decode("latin-1")], utf8, "\r\n"))
    parts.append(message(["Subject: with attachment"], repeat(b"text line\r\n", 5 * MIB)
                         + b"Attachment Converted: \"C:\\Eudora\\Attach\\missing.doc\"\r\n", "\r\n"))
    parts.append(message(["Subject: long field", "X-Long: " + "a" * (MIB + 100)], b"body caf\xe9\r\n" * 10, "\r\n"))
    parts.append(small(4))
    return b"".join(parts)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(build())
