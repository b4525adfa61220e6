#!/usr/bin/env python3
"""Writes the two Eudora folders the tests convert: "Windows Eudora Folder" (Eudora 7 for
Windows) and "Mac Eudora Folder" (Eudora 6 for the Mac, copied to a non-Mac disk).

Run from any folder; the folders are written beside this script and committed. Same
script, same bytes: --check writes them to a temporary folder and fails when the
committed folders differ. The layouts follow what Eudora writes (see docs/EUDORA-RECORDS.md):
.toc indexes, descmap.pce folder maps, attachment lines in both systems' forms,
AppleDouble "._" files, CR line ends and Mac Roman text on the Mac. The mail is ours.
"""
import calendar
import filecmp
import os
import shutil
import struct
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
WIN = os.path.join(HERE, "Windows Eudora Folder")
MAC = os.path.join(HERE, "Mac Eudora Folder")
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def write(root, name, data):
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode("ascii") if isinstance(data, str) else data)


# ---- attachment files -------------------------------------------------------------

def jpeg_8x8(shade):
    """A valid baseline JPEG of one grey 8x8 block: one quantisation table, and Huffman
    tables of a single one-bit code each (DC difference 0, end of block)."""
    soi, eoi = b"\xff\xd8", b"\xff\xd9"
    app0 = b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0"
    dqt = b"\xff\xdb" + struct.pack(">H", 67) + b"\0" + bytes([shade]) * 64
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, 8, 8, 1) + b"\x01\x11\x00"
    counts = b"\x01" + b"\0" * 15
    dht = b"\xff\xc4" + struct.pack(">H", 2 + 2 * 18) + b"\x00" + counts + b"\x00" + b"\x10" + counts + b"\x00"
    sos = b"\xff\xda" + struct.pack(">HB", 8, 1) + b"\x01\x00" + b"\x00\x3f\x00"
    return soi + app0 + dqt + sof + dht + sos + b"\x3f" + eoi


def png(width, height, colour):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + bytes(colour) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


BUDGET = ("item;spring;summer;autumn\r\nseed potatoes;42.50;0;0\r\nhose and fittings;18.20;6.00;0\r\n"
          "hall hire;60.00;60.00;60.00\r\nprinting;12.75;0;12.75\r\n")
MINUTES = ("Minutes of the committee meeting, 14 March\r\n\r\nPresent: Hannah, Tomasz, Ruth, Malik.\r\n"
           "1. The spring show moves to the church hall.\r\n2. Tomasz orders the seed potatoes.\r\n"
           "3. Next meeting: 11 April, 7.30 pm.\r\n")
ROUTE_HTML = ("<html><head><title>Ride of 3/12</title></head><body>\r\n<h1>Saturday ride, 3/12</h1>\r\n"
              "<p>Start at the old mill car park, 9 am. 38 km, two climbs, caf&eacute; stop at Millbrook.</p>\r\n"
              "<ol><li>Mill lane to the canal</li><li>Towpath to Millbrook</li><li>Back over Beacon Hill</li></ol>\r\n"
              "</body></html>\r\n").encode("ascii")
UNTITLED = b"Untitled notes kept with the message: bring the spare inner tube.\r\n"
REMINDER_JPEG = jpeg_8x8(0x11) + b"Lakeside Dental" * 40  # bytes after the image end are kept as they are
HARBOUR_PNG = png(6, 4, (30, 90, 160))


# ---- messages -----------------------------------------------------------------------

def separator(day, month, date, time, year):
    return "From ???@??? %s %s %2d %s %d" % (day, MONTHS[month - 1], date, time, year)


def received(host, ip, stamp):
    return ["Received: from %s (%s [%s])" % (host, host, ip),
            "\tby mx.example.net (8.14.4/8.14.4) with ESMTP id p2EAx%05d" % (sum(map(ord, host)) % 100000),
            "\tfor <ruth@example.net>; " + stamp]


