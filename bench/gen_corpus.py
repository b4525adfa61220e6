#!/usr/bin/env python3
"""Writes a Eudora mailbox of made-up mail, the same bytes for the same arguments.

usage: gen_corpus.py --size-mb N --profile {mac,win,ja,mixed} [--seed S] OUT

Profiles:
  mac    CR line ends, Mac Roman text (some characters only Mac Roman has)
  win    CR LF line ends, Windows-1252 text (some characters only Windows-1252 has)
  ja     CR LF line ends, Shift_JIS text; now and then a stray 0xA0 byte after an ASCII
         word and half-width katakana (which ISO-2022-JP cannot carry)
  mixed  Mac Roman text; CR, LF and CR LF mixed between messages and between lines

The mail is what Eudora stores: a "From ???@??? Tue Jan 03 01:05:34 1996" line before
each message (the times rise), headers with raw 8-bit names and subjects or encoded
words, stale Content-Type lines, and bodies in Eudora's forms: plain text with quoted
replies and attachment lines, <x-flowed>, <x-html>, <x-charset NAME> blocks, Eudora's
<!x-stuff-for-pete ...> trailer, and a rare large message with a base64 part. No body
line begins with "From ", so the number of messages printed is the number of such lines.
Python 3's standard library only; nothing depends on hash order.
"""
import argparse
import base64
import datetime
import math
import random
import sys

WEEKDAYS = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")

PLAIN_WORDS = """a about after again all also an and any are as at back be because been before both
but by can come could day did do down each even first for from get go good great had has have
her here him his how if in into is it its just know last like long made make many may me more
most much must my never new no not now of off old on one only or other our out over own people
right said same see she should since so some still such take than that the their them then
there these they this those three through time to too two under up us use very was way we well
were what when where which while who will with work would year you your agenda minutes invoice
quarterly printer modem server backup folder mailbox draft schedule budget committee deadline
report update version network laptop conference review proposal shipment catalogue""".split()
# Words whose letters every profile's text encoding has.
SHARED_8BIT = ["caf\u00e9", "d\u00e9j\u00e0 vu", "na\u00efve", "Z\u00fcrich", "G\u00f6teborg", "pi\u00f1ata",
               "fa\u00e7ade", "\u00a9 1997", "\u2022 item", "\u201cquoted\u201d", "\u2018single\u2019", "and so on\u2026",
               "18\u00b0C", "\u00b15%", "\u00bfs\u00ed?", "\u00a1ol\u00e9!", "cr\u00e8me", "\u00c5rhus", "\u00e6sthetic",
               "pages 3\u20135", "wait \u2014 no"]
ONLY_8BIT = {
    "mac_roman": ["\u2260 zero", "\u221e loop", "\u2202x", "\u03a9 ohm", "\u2248 2", "\u25ca", "\ufb01nal"],
    "cp1252": ["\u20ac20", "\u0160koda", "\u017dilina", "\u0153uvre", "\u2030", "\u0192 stop", "\u0178"],
}
ISO_8859_1_WORDS = [w for w in SHARED_8BIT if all(ord(c) < 256 for c in w)]
KANJI_WORDS = """会議 資料 確認 連絡 予定 変更 報告 打ち合わせ 来週 今週 明日 本日 午前 午後 担当 部長 課長
お願い します いたします よろしく ありがとう ございます 申し訳 ありません 添付 ファイル 送付 返信 件名
東京 大阪 名古屋 福岡 札幌 事務所 電話 番号 住所 場所 時間 問題 対応 検討 結果 以上 今後 とも 新製品
見積書 請求書 契約 設定 サーバー ネットワーク マック プリンター 、 。 「 」 ・ （ ） ー""".split()
JA_LATIN = ["OK", "PDF", "Mac", "Re:", "FAX 06-1234-5678", "http://www.example.jp/", "Eudora", "LAN"]
JA_PEOPLE = ["山田 一郎", "中村 由美", "小林 誠", "伊藤 さくら", "渡辺 大輔"]
PEOPLE = ["Alice Barton", "Marcus Reed", "Elena Petrova", "Fran\u00e7ois Girard", "Ingrid H\u00f8gh",
          "Jos\u00e9 N\u00fa\u00f1ez", "Priya Raman", "Tom O'Neill", "Chlo\u00eb Adams", "Dieter Schr\u00f6der"]
