#!/usr/bin/env python3
"""Mutation run: how many realistic one-spot faults does the test suite catch?

Each mutant replaces one exact piece of one source line. The working tree is copied
into a scratch folder (only files that changed since the last run are copied, so the
build there stays incremental), every mutant in turn is applied there, built, run
against the ctest suite (the mutated folder's label first, then everything, stopping at
the first failure) and reverted. At the end: the score (killed / (killed + survived))
and the survivors. A mutant whose text no longer occurs exactly once is "stale" and not
counted; one that does not build is "unbuildable" and not counted either.

CI runs only --check (scripts/test.sh), so that every mutant keeps applying to the
sources it was written against; a full run takes a long while (one incremental build
and one test run per mutant). Keep the list growing with every class of fault met.

    scripts/mutate.py                 # every mutant
    scripts/mutate.py --check         # only report stale mutants
    scripts/mutate.py --only 3,7      # some of them (numbers as listed by --list)
    scripts/mutate.py --list
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


@dataclass(frozen=True)
class Mutant:
    path: str  # relative to the tree
    old: str   # must occur exactly once in the file
    new: str
    what: str  # what a user would get

    def folder(self) -> str:
        return self.path.split("/", 1)[0]


M = Mutant
MUTANTS = [
    # --- Faults a past measurement found unguarded -------------------------------------
    M("engine/mailbox/SeparatorDate.cpp", "if (date.day >= 10)", "if (date.day > 10)",
      "day 10 printed as '0'"),
    M("engine/mailbox/SeparatorDate.cpp", "&& date.hour <= 23", "&& date.hour < 23",
      "separator dates at 23:xx give no Date header"),
    M("engine/mailbox/SeparatorDate.cpp", "const int y = year - (month <= 2 ? 1 : 0);",
      "const int y = year - (month < 2 ? 1 : 0);", "wrong weekday in February with an offset"),
    M('engine/mailbox/StreamPass.cpp',
      "return length >= 5 && contents[0] == 'F'",
      "return length >= 5 && (contents[0] | 0x20) == 'f'",
      "a body line 'from ...' starts a message"),
    M('engine/output/OutputBatch.cpp',
      '        releaseInputBefore(consumed);\n        return written;',
      '        releaseInputBefore(consumed);\n        return written || true;',
      'a failed intermediate batch write is ignored'),
    M("platform/OutputFile.cpp", "    if (result != 0 && errno != EINTR) {", "    if (false && result != 0 && errno != EINTR) {",
      "a failing close() is ignored"),
    M("platform/OutputFile.cpp", "            next->iov_base = static_cast<char*>(next->iov_base) + left;\n",
      "", "a short write is retried without advancing"),
    M("engine/message/MessagePieces.h", "t == pos_ || bytes_.at(t - 1) == '\\r' || bytes_.at(t - 1) == '\\n'",
      "t == pos_ || bytes_.at(t - 1) == '\\n'", "a tag after a CR (Mac line ends) is left as text"),
    M('engine/message/ConversionSteps.cpp',
      'return bits <= 0xFF;',
      'return bits < 0xFF;',
      'text with U+00FF leaves ISO Latin 1'),
    M("engine/message/TagScanner.h", "|| !bytes_.matches(offset + 1, name))", "|| !bytes_.matches(offset + 1, name.substr(0, name.size() - 1)))",
      "an opening tag's last letter not checked"),
    M("engine/message/TagScanner.h", "remaining < nameLength + 2 ||", "remaining < nameLength + 1 ||",
      "reads one byte past the buffer"),
    M("platform/encodings/EncodingUtf8.cpp", "} else if (c < 0x800) {", "} else if (c <= 0x800) {",
      "U+0800 encoded as invalid UTF-8"),
    # --- engine/ -------------------------------------------------------------------------
    M("engine/mailbox/SeparatorDate.cpp", "return date.day >= 1 && date.day <= daysInMonth", "return date.day >= 1 && date.day < daysInMonth",
      "the last day of every month gives no date"),
    M("engine/mailbox/SeparatorDate.cpp", "return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;",
      "return year % 4 == 0;", "29 February 1900/2100 accepted"),
    M("engine/mailbox/SeparatorDate.cpp", "&& date.minute <= 59", "&& date.minute <= 60", "minute 60 accepted"),
    M("engine/mailbox/SeparatorDate.cpp", "|| !readNumber(text.substr(3, 2), 2, 2, minutes) || hours > 23",
      "|| !readNumber(text.substr(3, 2), 2, 2, minutes) || hours > 24", "offset +2400 accepted"),
    M("engine/mailbox/SeparatorDate.cpp", "    out += offset < 0 ? '-' : '+';", "    out += offset <= 0 ? '-' : '+';",
      "local time at UTC printed as -0000"),
    M("engine/mailbox/SeparatorDate.cpp", "if (count - next != 3 || words[next] != \"remote\"",
      "if (count - next != 2 || words[next] != \"remote\"", "'remote from HOST' refused"),
    M('engine/mailbox/StreamPass.cpp',
      'if (options_.crlfLineEndings)\n        setTerminator("\\r\\n");',
      'if (options_.crlfLineEndings)\n        setTerminator("\\n");',
      'CR LF asked, LF written'),
    M('engine/mailbox/StreamPass.cpp',
      "line.end = (b[t] == '\\r' && t + 1 < n && b[t + 1] == '\\n') ? t + 2 : t + 1;",
      "line.end = (b[t] == '\\r' && t + 1 < n) ? t + 2 : t + 1;",
      'CR followed by any byte taken as one terminator'),
    M('engine/mailbox/StreamPass.cpp',
      '        if (!dateSatisfied_)\n            appendDateLine();',
      '        if (dateSatisfied_)\n            appendDateLine();',
      'Date line added where one exists'),
    M('engine/mailbox/FinishMessage.cpp',
      '    if (options_.addEmptyLines)\n        appendBytes(terminator_);',
      '    if (!options_.addEmptyLines)\n        appendBytes(terminator_);',
      'empty lines between messages flipped'),
    M('engine/mailbox/StreamPass.cpp',
      'return nextRecord_ < index.size() && index[nextRecord_].offset < start;',
      'return nextRecord_ < index.size() && index[nextRecord_].offset <= start;',
      "every indexed message's own separator taken as body"),
    M('engine/mailbox/StreamPass.cpp',
      "return length >= 5 && (contents[0] | 0x20) == 'd'",
      "return length >= 5 && contents[0] == 'D'",
      "'date:' in lower case not seen: a second Date header"),
    M('engine/mailbox/StreamPass.cpp',
      '        if (fromLine && start != separator_.location)\n            appendBytes(">");',
      '',
      "'From ' inside an indexed message not quoted"),
    M('engine/text/Ascii.h',
      'return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);',
      'return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte < 0xFC);',
      'A0 after FC replaced in Shift_JIS'),
    M('engine/message/ConversionSteps.cpp',
      '        return bits <= 0x7F;',
      '        return bits < 0x7F;',
      'text with DEL leaves us-ascii'),
    M("engine/message/MessagePieces.h", "PieceKind::Text, end - runStart_ > loneBrackets_,", "PieceKind::Text, end - runStart_ >= loneBrackets_,",
      "a body of lone '<' gets a Content-Type"),
    M("engine/message/MessagePieces.h", "if (remaining > kTrailerLength", "if (remaining >= kTrailerLength",
      "a bare trailer marker taken as HTML"),
    M('engine/message/ConversionSteps.cpp',
      "} else if (text[line.start] == u' ' || text[line.start] == u'\\t') {",
      "} else if (text[line.start] == u' ') {",
      'tab-continued Content-Type header half replaced in a text held whole'),
    M('engine/message/ConversionSteps.cpp',
      'insertion.terminator\n                = crlfTerminators || line.end == line.contentsEnd',
      'insertion.terminator\n                = line.end == line.contentsEnd',
      'inserted header keeps LF where CR LF was asked, in a text held whole'),
    M('engine/message/MessageSource.cpp',
      "            if (end - p >= needle.size() && matches(p, needle))",
      "            if (false && matches(p, needle))",
      'a tag cut by a block boundary of a spooled message is not found'),
    M('engine/message/DecodedText.cpp',
      "        else if (other < others_.size() && others_[other].piece == index)",
      "        else if (false)",
      "a spooled message's block in its own charset decoded in the message's on later passes"),
    M('engine/message/TextStages.h',
      "        } else if (isBlank(head_[0])) {",
      "        } else if (head_[0] == u' ') {",
      'tab-continued Content-Type header half replaced'),
    M('engine/message/TextStages.h',
      'change_->terminator = crlfTerminators_ || terminator.empty()',
      'change_->terminator = terminator.empty()',
      'inserted header keeps LF where CR LF was asked'),
    M("engine/message/TagScanner.h", "        needle += '>';\n", "", "'</x-htmlx' closes a block"),
    M("engine/message/TagScanner.h", "        if (offset >= bytes_.size())\n            return std::nullopt;", "        if (offset > bytes_.size())\n            return std::nullopt;",
      "reads one byte past the message at its end"),
    M("engine/message/TagScanner.h", "} else if (afterName == ' ') {", "} else if (afterName == ' ' || afterName == '\\t') {",
      "tab taken as parameter separator"),
    M("engine/message/TagScanner.cpp", "    if (encoding == kPlatformEncodingInvalid)\n        return kEncodingNone;\n", "",
      "an unknown tag charset carried as an encoding"),
    M("engine/message/MessageDecoder.cpp", "if (tagPath && options.convertRichText && mayHoldRichText(", "if (false && mayHoldRichText(",
      "styled text left to the byte-to-byte path, which keeps its tags"),
    M("engine/message/RichText.cpp", "if (enriched && offset_ < contentEnd_)", "if (enriched && offset_ < lastClosing_)",
      "the line breaks after the last styled block not doubled"),
    M("engine/message/RichText.cpp", "        while (open_.size() > k + 1)", "        while (open_.size() > k + 2)",
      "commands opened inside a closed one left open"),
    M("engine/message/RichText.cpp", "if ((atFrom_ || inRun_) && lastClosing_", "if (inRun_ && lastClosing_",
      "a block right after another, or at the body's start, not taken"),
    M("engine/message/RichText.cpp", "return text.substr(1).starts_with(kClosing) ? 1 : 2;", "return 2;",
      "a '<' right before a block's closing tag takes the tag with it"),
    M("engine/message/RichText.cpp", "if (!sameTerminator && breaks_++ > 0)", "if (breaks_++ > 0)",
      "CR LF taken for two line breaks in an HTML body"),
    M("engine/message/DecodedText.cpp", "        richSpooled_ = rich && !holding_;", "        richSpooled_ = false;",
      "a spooled body's styled text left raw"),
    M("engine/message/DecodedText.cpp", "                richLayout_ = layoutBefore;", "                (void)layoutBefore;",
      "a piece decoded again counted twice in a spooled body's styled-text layout"),
    M("engine/attachments/AttachmentLine.cpp", "return !text.empty() && text.size() <= 16 && std::all_of",
      "return text.size() <= 16 && std::all_of", "empty hex number accepted"),
    M("engine/attachments/AttachmentLine.cpp", "while (!text.empty() && (text.back() == ' ' || text.back() == '\\t'))",
      "while (!text.empty() && text.back() == ' ')", "tab after an attachment name kept in the name"),
    # --- platform/ -----------------------------------------------------------------------
    M("platform/OutputFile.cpp", "            if (errno == EINTR)\n                continue;\n            error = errno;\n            return false;",
      "            if (errno == EINTR)\n                continue;\n            error = errno;\n            return true;",
      "a failing write reported as success"),
    M("platform/OutputFile.cpp", "        if (result == 0) { // no progress on a non-empty write: never loop on it\n            error = EIO;\n            return false;",
      "        if (result == 0) { // no progress on a non-empty write: never loop on it\n            error = EIO;\n            return true;",
      "a write that makes no progress taken as done"),
    M("platform/OutputFile.cpp", "while (count > 0 && left >= next->iov_len) {", "while (count > 0 && left > next->iov_len) {",
      "a write ending exactly at a piece's end repeats it"),
    M("platform/OutputFile.cpp", "        if (pieces[i].empty())\n            continue;\n        if (used == kMaxPieces) {",
      "        if (pieces[i].empty())\n            continue;\n        if (used == kMaxPieces + 1) {", "more pieces than the vector holds"),
    M('platform/OutputFile.cpp',
      '    if (outputCalls().renameAt(folderDescriptor(), temporaryPath_.c_str(), folderDescriptor(), finalPath_.c_str()) != 0) {',
      '    if (outputCalls().renameAt(folderDescriptor(), temporaryPath_.c_str(), folderDescriptor(), finalPath_.c_str()) != 0 && false) {',
      'a failed rename reported as done'),
    M("platform/OutputFile.cpp", "    if (result != 0 && errno != EINVAL) {", "    if (false && result != 0 && errno != EINVAL) {",
      "a failing fsync is ignored"),
    M("platform/encodings/EncodingUtf8.cpp", "} else if (c < 0xD800 || c > 0xDFFF) {", "} else if (c < 0xD7FF || c > 0xDFFF) {",
      "U+D7FF taken as a surrogate"),
    M("platform/encodings/EncodingUtf8.cpp", "src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) {",
      "src[i + 1] >= 0xDC00 && src[i + 1] < 0xDFFF) {", "U+10FFFF refused"),
    M("platform/encodings/EncodingUtf8.cpp", "    for (; i < length && static_cast<unsigned char>(bytes[i]) < 0x80; ++i)",
      "    for (; i < length && static_cast<unsigned char>(bytes[i]) <= 0x80; ++i)", "byte 0x80 copied as U+0080"),
    M("platform/ContainedFile.cpp", "return !component.empty() && component != \".\" && component != \"..\" && component.find('/')",
      "return !component.empty() && component != \".\" && component.find('/')", "an attachment name '..' leaves its folder"),
    M("engine/mailbox/LineScanner.h", "if (q >= 1 && q < n && b[q - 1] == '\\r' && b[q] == '\\n')",
      "if (q >= 1 && q < n && b[q - 1] == '\\r')", "a range starting after a lone CR moved back a line"),
    M("engine/output/StatusHeaders.cpp", "appendLine(out, facts.read ? \"Status: RO\" : \"Status: O\", terminator);",
      "appendLine(out, facts.read ? \"Status: O\" : \"Status: RO\", terminator);", "read and unread swapped"),
    M("engine/output/StatusHeaders.cpp", "if (!present.xPriority && facts.priority <= 5 &&", "if (!present.xPriority && facts.priority < 5 &&",
      "lowest priority dropped"),
    # --- batch/ --------------------------------------------------------------------------
    M("batch/TocIndex.cpp", "if ((bytes.size() - kHeaderSize) % kEntrySize != 0 || records % 65536 != stored)", "if (records % 65536 != stored)",
      "a .toc with trailing bytes accepted"),
    M("batch/TocIndex.cpp", "return at == 0 || mailbox[at - 1] == '\\n' || mailbox[at - 1] == '\\r';",
      "return at == 0 || mailbox[at - 1] == '\\n';", "Mac mailbox offsets refused"),
    M("batch/TocIndex.cpp", "facts.read = status >= 1 && status <= 9;", "facts.read = status >= 1 && status < 9;",
      "status 9 messages unread"),
    M("batch/TocIndex.cpp", "facts.replied = status == 2;", "facts.replied = status == 3;",
      "forwarded taken as replied"),
    M("batch/TocIndex.cpp", "| static_cast<unsigned char>(bytes[at + 1]) << 8);", "| static_cast<unsigned char>(bytes[at + 1]));",
      "16-bit fields read as their low byte"),
    M('batch/TocIndex.cpp',
      'if (std::uint64_t{before.offset} + before.length > entries[order[k]].offset)',
      'if (std::uint64_t{before.offset} + before.length > entries[order[k]].offset + 1)',
      'overlapping index entries by one byte accepted'),
    M("batch/TocIndex.cpp", "        if (end > mailboxSize)\n", "        if (end > mailboxSize + 1)\n",
      "an index entry one byte past the mailbox accepted"),
    M("batch/TocIndex.cpp", "        if (!lineStartAt(mailbox, end))", "        if (!lineStartAt(mailbox, end - 1))",
      "message end checked one byte early"),
    M("batch/TocIndex.cpp", "if ((extension[0] == '.') && (extension[1] | 0x20) == 'm'",
      "if ((extension[1] | 0x20) == 'm'", "'Inbox_mbx' given an index"),
    M("batch/DescMap.cpp", "if (flag != \"Y\" && flag != \"N\")", "if (flag != \"Y\")",
      "descmap entries flagged N dropped"),
    M("batch/DescMap.cpp", "if (name.empty() || name == \".\" || name == \"..\")", "if (name.empty() || name == \".\")",
      "a descmap file name '..' accepted"),
    M("batch/DescMap.cpp", "(type[0] != 'S' && type[0] != 'M' && type[0] != 'F')", "(type[0] != 'S' && type[0] != 'M')",
      "descmap folder entries dropped"),
    M("batch/DescMap.cpp", "comma = end == 0 ? std::string_view::npos : line.rfind(',', end - 1);",
      "comma = end == 0 ? std::string_view::npos : line.rfind(',', end);", "descmap fields split at the same comma"),
    M("batch/RealName.cpp", "        return c < 0x20 || c == 0x7F;", "        return c < 0x20;", "DEL kept in a file name"),
    M("batch/RealName.cpp", "    if (safe[0] == '.')\n        safe[0] = '-';", "", "a real name '.x' makes a hidden file"),
    M("batch/RealName.cpp", "(value >= 0xD800 && value <= 0xDFFF)", "(value > 0xD800 && value <= 0xDFFF)",
      "an encoded U+D800 taken as valid UTF-8"),
    M("batch/RealName.cpp", "if (realName.size() >= extension.size() && realName.compare(",
      "if (realName.size() > extension.size() && realName.compare(", "extension added twice to a name equal to it"),
    M("batch/OutputNaming.cpp", "if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())",
      "if (dot == std::string::npos || dot + 1 == name.size())", "'.hidden' numbered as '_2.hidden'"),
    M("batch/OutputNaming.cpp", "    std::int64_t counter = 2; // the number of the name after `candidate`",
      "    std::int64_t counter = 1; // the number of the name after `candidate`", "second output named '_1'"),
    M("batch/BatchJob.cpp", "        removeFile(outputPath, claim);\n", "", "a failed or empty file's claim left behind"),
    M("batch/BatchJob.cpp", "        if (plan.mailboxPlace)\n            return false;\n        if (fileSize(inputPath).value_or(0) == 0)\n            return true;",
      "        if (fileSize(inputPath).value_or(0) == 0)\n            return true;", "empty mailboxes counted as Eudora's own files"),
    M("batch/BatchJob.cpp", "else if (created.error == EEXIST)\n                fail(translate(\"\\\"%1\\\" already exists\"",
      "else if (created.error != EEXIST)\n                fail(translate(\"\\\"%1\\\" already exists\"", "wrong error for an existing destination"),
    M("batch/EudoraTree.cpp", "return name.size() > suffix.size() && equalsIgnoringCase(", "return name.size() >= suffix.size() && equalsIgnoringCase(",
      "a file named '.toc' taken as an index"),
    # --- cli/ ----------------------------------------------------------------------------
    M('cli/CommandLine.cpp',
      'if (!line.intoThunderbird && !line.help && !line.version && !line.listEncodings && line.operands.size() != 2)',
      'if (!line.intoThunderbird && !line.help && !line.version && !line.listEncodings && line.operands.size() < 2)',
      'extra operands ignored'),
    M("cli/CommandLine.cpp", "const bool on = (code - kFirstSwitch) % 2 == 0;", "const bool on = (code - kFirstSwitch) % 2 != 0;",
      "--x and --no-x swapped"),
    M("cli/CommandLine.cpp", "        if (*number > 0xFFFFFFFFu)\n            return std::nullopt;", "",
      "a 64-bit encoding number truncated to a valid one"),
    M("cli/CommandLine.cpp", "        if (value > (UINT64_MAX - digit) / 10)\n            return std::nullopt;", "",
      "an overflowing encoding number wraps"),
    M('cli/CommandLine.cpp',
      '        if (*value == \'\\0\')\n            return "option \'--attachments-folder\' needs a folder";',
      '        if (false)\n            return "option \'--attachments-folder\' needs a folder";',
      'an empty attachments folder accepted'),
    M("cli/main.cpp", "constexpr int kExitCanceled = 130;", "constexpr int kExitCanceled = 1;", "canceled run exits as an error"),
    # --- header encoding rules: field kinds, Q words, B or Q -----------------------------
    M('engine/header/HeaderEncoder.cpp',
      '"from",\n                                                          "sender",\n                                                          "reply-to",\n                                                          "to",',
      '"from",\n                                                          "sender",\n                                                          "to",',
      'Reply-To taken for unstructured text: its address encoded away'),
    M('engine/header/HeaderEncoder.cpp',
      '"errors-to",\n                                                          "mail-followup-to",\n                                                          "mail-reply-to",',
      '"errors-to",\n                                                          "mail-reply-to",',
      'Mail-Followup-To taken for unstructured text'),
    M('engine/header/HeaderEncoder.cpp',
      '"bcc",\n                                                          "resent-from",\n                                                          "resent-sender",',
      '"bcc",\n                                                          "resent-sender",',
      'Resent-From taken for unstructured text'),
    M('engine/header/HeaderEncoder.cpp',
      '"resent-cc",\n                                                          "resent-bcc",\n                                                          "return-path",',
      '"resent-cc",\n                                                          "resent-bcc",',
      'Return-Path taken for unstructured text'),
    M('engine/header/EncodedWords.cpp',
      "    if (c >= u'A' && c <= u'Z')",
      "    if (c > u'A' && c <= u'Z')",
      'a field name with a capital A not recognised'),
    M('engine/text/Ascii.h',
      '    return a.size() == lower.size()\n        && std::equal(a.begin(), a.end(), lower.begin(), [](char16_t x, char y)',
      '    return a.size() >= lower.size()\n        && std::equal(lower.begin(), lower.end(), a.begin(), [](char16_t x, char y)',
      "'Tos' or 'Fromage' taken for an address field (names matched as prefixes)"),
    M('engine/header/EncodedWords.cpp',
      "|| c == '+' || c == '-'\n        || c == '/';",
      "|| c == '+' || c == '-'\n        || c == '/' || c == '_';",
      'an underscore left bare in a Q word (reads back as a space)'),
    M('engine/header/EncodedWords.cpp',
      "|| c == '+' || c == '-'\n        || c == '/';",
      "|| c == '+' || c == '-'\n        || c == '/' || c == '=';",
      "'=' left bare in a Q word"),
    M('engine/header/EncodedWords.cpp',
      "|| c == '+' || c == '-'\n        || c == '/';",
      "|| c == '+' || c == '-'\n        || c == '/' || c == '.' || c == ',';",
      "'.' and ',' left bare in a Q word inside a phrase"),
    M('engine/header/EncodedWords.cpp',
      "|| c == '+' || c == '-'\n        || c == '/';",
      "|| c == '+' || c == '-'\n        || c == '/' || c == '(' || c == ')';",
      'parentheses left bare in a Q word inside a comment'),
    M("engine/header/EncodedWords.cpp", "length += isQSafe(static_cast<unsigned char>(c)) || c == ' ' ? 1 : 3;",
      "length += isQSafe(static_cast<unsigned char>(c)) ? 1 : 3;", "a space counted as an escape: B chosen where Q is shorter"),
    M("engine/header/EncodedWords.cpp", "return encoding == kEncodingISO2022JP || encoding == kEncodingISO2022KR",
      "return encoding == kEncodingISO2022KR", "ISO-2022-JP written in Q words holding escape sequences"),
    M("engine/header/EncodedWords.cpp", "    return bLength(bytes.size()) < qLength(bytes);", "    return bLength(bytes.size()) <= qLength(bytes);",
      "B chosen where B and Q are as long"),
    M("engine/header/EncodedWords.cpp", "std::size_t bLength(std::size_t byteCount) { return 4 * ((byteCount + 2) / 3); }",
      "std::size_t bLength(std::size_t byteCount) { return 4 * ((byteCount + 1) / 3); }", "B length one quantum short: words past 75"),
    M('engine/header/EncodedWords.cpp',
      'return bLength(bytes.size()) < qLength(bytes);',
      'return bLength(bytes.size()) <= qLength(bytes);',
      'a long field chooses B where B and Q are as long'),
    M("engine/header/EncodedWords.cpp", "constexpr std::size_t kMaxWordLength = 75;", "constexpr std::size_t kMaxWordLength = 76;",
      "encoded-words of 76 characters"),
    # --- RFC 2231 file names ---------------------------------------------------------------
    M("engine/attachments/MimeWriter.cpp", "        if (end < encoded.size() && encoded[end - 1] == '%')\n            end -= 1;",
      "        if (false)\n            end -= 1;", "a filename*N* piece cut right after a '%'"),
    M("engine/attachments/MimeWriter.cpp", "encoded[end - 2] == '%')\n            end -= 2;", "encoded[end - 2] == '%')\n            end -= 1;",
      "a filename*N* piece cut after a '%' and its first digit"),
    M("engine/attachments/MimeWriter.cpp", "std::strchr(\"*'%()<>@,;:\\\\\\\"/[]?=\", c)", "std::strchr(\"*'()<>@,;:\\\\\\\"/[]?=\", c)",
      "'%' left bare in an RFC 2231 value"),
    M("engine/attachments/MimeWriter.cpp", "        if (index == 0)\n            header.append(\"UTF-8''\");", "        header.append(\"UTF-8''\");",
      "the charset repeated on every filename*N* piece"),
    # --- .toc past 2^16, 2^24 and 4 GiB -------------------------------------------------------
    M("batch/TocIndex.cpp", "static_cast<std::uint32_t>(readU16(bytes, at + 2)) << 16;", "static_cast<std::uint32_t>(readU16(bytes, at + 2)) << 8;",
      "offsets past 64 KiB read wrong (high half shifted by 8)"),
    M("batch/TocIndex.cpp", "static_cast<std::uint32_t>(readU16(bytes, at + 2)) << 16;", "static_cast<std::uint32_t>(readU16(bytes, at + 1)) << 16;",
      "32-bit fields' high half read one byte early"),
    M('batch/TocIndex.cpp',
      'const std::uint64_t end = std::uint64_t{entries[i].offset} + entries[i].length;\n        if (!separatorAt',
      'const std::uint64_t end = entries[i].offset + entries[i].length;\n        if (!separatorAt',
      "a record's end past 4 GiB wraps"),
    M('batch/TocIndex.cpp',
      'const std::uint64_t end = std::uint64_t{entries[i].offset} + entries[i].length; // 64-bit: no wrap',
      'const std::uint64_t end = entries[i].offset + entries[i].length; // 64-bit: no wrap',
      'a record ending past 4 GiB taken to end inside the mailbox'),
    M("batch/TocIndex.cpp", "const std::size_t stored = readU16(bytes, kCountOffset);", "const std::size_t stored = static_cast<unsigned char>(bytes[kCountOffset]);",
      "an index of 256 records or more refused"),
    # --- lived-in indexes ----------------------------------------------------------------------
    M("batch/TocIndex.cpp", "records % 65536 != stored)", "records != stored)", "an index of 65,536 records or more refused"),
    M("batch/TocIndex.cpp", "    std::sort(order.begin(), order.end(), [&entries]", "    std::sort(order.begin(), order.begin(), [&entries]",
      "records out of file order taken for overlapping ones"),
    M("batch/TocIndex.cpp", "return before == '\\n' || (before == '\\r' && (at == mailbox.size() || mailbox[at] != '\\n'));",
      "return before == '\\n' || before == '\\r';", "a record ending between CR and LF accepted"),
    M("batch/TocIndex.cpp", "if (length < sizeof line && hasSeparatorDate(std::string_view(line, length)))",
      "if (false && length < sizeof line && hasSeparatorDate(std::string_view(line, length)))",
      "a record holding another message's separator line accepted"),
    M("batch/TocIndex.cpp", "for (std::size_t at = static_cast<std::size_t>(from) + 1;", "for (std::size_t at = static_cast<std::size_t>(from);",
      "a record's own separator line taken for another message's"),
    M("batch/TocIndex.cpp", "        if (mailbox[at - 1] != '\\n' && mailbox[at - 1] != '\\r')\n            continue;\n", "",
      "'From ???@??? ' in mid-line taken for a separator line"),
    M("batch/TocIndex.cpp", "facts.redirected = status == 4;", "facts.redirected = status == 5;", "redirected messages not marked"),
    M("batch/TocIndex.cpp", "facts.draft = status == 6 || status == 7;", "facts.draft = status == 6;", "queued messages not marked as drafts"),
    M("batch/TocIndex.cpp", "facts.sent = status == 8;", "facts.sent = status == 9;", "sent messages not marked"),
    M("batch/TocIndex.cpp", "readU32(bytes, at + 46), readU16", "readU32(bytes, at + 8), readU16", "the Date header's time taken for the time received"),
    M("batch/TocIndex.cpp", "constexpr std::size_t kLabelOffset = 186;", "constexpr std::size_t kLabelOffset = 194;", "the label read from the message number's high half"),
    M("batch/TocIndex.cpp", "bool lineStartAt(std::string_view mailbox, std::uint64_t at)", "bool lineStartAt(std::string_view mailbox, std::uint32_t at)",
      "a record's end past 4 GiB looked for below it"),
    # --- pictures that repeat ----------------------------------------------------------------
    M("engine/attachments/Reattachment.cpp", "if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end())", "if (!id.empty())",
      "an image cited twice counted twice: the HTML's ids lost"),
    M("engine/attachments/Reattachment.cpp", "    const std::string lower = lowerAscii(html);", "    const std::string lower(html);",
      "'CID:' in capitals not seen"),
    M("engine/attachments/Reattachment.cpp", "if (html[i] == '%' && i + 2 < end &&", "if (false && html[i] == '%' && i + 2 < end &&",
      "a %-escaped cid: reference kept escaped"),
    # --- command-line switch wiring -----------------------------------------------------------
    M("cli/CommandLine.cpp", "{\"toc\", \"no-toc\", keys::kUseEudoraRecords},", "{\"toc\", \"no-toc\", keys::kPutBackAttachments},",
      "--toc wired to the attachments setting"),
    M("cli/CommandLine.cpp", "{\"mend-cr\", \"no-mend-cr\", keys::kMendCROnlyLineEndings},", "{\"mend-cr\", \"no-mend-cr\", keys::kConvertLineEndings},",
      "--mend-cr wired to the CR LF setting"),
    M("cli/CommandLine.cpp", "{\"drop-stale-lengths\", \"no-drop-stale-lengths\", keys::kDropStaleLengths},",
      "{\"drop-stale-lengths\", \"no-drop-stale-lengths\", keys::kEncodeHeaders},", "--drop-stale-lengths wired to header encoding"),
    M("cli/CommandLine.cpp", "{\"complement-dates\", \"no-complement-dates\", keys::kComplementDateHeaders},",
      "{\"complement-dates\", \"no-complement-dates\", keys::kAddEmptyLines},", "--complement-dates wired to empty lines"),
    M("cli/CommandLine.cpp", "const int index = (code - kFirstSwitch) / 2;", "const int index = (code - kFirstSwitch + 1) / 2;",
      "each --no-x clears the next switch's setting"),
    M('cli/CommandLine.cpp',
      'line.settings.emplace_back(std::string(keys::kOutputLayout), std::string(value));',
      'line.settings.emplace_back(std::string(keys::kOutputLayout), std::string("tree"));',
      '--layout flat gives the tree'),
    M("cli/CommandLine.cpp", "line.settings.emplace_back(std::string(keys::kKeepGoing), true);",
      "line.settings.emplace_back(std::string(keys::kKeepGoing), false);", "--keep-going stops at the first failure"),
    M("cli/CommandLine.cpp", "    if (!attachmentFolders.empty())", "    if (attachmentFolders.size() > 1)",
      "a single --attachments-folder ignored"),
    M("cli/CommandLine.cpp", "            line.quiet = true;", "            line.quiet = false;", "--quiet prints everything"),
    M("cli/CommandLine.cpp", "line.settings.emplace_back(std::string(keys::kCharsetNames), std::move(names));",
      "line.settings.emplace_back(std::string(keys::kCharsetNames), std::vector<std::string>{\"utf-8\"});", "--charsets ignored for utf-8"),
    # --- Maildir and Thunderbird outputs, IMAP upload --------------------------------------------
    M("engine/output/MaildirWriter.cpp", "marks.seen = marks.seen || value->find('R') != std::string_view::npos;",
      "marks.seen = marks.seen || value->find('O') != std::string_view::npos;", "'Status: O' messages delivered as seen"),
    M("engine/output/MaildirWriter.cpp", "marks.draft = marks.draft || value->find('T') != std::string_view::npos;",
      "marks.draft = marks.draft || value->find('D') != std::string_view::npos;", "drafts (X-Status: T) not marked D"),
    M("engine/output/MaildirWriter.cpp", "marks.forwarded = marks.forwarded || (bits & 0x1000u);", "marks.forwarded = marks.forwarded || (bits & 0x0100u);",
      "forwarded read from the wrong X-Mozilla-Status bit"),
    M("engine/output/MaildirWriter.cpp", "    if (end > at && bytes[end - 1] == '\\r')\n        --end;\n", "",
      "CR LF header lines keep their CR: marks of CR LF mailboxes misread"),
    M("engine/output/MaildirWriter.cpp", "    if (marks.answered)\n        flags += 'R';", "    if (marks.answered)\n        flags += 'A';",
      "replied messages given the flag letter A"),
    M("engine/output/MaildirWriter.cpp", "            if (keywords.size() == kMaildirKeywordLetters) {", "            if (keywords.size() == kMaildirKeywordLetters + 1) {",
      "a 27th keyword given the letter after z"),
    M("engine/output/MaildirWriter.cpp", "    maildirOptions.addEmptyLines = false;\n", "", "Maildir messages end with the empty line added for mbox"),
    M("engine/output/MaildirWriter.cpp", "                if (open_ && taken_ > 0 && !endMessage())", "                if (open_ && !endMessage())",
      "a message marked twice delivered as an empty file and the message"),
    M("batch/MaildirNaming.cpp", "        if (c >= 0x20 && c <= 0x7E) {", "        if (c >= 0x20 && c < 0x7E) {",
      "'~' in a folder name written in modified UTF-7"),
    M("batch/MaildirNaming.cpp", "out += c == U'&' ? std::string(\"&-\") : std::string(1, static_cast<char>(c));",
      "out += std::string(1, static_cast<char>(c));", "'&' in a folder name left bare (starts a modified UTF-7 run)"),
    M("batch/MaildirNaming.cpp", "        std::replace(component.begin(), component.end(), '.', '_');\n", "",
      "a '.' in a folder name splits it into two Maildir++ levels"),
    M("batch/MaildirNaming.cpp", "        out += kAlphabet[(bits << (6 - count)) & 0x3F];", "        out += kAlphabet[(bits >> (6 - count)) & 0x3F];",
      "the last bits of a modified UTF-7 run shifted the wrong way"),
    M("batch/MaildirNaming.cpp", "if (const int locked = staging_->lockAsEntryOf(*tmp_, name); locked == EWOULDBLOCK || locked == ENOENT) {",
      "if (false) {", "a running job's staging folder taken for a killed job's and removed by the next run"),
    M("platform/LeftoverFolder.cpp", "    if (error == EWOULDBLOCK)\n        return LeftoverOutcome::Held;\n", "",
      "a staging folder in use reported as one that could not be deleted"),
    M("batch/MaildirNaming.cpp", " && onlyRemoved && destination.entryType(\"cur\") == EntryType::None)", " && onlyRemoved)",
      "a Maildir root's own tmp/ removed with a killed job's staging folder"),
    M('batch/BatchJob.cpp',
      'parent->createFile(folder.substr(0, folder.size() - 4));',
      'parent->createFile(folder.substr(0, folder.size() - 3));',
      "Thunderbird's mailbox beside NAME.sbd named 'NAME.'"),
    M("batch/ImapUpload.cpp", "return a.first != b.first ? a.first < b.first : fileName(a.second) < fileName(b.second);",
      "return a.first != b.first ? a.first > b.first : fileName(a.second) < fileName(b.second);", "messages uploaded newest first"),
    M('batch/ImapUpload.cpp',
      'return count == 1 ? translate("1 message")',
      'return count <= 1 ? translate("1 message")',
      "'0 message' in the upload's texts"),
    M("batch/ImapUpload.cpp", "return std::to_string((bytes + 1023) / 1024) + \" KB\";", "return std::to_string(bytes / 1024) + \" KB\";",
      "a message under 1 KB given as 0 KB"),
    M("engine/header/HeaderEncoder.cpp", "    if (firstWord < kLineLength)\n", "    if (false && firstWord < kLineLength)\n",
      "an encoded Subject folded right after its name: readers show a leading space"),
    M("engine/header/EncodedWords.cpp", "start == 0 ? std::min(firstWordLength, kMaxWordLength) : kMaxWordLength", "kMaxWordLength",
      "the first encoded-word longer than its line"),
    M("engine/attachments/ShortenedName.cpp", "        if (found)\n            return std::nullopt;", "        if (false)\n            return std::nullopt;",
      "the last of two shortened names taken for an attachment"),
    M("engine/attachments/ShortenedName.cpp", "digits.size() > kMostDigits", "digits.size() > 16", "any number of digits taken for a shortened name"),
    M("engine/attachments/Reattachment.cpp", "utf8Name(shortened ? reference->name : file.name(),", "utf8Name(file.name(),",
      "a shortened Mac name given to the attachment instead of its long name"),
    M("engine/attachments/TextCharset.cpp", "mediaType != \"text/html\" && ", "", "an HTML file's own charset overridden"),
    M("batch/AttachmentFolders.cpp", "if (!path.absolute && path.ups <= 1)", "if (!path.absolute)",
      "an attachment directory two levels above the Eudora folder taken"),
    M("batch/AttachmentFolders.cpp", "if (folder && folder->path() == eudoraPath)", "if (false)",
      "the Eudora folder itself searched as an attachment folder"),
]


def run(cmd, cwd, timeout, env=None):
    try:
        done = subprocess.run(cmd, cwd=cwd, env=env, timeout=timeout, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, errors="replace")
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as expired:
        return "timeout", (expired.stdout or b"").decode(errors="replace") if isinstance(expired.stdout, bytes) else ""


def tree_files(root: Path):
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=root,
                            check=True, stdout=subprocess.PIPE).stdout
    return [name for name in listed.decode().split("\0") if name and (root / name).is_file()]


def sync_tree(source: Path, scratch: Path):
    """Copies the files that differ, so unchanged files keep their time stamps."""
    wanted = set(tree_files(source))
    for name in wanted:
        src, dst = source / name, scratch / name
        data = src.read_bytes()
        if dst.is_file() and dst.read_bytes() == data:
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        dst.write_bytes(data)
        shutil.copymode(src, dst)
    for path in scratch.rglob("*"):
        relative = path.relative_to(scratch).as_posix()
        if path.is_file() and relative not in wanted:
            path.unlink()


def occurrences(tree: Path, mutant: Mutant) -> int:
    path = tree / mutant.path
    return path.read_text(errors="surrogateescape").count(mutant.old) if path.is_file() else 0


class Runner:
    def __init__(self, args):
        self.args = args
        self.scratch = Path(args.scratch)
        self.tree = self.scratch / "tree"
        self.build = self.scratch / "build"
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

    def prepare(self):
        self.tree.mkdir(parents=True, exist_ok=True)
        sync_tree(ROOT, self.tree)
        if not (self.build / "build.ninja").is_file():
            code, out = run(["cmake", "-S", str(self.tree), "-B", str(self.build), "-G", "Ninja",
                             "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1",
                             "-DTARNWICK_BUILD_GUI=OFF"], ROOT, 600)
            if code != 0:
                sys.exit("configure failed:\n" + out)

    def targets(self):
        """What ctest runs: the command-line program, the test programs and the preloaded fault library."""
        if not hasattr(self, "_targets"):
            code, out = run(["cmake", "--build", str(self.build), "--target", "help"], ROOT, 120)
            names = [line.split(":")[0].strip() for line in out.splitlines() if ":" in line]
            self._targets = [name for name in names
                             if name.startswith("tests_") or name in ("tarnwick-cli", "tarnwick_write_faults")]
        return self._targets

    def build_tree(self):
        cmd = ["cmake", "--build", str(self.build), f"-j{self.args.jobs}"]
        if self.targets():
            cmd += ["--target", *self.targets()]
        code, out = run(cmd, ROOT, self.args.build_timeout)
        if code != 0:  # once more: a shared machine may run out of space or memory for a moment
            code, out = run(cmd, ROOT, self.args.build_timeout)
        return code, out

    def test(self, label=None):
        cmd = ["ctest", "--test-dir", str(self.build), f"-j{self.args.jobs}", "--stop-on-failure",
               "--timeout", str(self.args.test_timeout)]
        # The package build proves nothing about a fault in the sources and takes long.
        cmd += ["-L", f"^{label}$"] if label else ["-LE", "^packaging$"]
        return run(cmd, ROOT, self.args.suite_timeout, self.env)

    def baseline(self):
        code, out = self.build_tree()
        if code != 0:
            sys.exit("the unmutated tree does not build:\n" + out[-4000:])
        code, out = self.test()
        if code != 0:
            sys.exit("the unmutated tree fails its tests:\n" + out[-4000:])

    def mutant(self, mutant: Mutant):
        path = self.tree / mutant.path
        original = path.read_bytes()
        text = original.decode(errors="surrogateescape")
        path.write_bytes(text.replace(mutant.old, mutant.new, 1).encode(errors="surrogateescape"))
        try:
            code, out = self.build_tree()
            if code != 0:
                return "unbuildable", out[-2000:]
            for label in (mutant.folder(), None):
                code, out = self.test(label)
                if code != 0:
                    return "killed", failed_tests(out)
            return "survived", ""
        finally:
            path.write_bytes(original)


def failed_tests(out: str) -> str:
    lines = [line.strip() for line in out.splitlines() if "***" in line or "(Timeout)" in line or "(Failed)" in line]
    return "; ".join(lines[:3]) if lines else "ctest failed"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scratch", default="/tmp/tarnwick-mutate", help="scratch folder (tree and build)")
    parser.add_argument("--only", help="comma-separated mutant numbers")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--check", action="store_true", help="report stale mutants only (no build)")
    parser.add_argument("--prepare", action="store_true", help="copy the tree and build it, then stop")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--test-timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--suite-timeout", type=int, default=900, help="seconds per ctest run")
    parser.add_argument("--build-timeout", type=int, default=1800, help="seconds per build")
    args = parser.parse_args()

    chosen = list(enumerate(MUTANTS, 1))
    if args.only:
        wanted = {int(n) for n in args.only.split(",")}
        chosen = [(n, m) for n, m in chosen if n in wanted]
    if args.list:
        for n, m in chosen:
            print(f"{n:3} {m.path}: {m.what}")
        return 0

    stale = [(n, m) for n, m in chosen if occurrences(ROOT, m) != 1]
    for n, m in stale:
        print(f"{n:3} stale        {m.path}: {m.what} ({occurrences(ROOT, m)} matches of its text)")
    if args.check:
        return 1 if stale else 0

    runner = Runner(args)
    runner.prepare()
    if args.prepare:
        code, out = runner.build_tree()
        print(out[-3000:])
        return code
    print("baseline build and tests ...", flush=True)
    runner.baseline()
    results = {}
    for n, m in chosen:
        if (n, m) in stale:
            continue
        started = time.monotonic()
        outcome, detail = runner.mutant(m)
        results.setdefault(outcome, []).append((n, m))
        print(f"{n:3} {outcome:12} {m.path}: {m.what} [{time.monotonic() - started:.0f} s] {detail if outcome == 'killed' else ''}",
              flush=True)
        if outcome == "unbuildable":
            print(detail)
    runner.build_tree()  # leaves the scratch build matching the tree

    killed, survived = len(results.get("killed", [])), len(results.get("survived", []))
    counted = killed + survived
    print()
    print(f"killed {killed} of {counted} ({100.0 * killed / counted if counted else 0:.1f}%); "
          f"stale {len(stale)}, unbuildable {len(results.get('unbuildable', []))}")
    for n, m in results.get("survived", []):
        print(f"  survived {n:3} {m.path}: {m.what}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