# Each message: (separator, header lines, body lines); the body ends before the
# attachment lines, which each system writes in its own form.
def messages(system):
    mac = system == "mac"
    html_intro = ('<x-html><!x-stuff-for-pete base="" src="" id="0" charset="iso-8859-1/macintosh"><html>'
                  if mac else "<x-html>")
    sent = "Mon, 14 Mar 2011 21:05:11 +0000"
    m1 = (["Return-Path: <hannah@example.org>"] + received("relay.example.org", "192.0.2.17", sent)
          + ["Date: " + sent, "From: Hannah Okafor <hannah@example.org>", "To: ruth@example.net",
             "Subject: Minutes and budget", "Message-ID: <20110314210511.4411@example.org>", "MIME-Version: 1.0",
             "Content-Type: multipart/mixed;", '\tboundary="=_mixed 0041A2B5C12577F0_="',
             "Content-Length: 2841", "Lines: 61", "Status:   "],
          ["Ruth,", "", "here are the minutes of Monday's meeting and the budget for the year,",
           "as promised. The hall hire is the big item; everything else is small.", "",
           "I will send them the day after each meeting from now on.", "", "Hannah", ""])
    sent = "Tue, 15 Mar 2011 07:40:02 -0500"
    m2 = (["Return-Path: <news@rowing.example.com>"] + received("out.rowing.example.com", "198.51.100.4", sent)
          + ["Date: " + sent, "From: Riverside Rowing Club <news@rowing.example.com>", "To: ruth@example.net",
             "Subject: Riverside Rowing Club newsletter, March", "MIME-Version: 1.0",
             "Content-Type: multipart/alternative;", '\tboundary="----=_NextPart_000_0012_01CBE2F1.5A0B3C40"',
             "Content-Length: 3305", "Lines: 44", "Status:   "],
          [html_intro, "<head><title>Newsletter</title></head>",
           '<body bgcolor="#ffffff"><h2>March at the boathouse</h2>',
           "<p>The caf\u00e9 reopens on the 26th with a new menu. Our \u201cnovice eight\u201d races",
           "at Henley in June \u2013 come and cheer.</p>", "<p>Subscriptions: \u00a345 for the season.</p>",
           "</body></html>", "</x-html>"])
    sent = "Wed, 16 Mar 2011 08:00:00 -0600 (MDT)"
    dental_body = ('<x-html><!x-stuff-for-pete base="" src="" id="1" charset="UTF-8"> ' if mac else "<x-html>")
    m3 = (received("mailer.lakeside.example", "203.0.113.9", sent)
          + ["From: Lakeside Dental Care <reminders@lakeside.example>", "To: ruth@example.net",
             "Subject: Your check-up reminder from Lakeside Dental Care", "MIME-Version: 1.0",
             "Content-Type: multipart/related; ", '\tboundary="----=_Part_5521_90211.1300284000000"',
             "Date: " + sent, "Content-Length: 4120", "Lines: 71", "Status:   "],
          [dental_body, "<html><body><p>Dear Ruth, your check-up is on Monday 21 March at 10:15.</p>",
           "<p>Bitte bringen Sie Ihre Versicherungskarte mit. Gr\u00fc\u00dfe, Dr. Nowak</p></body></html>",
           "</x-html>", "", ""])
    sent = "Thu, 17 Mar 2011 18:22:40 +0100"
    flowed = ["<x-flowed>This is the route for Saturday, as a web page. "] if mac else \
        ["", "<x-flowed>", "This is the route for Saturday, as a web page. "]
    m4 = (["Return-Path: <tomasz@example.com>"] + received("smtp.example.com", "192.0.2.88", sent)
          + ["Date: " + sent, "From: Tomasz Nowicki <tomasz@example.com>", "To: ruth@example.net", "Subject: Saturday ride",
             'Content-Type: text/plain; charset="iso-8859-1"; format=flowed', "Content-Length: 1877",
             "Lines: 40", "Status:   "],
          flowed + ["It is 38 km with a caf\u00e9 stop at Millbrook.", "", "  Tomasz", "", "</x-flowed>", ""])
    sent = "Fri, 18 Mar 2011 12:01:09 +0000"
    m5 = (["Return-Path: <malik@example.org>"] + received("relay.example.org", "192.0.2.17", sent)
          + ["Message-ID: <4D834A15.2030507@example.org>", "Date: " + sent,
             "From: Malik Haddad <malik@example.org>", "User-Agent: Thunderbird 3.1",
             "MIME-Version: 1.0", "To: ruth@example.net", "Subject: The harbour from the hill",
             "Content-Type: multipart/related;", ' boundary="------------030704050907000108040902"',
             "Content-Length: 5230", "Lines: 88", "Status:   "],
          [("<x-html>" if not mac else html_intro.replace('id="0"', 'id="1"')),
           '<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">', "<html>", "  <body>",
           "    Taken from the top of Beacon Hill on Sunday morning:<br>",
           '    <img alt="The harbour" src="cid:part1.01020304.05060708@example.org" width="6" height="4"><br>',
           "    The fog lifted just after nine.<br>", "    Malik<br>", "  </body>", "</html>", "", "</x-html>", "", ""])
    seps = {
        "win": [("Mon", 3, 14, "21:10:03", 2011), ("Tue", 3, 15, "13:41:00", 2011), ("Wed", 3, 16, "15:02:11", 2011),
                ("Thu", 3, 17, "18:30:59", 2011), ("Fri", 3, 18, "12:05:20", 2011)],
        "mac": [("Tue", 3, 22, "09:14:40", 2011)] * 3 + [("Tue", 3, 22, "09:14:41", 2011)] * 2,
    }[system]
    return [(separator(*s), h, b) for s, (h, b) in zip(seps, [m1, m2, m3, m4, m5])]