ZONES = ["-0800", "-0500", "-0400 (EDT)", "+0000", "+0100", "+0200 (CEST)", "+0900", "-0700 (PDT)"]


class Profile:
    def __init__(self, name):
        self.name = name
        self.japanese = name == "ja"
        self.codec = {"mac": "mac_roman", "mixed": "mac_roman", "win": "cp1252", "ja": "shift_jis"}[name]
        self.eol = {"mac": b"\r", "win": b"\r\n", "ja": b"\r\n", "mixed": None}[name]
        self.words_8bit = SHARED_8BIT + ONLY_8BIT.get(self.codec, [])


class Writer:
    def __init__(self, profile, seed):
        self.p = profile
        self.rng = random.Random(seed)
        self.clock = datetime.datetime(1996, 1, 1) + datetime.timedelta(minutes=self.rng.randrange(525600))
        self.last_eol = b"\n"

    # -- text --------------------------------------------------------------------------
    def sentence(self, count):
        rng = self.rng
        words = [rng.choice(PLAIN_WORDS) for _ in range(count)]
        if rng.random() < 0.45:
            words[rng.randrange(1, count)] = rng.choice(self.p.words_8bit)
        return " ".join(words)

    def japanese_line(self):
        rng = self.rng
        data = "".join(rng.choice(KANJI_WORDS) for _ in range(rng.randint(8, 15)))
        if rng.random() < 0.04:
            data += "\uff83\uff9d\uff84\uff9e"  # half-width katakana, one byte each in Shift_JIS
        raw = data.encode("shift_jis")
        if rng.random() < 0.1:
            raw = rng.choice(JA_LATIN).encode() + b"\xa0" + raw  # the stray no-break space
        return raw

    def text_line(self):
        if self.p.japanese:
            return self.japanese_line()
        rng = self.rng
        pick = rng.random()
        if pick < 0.012:
            return b"see <http://www.example.com/news/%d.html>" % rng.randrange(1000)
        line = self.sentence(rng.randint(8, 13))
        if pick < 0.03:
            line += " when x < y and y >= z"
        return line.encode(self.p.codec)

    def paragraph(self, flowed=False):
        lines = [self.text_line() for _ in range(self.rng.randint(2, 6))]
        if flowed:
            lines = [line + b" " for line in lines[:-1]] + lines[-1:]
        return lines + [b""]

    def paragraphs(self, budget, flowed=False):
        lines = []
        while budget > 0:
            block = self.paragraph(flowed)
            lines += block
            budget -= sum(len(line) + 2 for line in block)
        return lines

    # -- bodies --------------------------------------------------------------------------
    def plain_body(self, size):
        rng = self.rng
        lines = [b"Hello,", b""] + self.paragraphs(size * 0.65)
        if rng.random() < 0.35:
            lines.append(b"On 4/2/97 at 9:30, a colleague wrote:")
            lines += [b">" if rng.random() < 0.08 else b"> " + line for line in self.paragraph()[:-1]]
            if rng.random() < 0.25:
                lines.append(b">From our side nothing changes.")
            lines.append(b"")
        lines += self.paragraphs(size * 0.35)
        if rng.random() < 0.08:
            lines.append(b"Attachment Converted: \"Macintosh HD:Eudora Folder:Attachments Folder:notes%02d.txt\""
                         % rng.randrange(100))
        return lines + [b"-- ", b"sent from the office Mac"]

    def flowed_body(self, size):
        body = self.paragraphs(size, flowed=True)[:-1]
        if self.rng.random() < 0.5:
            return [b"<x-flowed>" + body[0]] + body[1:-1] + [body[-1] + b"</x-flowed>"]
        return [b"<x-flowed>"] + body + [b"</x-flowed>"]

    def html_body(self, size):
        rng = self.rng
        lines = [b'<x-html><!doctype html public "-//W3C//DTD W3C HTML//EN">', b"<html><body>",
                 b'<font face="Helvetica" size=3>']
        while size > 0:
            wrap = rng.choice([b"<p>%s</p>", b"<i>%s</i><br>", b"%s&nbsp;&amp;<br>",
                               b'<a href="http://www.example.org/">%s</a><br>'])
            line = wrap % self.text_line()
            lines.append(line)
            size -= len(line) + 2
        return lines + [b"</font></body></html>", b"</x-html>"]

    def charset_body(self, size):
        rng = self.rng
        lines = self.paragraphs(size * 0.3)
        if self.p.japanese:
            label, codec = rng.choice([("iso-2022-jp", "iso2022_jp"), ("euc-jp", "euc_jp"), ("shift_jis", "shift_jis")])
            texts = ["".join(rng.choice(KANJI_WORDS) for _ in range(12)) for _ in range(max(2, int(size * 0.4 / 60)))]
        else:
            label, codec, pool = rng.choices(
                [("iso-8859-1", "latin-1", ISO_8859_1_WORDS),
                 ("utf-8", "utf-8", ISO_8859_1_WORDS if self.p.name == "win" else SHARED_8BIT),
                 ("windows-1252", "cp1252", SHARED_8BIT + ONLY_8BIT["cp1252"]),
                 ("x-unknown", self.p.codec, self.p.words_8bit)], [70, 15, 10, 5])[0]
            texts = []
            for _ in range(max(2, int(size * 0.4 / 70))):
                words = [rng.choice(PLAIN_WORDS) for _ in range(10)]
                words[rng.randrange(10)] = rng.choice(pool)
                texts.append(" ".join(words))
        block = [text.encode(codec) for text in texts]
        block[0] = b"<x-charset " + label.encode() + b">" + block[0]
        block[-1] += b"</x-charset>"
        return lines + block + [b""] + self.paragraphs(size * 0.3)

    def base64_body(self, size):
        rng = self.rng
        boundary = b"=====================_%08d==_" % rng.randrange(10 ** 8)
        lines = [b"--" + boundary, b'Content-Type: text/plain; charset="us-ascii"', b""]
        for _ in range(rng.randint(8, 20)):  # a MIME part says what it holds: ASCII here
            lines.append(" ".join(rng.choice(PLAIN_WORDS) for _ in range(rng.randint(8, 13))).encode())
        lines += [b"--" + boundary, b'Content-Type: application/octet-stream; name="scan%d.tif"' % rng.randrange(100),
                  b"Content-Transfer-Encoding: base64", b'Content-Disposition: attachment; filename="scan.tif"', b""]
        lines += base64.encodebytes(rng.randbytes(size * 3 // 4)).split(b"\n")[:-1]
        return lines + [b"--" + boundary + b"--", b""], boundary

    # -- headers ---------------------------------------------------------------------------
    def sender(self):
        rng = self.rng
        if self.p.japanese:
            name = rng.choice(JA_PEOPLE)
            shown = name.encode("shift_jis") if rng.random() < 0.5 else \
                b"=?ISO-2022-JP?B?" + base64.b64encode(name.encode("iso2022_jp")) + b"?="
            return shown, b"staff%02d@example.jp" % rng.randrange(40)
        name = rng.choice(PEOPLE)
        local = name.split()[-1].lower().encode("ascii", "ignore").replace(b"'", b"")
        return name.encode(self.p.codec), local + b"@example.com"

    def subject(self):
        rng = self.rng
        prefix = rng.choice([b"", b"", b"Re: ", b"Fwd: "])
        if self.p.japanese:
            text = "".join(rng.choice(KANJI_WORDS) for _ in range(4))
            if rng.random() < 0.5:
                return prefix + b"=?ISO-2022-JP?B?" + base64.b64encode(text.encode("iso2022_jp")) + b"?="
            return prefix + text.encode("shift_jis")
        return prefix + self.sentence(rng.randint(2, 6)).encode(self.p.codec)

    def content_type(self, kind, boundary):
        rng = self.rng
        charset = rng.choice(["ISO-2022-JP", "Shift_JIS"] if self.p.japanese else
                             ["us-ascii", "iso-8859-1", "windows-1252" if self.p.name == "win" else "x-mac-roman"])
        roll = rng.random()
        if kind == "base64":
            return [b"Content-Type: multipart/mixed;", b'\tboundary="' + boundary + b'"']
        if kind == "html" and roll < 0.5:
            return [b"Content-Type: multipart/alternative;",
                    b'\tboundary="=====================_%08d==_.ALT"' % rng.randrange(10 ** 8)]
        if kind == "html" and roll < 0.8:
            return [b'Content-Type: text/html; charset="' + charset.encode() + b'"']
        if roll < 0.5:
            flowed = b"; format=flowed" if kind == "flowed" else b""
            return [b'Content-Type: text/plain; charset="' + charset.encode() + b'"' + flowed]
        return []

    def headers(self, kind, boundary):
        rng = self.rng
        name, address = self.sender()
        sent = self.clock - datetime.timedelta(seconds=rng.randrange(10, 5400))
        date = "%s, %d %s %d %02d:%02d:%02d %s" % (WEEKDAYS[sent.weekday()], sent.day, MONTHS[sent.month - 1],
                                                   sent.year, sent.hour, sent.minute, sent.second, rng.choice(ZONES))
        incoming = rng.random() < 0.65  # what the user sent has no Date: header in Eudora's copy
        lines = []
        if incoming:
            lines += [b"Return-Path: <" + address + b">",
                      b"Received: from smtp%d.example.com (smtp.example.com [198.51.100.%d])"
                      % (rng.randrange(9), rng.randrange(256)),
                      b"\tby pop.example.net (8.8.5/8.8.5) with ESMTP id MAA%05d" % rng.randrange(10 ** 5),
                      b"\tfor <user@example.net>; " + date.encode()]
        lines.append(b"Message-Id: <%d.%d@example.com>" % (rng.randrange(10 ** 9), rng.randrange(10 ** 4)))
        content = self.content_type(kind, boundary)
        if content:
            lines += [b"Mime-Version: 1.0"] + content
        if incoming:
            lines.append(rng.choice([b"Date", b"Date", b"Date", b"Date", b"Date", b"date", b"DATE"]) + b": " + date.encode())
        lines += [b"From: " + name + b" <" + address + b">", b"To: user@example.net", b"Subject: " + self.subject()]
        if rng.random() < 0.08:
            lines.append(b"X-Attachments: :Macintosh HD:Documents:plan%02d.txt:" % rng.randrange(100))
        return lines

    # -- messages ------------------------------------------------------------------------
    def message(self):
        rng = self.rng
        self.clock += datetime.timedelta(seconds=1 + int(rng.expovariate(1 / 2800.0)))
        t = self.clock
        separator = b"From ???@??? %s %s %02d %02d:%02d:%02d %d" % (
            WEEKDAYS[t.weekday()].encode(), MONTHS[t.month - 1].encode(), t.day, t.hour, t.minute, t.second, t.year)
        boundary = b""
        if rng.random() < 0.012:
            kind, size = rng.choice(["html", "base64"]), rng.randint(120000, 240000)
        else:
            kind = rng.choices(["plain", "flowed", "html", "charset"], [46, 26, 18, 10])[0]
            size = min(int(rng.lognormvariate(math.log(2200), 0.9)), 90000)
        if kind == "base64":
            body, boundary = self.base64_body(size)
        else:
            body = {"plain": self.plain_body, "flowed": self.flowed_body, "html": self.html_body,
                    "charset": self.charset_body}[kind](size)
            if rng.random() < 0.05:  # Eudora's trailer runs to the end of the message
                body += [b'<!x-stuff-for-pete base="" src="" id="%d" charset="">' % rng.randrange(10 ** 4),
                         b"<x-html><i>left as it is</i></x-html> " + self.text_line()]
        return self.join([separator] + self.headers(kind, boundary) + [b""] + body)

    def join(self, lines):
        if self.p.eol is not None:
            return self.p.eol.join(lines) + self.p.eol
        rng = self.rng
        endings = (b"\r", b"\n", b"\r\n")
        if rng.random() < 0.7:
            eol = rng.choice(endings)
            self.last_eol = eol
            return eol.join(lines) + eol
        out = []
        for line in lines:
            eol = rng.choice(endings)
            if self.last_eol == b"\r" and not line and eol == b"\n":
                eol = b"\r\n"  # CR, then an empty line ended by LF, would read as one CR LF
            out += [line, eol]
            self.last_eol = eol
        return b"".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--size-mb", type=float, required=True, help="size in MiB (the last message is whole)")
    parser.add_argument("--profile", choices=["ja", "mac", "mixed", "win"], required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("out")
    args = parser.parse_args()
    writer = Writer(Profile(args.profile), args.seed)
    limit, count, written = int(args.size_mb * 1048576), 0, 0
    with open(args.out, "wb", buffering=1 << 20) as out:
        while written < limit:
            data = writer.message()
            out.write(data)
            written += len(data)
            count += 1
    print("messages: %d bytes: %d profile: %s seed: %d" % (count, written, args.profile, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
