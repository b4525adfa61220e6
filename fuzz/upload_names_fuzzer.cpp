// Fuzzes what the IMAP upload reads from outside: the account address, Maildir++
// folder names, the journal, message headers and server refusal lines. Names encoded
// for the server are printable ASCII and decode back to what was encoded.

#include "FuzzSupport.h"

#include "batch/ImapTarget.h"
#include "batch/ImapUpload.h"
#include "batch/UploadJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnwick::fuzz::ExactBytes bytes(data, size);
    const std::string_view text = bytes.view();

    const tarnwick::ImapTargetResult target = tarnwick::parseImapTarget(text);
    FUZZ_CHECK(target.target.has_value() != !target.error.empty());
    if (target.target) {
        FUZZ_CHECK(!target.target->user.empty() && !target.target->host.empty() && target.target->port != 0);
        FUZZ_CHECK(!target.target->topFolder.empty());
        for (const std::string& component : target.target->topFolder)
            FUZZ_CHECK(!component.empty() && component.find('/') == std::string::npos);
    }

    const std::string decoded = tarnwick::decodeModifiedUtf7(text);
    const std::string encoded = tarnwick::encodeModifiedUtf7(decoded);
    for (const char c : encoded)
        FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
    FUZZ_CHECK(tarnwick::encodeModifiedUtf7(tarnwick::decodeModifiedUtf7(encoded)) == encoded);

    if (const auto components = tarnwick::maildirFolderComponents(text)) {
        FUZZ_CHECK(!components->empty());
        for (const char delimiter : {'/', '.'}) {
            const std::string name = tarnwick::serverFolderName(*components, delimiter);
            std::size_t parts = 1;
            for (const char c : name)
                parts += c == delimiter;
            FUZZ_CHECK(parts == components->size());
        }
    }

    // Every whole line is taken; each entry is one line's key.
    tarnwick::JournalEntries entries;
    const std::size_t taken = tarnwick::readJournalLines(text, entries);
    FUZZ_CHECK(taken <= text.size() && (taken == 0 || text[taken - 1] == '\n'));
    FUZZ_CHECK(text.substr(taken).find('\n') == std::string_view::npos);
    std::size_t lines = 0;
    for (std::size_t i = 0; i < taken; ++i)
        lines += text[i] == '\n';
    FUZZ_CHECK(entries.done.size() + entries.pending.size() <= lines);

    if (const auto literal = tarnwick::trailingLiteralSize(text))
        FUZZ_CHECK(*literal < 1000000000ull && text.back() == '}');

    const std::string id = tarnwick::messageIdOf(text);
    FUZZ_CHECK(id.size() <= text.size());
    std::string buffer;
    const std::string_view crlf = tarnwick::withCrlf(text, buffer);
    for (std::size_t i = 0; i < crlf.size(); ++i)
        FUZZ_CHECK(crlf[i] != '\n' || (i > 0 && crlf[i - 1] == '\r'));
    (void)tarnwick::flagsFromMaildirName(text);
    (void)tarnwick::classifyServerRefusal(text);
    return 0;
}