# Attachment lines per message, and the files they name (relative to the folder).
WIN_ATTACH = "c:\\users\\ruth\\appdata\\roaming\\qualcomm\\eudora\\attach\\"
WIN_LINES = [
    ['Attachment Converted: "%sbudget-2011.csv"' % WIN_ATTACH, "",
     'Attachment Converted: "%sMeeting minutes"' % WIN_ATTACH],
    [],
    ["Embedded Content: Your check-up reminder from Lak.jpg: 00000001,5a1c33e0,00000000,00000000"],
    ['Attachment Converted: "%sroute 3-12.htm"' % WIN_ATTACH],
    ["Embedded Content: harbour.png: 00000001,2b7e1516,00000000,00000000"],
]
MAC_LINES = [
    ["Attachment converted: Macintosh HD:budget-2011.csv (TEXT/XCEL) (0031A2F0)",
     "Attachment converted: Macintosh HD:Untitled (    /    ) (0031A2F1)"],
    [],
    ["Related: :Macintosh HD:Untitled:0031A2F3:5A1C33E0:00000000:00000000"],
    ["Attachment converted: Macintosh HD:route 3/12 (TEXT/MOSS) (0031A2F4)"],
    ["Related: :Macintosh HD:harbour.png:0031A2F6:2B7E1516:00000000:00000000"],
]


def mailbox_bytes(msgs, lines, eol, codec):
    out, spans = b"", []
    for (sep, header, body), attachment_lines in zip(msgs, lines):
        text = eol.join([sep] + header + [""] + body + attachment_lines) + eol
        data = text.encode(codec)
        spans.append((len(out), len(data), sep, header))
        out += data
    return out, spans


# ---- Windows index and folder map --------------------------------------------------

def header_value(header, name):
    for line in header:
        if line.lower().startswith(name.lower() + ":"):
            return line.split(":", 1)[1].strip()
    return ""


