#!/usr/bin/env python3
"""Writes the reference bytes for the text encoding tests with Python's codecs.

Run once from this folder; the outputs are committed. Each sample text is stored as
UTF-16LE (<name>.utf16le) and in each encoding (<name>.<codec>). single_byte.txt lists,
for each single-byte codec, the code point of every byte 0x00-0xFF ("----" = undefined).
The ISO-8859-16 sample comes from iconv instead.
"""
import subprocess

SAMPLES = {
    "japanese": ("日本語のメール変換テスト。半角ｶﾀｶﾅと全角ＡＢＣ、記号「」〒※。",
                 ["shift_jis", "euc_jp", "utf_8"]),
    "japanese_jis": ("日本語のメール変換テスト。全角ＡＢＣと記号「」。\r\n二行目です。",
                     ["iso2022_jp", "shift_jis", "euc_jp"]),
    "korean": ("안녕하세요, 세계! 한국어 시험", ["euc_kr", "iso2022_kr"]),
    "trad_chinese": ("中文測試，繁體字。", ["big5"]),
    "simp_chinese": ("中文测试，简体字。", ["gb2312", "gbk", "gb18030"]),
    "gb18030_extra": ("€ 𠀀 ©", ["gb18030"]),  # not U+1E3F: GB 18030-2000 and -2005 differ there
    "astral": ("emoji 😀 and 𝄞", ["utf_8", "utf_16_be", "utf_16_le"]),
}

# The tests give these codecs their identifiers in this order.
SINGLE_BYTE = ["ascii", "latin_1"] + ["iso8859_%d" % n for n in (2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16)] + \
    ["cp%d" % n for n in range(1250, 1259)] + ["cp874", "mac_roman", "mac_latin2", "mac_cyrillic", "mac_greek",
                                                "mac_turkish", "koi8_r", "koi8_u"]

for name, (text, codecs) in SAMPLES.items():
    open(name + ".utf16le", "wb").write(text.encode("utf_16_le"))
    for codec in codecs:
        open("%s.%s" % (name, codec), "wb").write(text.encode(codec))

romanian = "Științe și tehnică: Ăă Ââ Îî Șș Țț „ghilimele” €"
open("romanian.utf16le", "wb").write(romanian.encode("utf_16_le"))
open("romanian.iso8859_16", "wb").write(
    subprocess.run(["iconv", "-f", "UTF-8", "-t", "ISO-8859-16"], input=romanian.encode(), capture_output=True,
                   check=True).stdout)

with open("single_byte.txt", "w") as out:
    for codec in SINGLE_BYTE:
        cells = []
        for b in range(256):
            try:
                u = bytes([b]).decode(codec)
                cells.append("%04X" % ord(u) if len(u) == 1 else "----")
            except UnicodeDecodeError:
                cells.append("----")
        out.write(codec + " " + " ".join(cells) + "\n")
