#!/usr/bin/env python3
"""Checks bench/gen_corpus.py, which the benchmark and the readers' checks convert: the
same seed gives the same bytes and another seed other bytes; the count it prints is the
number of "From " lines, each one a separator line; and each profile has the line ends
and text encoding it promises.

usage: check_gen_corpus.py GEN_CORPUS_PY"""
import os
import re
import subprocess
import sys
import tempfile

SEPARATOR = re.compile(rb"^From \?\?\?@\?\?\? (Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}$")


def generate(script, folder, profile, seed, size="0.25"):
    path = os.path.join(folder, "%s-%d.mbx" % (profile, seed))
    run = subprocess.run([sys.executable, script, "--size-mb", size, "--profile", profile, "--seed", str(seed), path],
                         capture_output=True, check=True, text=True)
    with open(path, "rb") as f:
        return f.read(), run.stdout


def main():
    script = sys.argv[1]
    failures = []

    def check(condition, text):
        if not condition:
            failures.append(text)

    everything = b""
    with tempfile.TemporaryDirectory() as folder:
        for profile in ("mac", "win", "ja", "mixed"):
            data, printed = generate(script, folder, profile, 3)
            again, _ = generate(script, folder, profile, 3)
            other, _ = generate(script, folder, profile, 4)
            check(data == again, f"{profile}: seed 3 twice gave different bytes")
            check(data != other, f"{profile}: seeds 3 and 4 gave the same bytes")
            check(len(data) >= 0.25 * 1048576, f"{profile}: {len(data)} bytes, fewer than asked")

            lines = re.split(rb"\r\n|\r|\n", data)
            starts = [line for line in lines if line.startswith(b"From ")]
            count = int(re.search(r"messages: (\d+)", printed).group(1))
            check(count == len(starts) and count > 20, f"{profile}: printed {count}, {len(starts)} \"From \" lines")
            check(all(SEPARATOR.match(line) for line in starts), f"{profile}: a \"From \" line is no separator")
            check(data.startswith(b"From ???@???"), f"{profile}: does not start with a separator")

            lf_alone = len(re.findall(rb"(?<!\r)\n", data))
            cr_alone = len(re.findall(rb"\r(?!\n)", data))
            crlf = data.count(b"\r\n")
            endings = {"mac": lf_alone == 0 and crlf == 0 and cr_alone > 0,
                       "win": lf_alone == 0 and cr_alone == 0 and crlf > 0,
                       "ja": lf_alone == 0 and cr_alone == 0 and crlf > 0,
                       "mixed": min(lf_alone, cr_alone, crlf) > 100}[profile]
            check(endings, f"{profile}: line ends CR {cr_alone}, LF {lf_alone}, CR LF {crlf}")

            if profile == "ja":
                check(re.search(rb"[A-Za-z:]\xa0", data) is not None, "ja: no stray 0xA0 after ASCII")
                check("\uff83\uff9d".encode("shift_jis") in data, "ja: no half-width katakana")
                check("会議".encode("shift_jis") in data, "ja: no Shift_JIS text")
                check(b"=?ISO-2022-JP?B?" in data, "ja: no encoded words")
            else:
                codec = "cp1252" if profile == "win" else "mac_roman"
                only = "\u20ac".encode("cp1252") if profile == "win" else "\u2260".encode("mac_roman")
                check(only in data, f"{profile}: no character that only {codec} has")
            for marker in (b"<x-flowed>", b"<x-html>", b"<x-charset "):
                check(marker in data, f"{profile}: no {marker.decode()}")
            everything += data
    for marker in (b"Attachment Converted: ", b"<!x-stuff-for-pete ", b"Content-Transfer-Encoding: base64"):
        check(marker in everything, f"no {marker.decode()} in any profile")

    for failure in failures:
        print("FAIL:", failure)
    print("gen_corpus.py: %d problems" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
