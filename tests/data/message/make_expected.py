#!/usr/bin/env python3
"""Writes the message-conversion fixtures of this folder with Python's own codecs.

Each case is a source message (the bytes handed to convertMessage) and the bytes
expected back. The expected text is written out by hand below (tags removed,
Content-Type header placed as the converter must place it) and only then encoded, so
the bytes come from Python's codecs and never from the converter under test.
The characters are kept to those on which the Shift_JIS tables of Python and ICU agree
(kana, common kanji, fullwidth digits, 、。「」); "~", "\\" and wave dashes are avoided.

Run from anywhere: python3 make_expected.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


CRLF = "\r\n"


def lines(*parts):
    return "".join(p + CRLF for p in parts)


# Japanese mail written by Eudora in Shift_JIS, with a flowed block.
JA_HEADER = lines(
    "From tanaka@example.jp Mon Apr  3 10:15:00 2000",
    "Date: Mon, 3 Apr 2000 10:15:00 +0900",
    "From: tanaka@example.jp",
    "To: yamada@example.jp",
    "Subject: 会議の件について",
)
JA_BODY_TEXT = lines(
    "山田さん",
    "",
    "お疲れ様です。明日の会議は午後３時から第二会議室で行います。",
    "資料「新製品テスト計画」を添付しました。ご確認ください。",
    "",
    "田中",
)
ja_source = JA_HEADER + CRLF + "<x-flowed>" + JA_BODY_TEXT + "</x-flowed>" + CRLF
write("ja_sjis_source.txt", ja_source.encode("shift_jis"))
for charset, codec, suffix in (("iso-2022-jp", "iso2022_jp", "iso2022jp"), ("utf-8", "utf-8", "utf8")):
    expected = (JA_HEADER + "Content-Type: text/plain; format=flowed; charset=" + charset + CRLF
                + CRLF + JA_BODY_TEXT + CRLF)
    write("ja_sjis_to_" + suffix + ".txt", expected.encode(codec))

# Mac Japanese mail with no-break spaces (0xA0) between ASCII characters, which the
# converter turns into spaces, and 0xA0 as the trail byte of "あ" (0x82 0xA0), which
# stays. No tags: the plain path, headers untouched.
NBSP = "\u00a0"
MAC_HEADER = lines(
    "From sato@example.jp Tue Apr  4 08:00:00 2000",
    "Subject: 価格表",
)
MAC_BODY = lines(
    "あいうえお、かきくけこ。",
    "価格:" + NBSP + "1200円" + NBSP + NBSP + "(税込)",
    "Price:" + NBSP + "12.00",
)
mac_source = b"\xa0".join(part.encode("shift_jis") for part in (MAC_HEADER + CRLF + MAC_BODY).split(NBSP))
write("ja_macjapanese_source.txt", mac_source)
mac_expected = (MAC_HEADER + CRLF + MAC_BODY).replace(NBSP, " ")
write("ja_macjapanese_to_iso2022jp.txt", mac_expected.encode("iso2022_jp"))
write("ja_macjapanese_to_utf8.txt", mac_expected.encode("utf-8"))

# Shift_JIS mail with an x-charset block in UTF-8 holding Hangul, which ISO-2022-JP
# cannot write: the second candidate, UTF-8, is chosen.
MIX_HEADER = lines(
    "From kim@example.kr Wed Apr  5 12:00:00 2000",
    "Subject: 翻訳",
)
MIX_LEAD = lines("次の文を訳してください。")
MIX_BLOCK = lines("안녕하세요")
mix_source = ((MIX_HEADER + CRLF + MIX_LEAD).encode("shift_jis")
              + b"<x-charset utf-8>" + MIX_BLOCK.encode("utf-8") + b"</x-charset>" + CRLF.encode())
write("ja_mixed_source.txt", mix_source)
mix_expected = (MIX_HEADER + "Content-Type: text/plain; charset=utf-8" + CRLF + CRLF
                + MIX_LEAD + MIX_BLOCK + CRLF)
write("ja_mixed_to_utf8.txt", mix_expected.encode("utf-8"))

# Western mail in Windows-1252 with a Content-Type header naming the old charset
# (replaced) and an HTML block after a text run (the text run sets text/plain).
W_HEAD = lines(
    "From bob@example.com Tue Feb  1 09:00:00 2000",
    "Subject: Café menu",
)
W_AFTER = lines("X-Mailer: Eudora")
W_TEXT = lines("“Bonjour” — the café’s crème brûlée costs €5.")
W_HTML = "<p>Voilà</p>"
w_source = (W_HEAD + "Content-Type: text/plain; charset=windows-1252" + CRLF + W_AFTER + CRLF
            + W_TEXT + "<x-html>" + W_HTML + "</x-html>" + CRLF)
write("western_cp1252_source.txt", w_source.encode("cp1252"))
w_expected = (W_HEAD + "Content-Type: text/plain; charset=utf-8" + CRLF + W_AFTER + CRLF
              + W_TEXT + W_HTML + CRLF)
write("western_cp1252_to_utf8.txt", w_expected.encode("utf-8"))

# ISO-2022-JP as the source encoding, tags on: "受" is written 0x3C 0x75 inside a
# double-byte run, so the byte '<' there is half of a character, not a tag.
JIS_HEADER = lines(
    "From suzuki@example.jp Thu Apr  6 09:30:00 2000",
    "Subject: 受信確認",
)
JIS_BODY = lines("メールを受信しました。", "<x-flowed>は付いていません。")
write("ja_iso2022jp_source.txt", (JIS_HEADER + CRLF + JIS_BODY).encode("iso2022_jp"))
write("ja_iso2022jp_to_utf8.txt",
      (JIS_HEADER + "Content-Type: text/plain; charset=utf-8" + CRLF + CRLF + JIS_BODY).encode("utf-8"))