def date_seconds(value):
    """Seconds since 1970 (UTC) of an RFC 822 date such as "Mon, 14 Mar 2011 21:05:11 +0000"."""
    parts = value.replace(",", "").split()
    day, month, year, clock, zone = int(parts[1]), MONTHS.index(parts[2]) + 1, int(parts[3]), parts[4], parts[5]
    h, m, s = map(int, clock.split(":"))
    offset = (int(zone[1:3]) * 3600 + int(zone[3:5]) * 60) * (1 if zone[0] == "+" else -1)
    return calendar.timegm((year, month, day, h, m, s)) - offset


def toc_bytes(name, kind, mailbox, spans, states):
    """An index as Eudora for Windows writes it: a 104-byte header (version 0x31, name at 8,
    type at 40, mailbox size plus one at 96, count at 102), then 218 bytes per message."""
    header = bytearray(104)
    header[0] = 0x31
    header[8:8 + len(name)] = name.encode()
    struct.pack_into("<H", header, 40, kind)
    struct.pack_into("<I", header, 96, len(mailbox) + 1)
    struct.pack_into("<H", header, 102, len(spans))
    out = bytes(header)
    for number, ((offset, length, sep, hdr), (status, priority)) in enumerate(zip(spans, states), 1):
        record = bytearray(218)
        date = header_value(hdr, "Date")
        sent = date_seconds(date) if date else 0
        clock = sep.split()[5]
        h, m = map(int, clock.split(":")[:2])
        shown = "%d:%02d %s %d/%d/%s" % (h % 12 or 12, m, "PM" if h >= 12 else "AM",
                                        MONTHS.index(sep.split()[3]) + 1, int(sep.split()[4]), sep.split()[6])
        stored = calendar.timegm((int(sep.split()[6]), MONTHS.index(sep.split()[3]) + 1, int(sep.split()[4]),
                                  h, m, int(clock.split(":")[2]))) + 6 * 3600
        has_files = any(line.startswith("Attachment Converted:") for line in mailbox[offset:offset + length]
                        .decode("cp1252").split("\r\n"))
        struct.pack_into("<IIIHHH", record, 0, offset, length, sent, status, 0x8000 if has_files else 0x2000, priority)
        record[18:18 + len(shown)] = shown.encode()
        struct.pack_into("<I", record, 46, stored)
        sender = header_value(hdr, "From").split("<")[0].strip().encode("cp1252")[:63]
        subject = header_value(hdr, "Subject").encode("cp1252")[:63]
        record[50:50 + len(sender)] = sender
        record[114:114 + len(subject)] = subject
        record[178:186] = b"\xff" * 8
        struct.pack_into("<II", record, 188, 0x5A3C0000 + number, number)
        out += bytes(record)
    return out


def write_windows():
    shutil.rmtree(WIN, ignore_errors=True)
    msgs = messages("win")
    inbox, spans = mailbox_bytes(msgs, WIN_LINES, "\r\n", "cp1252")
    write(WIN, "In.mbx", inbox)
    # Read, unread, replied, forwarded, unread; priorities normal, normal, highest, normal, lowest.
    write(WIN, "In.toc", toc_bytes("In", 0, inbox, spans, [(1, 3), (0, 3), (2, 1), (3, 3), (0, 5)]))

    sent = "Sat, 19 Mar 2011 10:12:00 +0000"
    out_msgs = [(separator("Sat", 3, 19, "10:12:31", 2011),
                 ["Date: " + sent, "To: hannah@example.org", "From: Ruth Ellery <ruth@example.net>",
                  "Subject: Re: Minutes and budget", "X-Mailer: QUALCOMM Windows Eudora Version 7.1.0.9"],
                 ["Thanks Hannah, all clear. The printing line looks right.", "", "Ruth"])]
    outbox, out_spans = mailbox_bytes(out_msgs, [[]], "\r\n", "cp1252")
    write(WIN, "Out.mbx", outbox)
    write(WIN, "Out.toc", toc_bytes("Out", 1, outbox, out_spans, [(8, 3)]))
    for name, kind in (("Junk", 2), ("Trash", 3)):
        write(WIN, name + ".mbx", b"")
        write(WIN, name + ".toc", toc_bytes(name, kind, b"", [], []))

    # A user folder with a long-named mailbox: 8.3 names on disk, real names in the maps.
    write(WIN, "descmap.pce", "In,In.mbx,S,Y\r\nOut,Out.mbx,S,N\r\nJunk,Junk.mbx,S,N\r\nTrash,Trash.mbx,S,N\r\n"
                              "Clubs,CLUBS.FOL,F,N\r\n")
    write(WIN, "CLUBS.FOL/descmap.pce", "Harbour bridge, phase 2,HARBOURB.MBX,M,N\r\n")
    sent = "Sun, 20 Mar 2011 16:45:00 +0000"
    club_msgs = [(separator("Sun", 3, 20, "17:02:10", 2011),
                  ["Date: " + sent, "From: Ren\u00e9e Dubois <renee@example.fr>", "To: ruth@example.net",
                   "Subject: Bridge walk: caf\u00e9 at the end", "Status:   "],
                  ["The walk over the new bridge ends at the caf\u00e9 on the quay.",
                   "Tickets are \u20ac4 \u2013 \u201cfamily\u201d tickets \u20ac10.", "", "Ren\u00e9e"]),
                 (separator("Mon", 3, 21, "08:00:00", 2011),
                  ["Date: Mon, 21 Mar 2011 07:58:12 +0000", "From: Hannah Okafor <hannah@example.org>",
                   "To: ruth@example.net", "Subject: Re: Bridge walk", "Status:   "],
                  ["Count me in.", "", "From the quay we could take the ferry back.", "", "Hannah"])]
    clubs, club_spans = mailbox_bytes(club_msgs, [[], []], "\r\n", "cp1252")
    write(WIN, "CLUBS.FOL/HARBOURB.MBX", clubs)
    write(WIN, "CLUBS.FOL/HARBOURB.TOC", toc_bytes("Harbour bridge, phase 2", 4, clubs, club_spans, [(1, 3), (0, 3)]))

    write(WIN, "attach/budget-2011.csv", BUDGET)
    write(WIN, "attach/Meeting minutes", MINUTES)
    write(WIN, "attach/route 3-12.htm", ROUTE_HTML)
    write(WIN, "Embedded/Your check-up reminder from Lak.jpg", REMINDER_JPEG)
    write(WIN, "Embedded/harbour.png", HARBOUR_PNG)

    # Eudora's own files that are not mail.
    write(WIN, "Eudora.ini", "[Settings]\r\nRealName=Ruth Ellery\r\nReturnAddress=ruth@example.net\r\n"
                             "POPAccount=ruth@pop.example.net\r\nSMTPServer=smtp.example.net\r\n\r\n[Labels]\r\n"
                             "LabelCount=7\r\nLabel1=255,128,0,Urgent\r\nLabel2=0,128,255,Club\r\n")
    write(WIN, "eudora.log", "Sat Mar 19 10:12:31 2011\r\nVersion 7.1.0.9\r\nLogLevel 25759 (0x649F)\r\n"
                             "   1:10 Sending 1 message(s)\r\n")
    write(WIN, "Audit.log", "This file records how Eudora was used; it holds no mail.\r\n1 2011-03-14 21:10:03 startup\r\n")
    write(WIN, "Eudora61Stats.xml", '<?xml version="1.0"?>\r\n<EudoraStatistics Version="1">\r\n'
                                    "  <ReceivedMail><Day>6</Day></ReceivedMail>\r\n</EudoraStatistics>\r\n")
    write(WIN, "DoNotDel.tmp", b"")
    write(WIN, "lmos.dat", b"")
    write(WIN, "spool/lmos.dat", b"\x01\x00\x00\x00" + b"\x00" * 60)
    write(WIN, "Sigs/Standard.txt", b"")
    write(WIN, "Plugins/Esp/Esp.log", "Esp plugin started\r\nNo shared folders\r\n")
    write(WIN, "Plugins/Esp/Esp.acq", "hTiW    __ROOTACTION__ \r\n")
    write(WIN, "Search/Search.xml", "<IndexedSearchData>\r\n\t<DataFormatVersion>1</DataFormatVersion>\r\n"
                                    "</IndexedSearchData>\r\n")
    write(WIN, "EudPriv/Ads/CInfo.dat", b"*\0\0\0" + b"\0" * 28 + b"\x10\x0e\0\0")
    write(WIN, "EudPriv/Ads/Eudora.idx", b"")


# ---- Mac: AppleDouble files --------------------------------------------------------

def resource_fork(kind, body):
    """A resource fork holding one resource of type `kind`, id 1001."""
    data = struct.pack(">I", len(body)) + body
    type_list = struct.pack(">H4sHH", 0, kind, 0, 10)  # one type, one resource, its list at 10
    refs = struct.pack(">hhI", 1001, -1, 0) + b"\0" * 4  # no name; data at 0, no attributes
    map_ = b"\0" * 16 + b"\0" * 4 + b"\0" * 2 + struct.pack(">HHH", 0, 28, 28 + len(type_list) + len(refs))
    map_ += type_list + refs
    head = struct.pack(">IIII", 256, 256 + len(data), len(data), len(map_))
    return head + b"\0" * (256 - 16) + data + map_


def apple_double(file_type, creator, fork=b""):
    """The "._NAME" file a Mac file leaves on a non-Mac disk: Finder info (type and creator),
    and the resource fork when the file has one."""
    entries = 2 if fork else 1
    header = struct.pack(">II16sH", 0x00051607, 0x00020000, b"Mac OS X        ", entries)
    info_at = 26 + 12 * entries
    header += struct.pack(">III", 9, info_at, 32)
    if fork:
        header += struct.pack(">III", 2, info_at + 32, len(fork))
    info = file_type + creator + b"\0" * 24
    return header + info + fork


def write_mac():
    shutil.rmtree(MAC, ignore_errors=True)
    msgs = messages("mac")
    inbox, spans = mailbox_bytes(msgs, MAC_LINES, "\r", "mac_roman")
    # The UTF-8 block of the third message: its bytes are UTF-8 inside a Mac Roman mailbox.
    utf8_line = "Bitte bringen Sie Ihre Versicherungskarte mit. Gr\u00fc\u00dfe, Dr. Nowak"
    inbox = inbox.replace(utf8_line.encode("mac_roman"), utf8_line.encode("utf-8"))
    write(MAC, "Mail Folder/In", inbox)
    # The index of a Mac mailbox is a TOCF resource; its layout is not read, so it holds
    # only the count and each message's offset and length.
    toc = struct.pack(">H", len(spans)) + b"".join(struct.pack(">II", o, n) for o, n, _, _ in spans)
    write(MAC, "Mail Folder/._In", apple_double(b"TEXT", b"CSOm", resource_fork(b"TOCF", toc)))
    for name in ("Out", "Junk", "Trash"):
        write(MAC, "Mail Folder/" + name, b"")
        write(MAC, "Mail Folder/._" + name, apple_double(b"TEXT", b"CSOm", resource_fork(b"TOCF", b"\0\0")))

    choir = [(separator("Wed", 3, 23, "19:30:05", 2011),
              ["Date: Wed, 23 Mar 2011 19:28:44 +0000", "From: Ruth Ellery <ruth@example.net>",
               "To: choir@example.org", "Subject: Rehearsal moved", "Status:   "],
              ["Thursday\u2019s rehearsal is in the small hall \u2014 same time.", "", "Ruth"])]
    choir_box, _ = mailbox_bytes(choir, [[]], "\r", "mac_roman")
    write(MAC, "Mail Folder/Choir", choir_box)
    write(MAC, "Mail Folder/._Choir", apple_double(b"TEXT", b"CSOm", resource_fork(b"TOCF", b"\0\1")))

    for name, data, kind, creator in (("budget-2011.csv", BUDGET.replace("\r\n", "\r"), b"TEXT", b"XCEL"),
                                      ("Untitled", UNTITLED, None, None),
                                      ("route 3:12", ROUTE_HTML, b"TEXT", b"MOSS")):
        write(MAC, "Attachments Folder/" + name, data)
        if kind:
            write(MAC, "Attachments Folder/._" + name, apple_double(kind, creator))
    write(MAC, "Parts Folder/Untitled", REMINDER_JPEG)
    write(MAC, "Parts Folder/._Untitled", apple_double(b"JPEG", b"prvw"))
    write(MAC, "Parts Folder/harbour.png", HARBOUR_PNG)
    write(MAC, "Parts Folder/._harbour.png", apple_double(b"PNGf", b"prvw"))

    # Eudora's own files that are not mail; the empty ones are empty in Eudora's folder too
    # (their contents live in the resource forks).
    for name in ("Eudora Settings", "Eudora Settings.bkup", "Eudora Nicknames", "Personal Nicknames",
                 "History List", "Link History"):
        write(MAC, name, b"")
        write(MAC, "._" + name, apple_double(b"PREF" if "Settings" in name else b"TEXT", b"CSOm",
                                             resource_fork(b"STR#", b"\0\1\5Eudora")))
    write(MAC, "Eudora Log", "Tue Mar 22 09:14:02 2011\rMAIN 8:0.0.0 Checking mail\rMAIN 8:0.0.0 5 messages\r")
    write(MAC, "._Eudora Log", apple_double(b"TEXT", b"CSOm"))
    write(MAC, "Eudora Statistics.xml", '<?xml version="1.0"?>\r<EudoraStatistics Version="1"></EudoraStatistics>\r')
    write(MAC, "UsageStats", "This file describes how Eudora was used; it holds no mail.\r")
    write(MAC, "Eudora Items/Plugins/Esp/Esp.acq", "hTiW    __ROOTACTION__ \r")
    write(MAC, "Eudora Items/Plugins/Esp/Esp.log", "Esp plugin started\r")
    write(MAC, "Eudora Items/Plugins/Esp/._Esp.log", apple_double(b"TEXT", b"ttxt"))
    for name in ("Signature", "Alternate"):
        write(MAC, "Signature Folder/" + name, b"")
        write(MAC, "Signature Folder/._" + name, apple_double(b"TEXT", b"CSOm"))
    for name in ("In.temp", "Out.temp"):
        write(MAC, "Spool Folder/" + name, b"")
        write(MAC, "Spool Folder/._" + name, apple_double(b"TEXT", b"CSOm", resource_fork(b"TOCF", b"\0\0")))


def differences(left, right):
    """Files present on one side only, or with other bytes, below two folders."""
    compare = filecmp.dircmp(left, right, ignore=[])
    found = [os.path.join(left, n) for n in compare.left_only + compare.right_only + compare.funny_files]
    found += [os.path.join(left, n) for n in compare.common_files if not filecmp.cmp(
        os.path.join(left, n), os.path.join(right, n), shallow=False)]
    for sub in compare.common_dirs:
        found += differences(os.path.join(left, sub), os.path.join(right, sub))
    return found


def main():
    global WIN, MAC
    if sys.argv[1:] == ["--check"]:
        with tempfile.TemporaryDirectory() as scratch:
            WIN, MAC = os.path.join(scratch, os.path.basename(WIN)), os.path.join(scratch, os.path.basename(MAC))
            write_windows()
            write_mac()
            found = []
            for name in (WIN, MAC):
                committed = os.path.join(HERE, os.path.basename(name))
                if not os.path.isdir(committed):
                    found.append(committed + " (missing)")
                    continue
                found += differences(committed, name)
        for path in found:
            print("differs from what make_folders.py writes:", path)
        return 1 if found else 0
    write_windows()
    write_mac()
    return 0


if __name__ == "__main__":
    sys.exit(main())
