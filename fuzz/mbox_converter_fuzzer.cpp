// Fuzzes convertMbox on a real file: the input bytes go into a memory file, the
// conversion writes into a fresh, empty output file, and the output is read back.
// Without encoding conversion the output must be exactly what a plain reference pass
// writes (or, with Date lines supplied, have every line end with the chosen terminator
// and keep every message); every message handed to the message conversion must begin
// with "From " and come with a header length that points just past its first empty line.

#include "FuzzSupport.h"

#include "engine/ByteRange.h"
#include "engine/mailbox/MboxConverter.h"
#include "engine/message/MessageConverter.h"
#include "engine/mailbox/SeparatorDate.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace tarnwick;
using tarnwick::fuzz::Picker;

struct Line {
    std::string_view contents;
    std::string_view terminator;
};

std::vector<Line> splitLines(std::string_view b)
{
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < b.size()) {
        std::size_t end = pos;
        while (end < b.size() && b[end] != '\r' && b[end] != '\n')
            ++end;
        std::size_t next = end;
        if (end < b.size())
            next += (b[end] == '\r' && end + 1 < b.size() && b[end + 1] == '\n') ? 2 : 1;
        lines.push_back({b.substr(pos, end - pos), b.substr(end, next - end)});
        pos = next;
    }
    return lines;
}

bool isSeparator(std::string_view contents) { return contents.size() >= 5 && contents.substr(0, 5) == "From "; }

// The output of a pass without encoding conversion and without Date lines.
std::string referenceOutput(const std::vector<Line>& lines, std::string_view terminator, bool addEmptyLines)
{
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0 && isSeparator(lines[i].contents) && addEmptyLines)
            out += terminator;
        out += lines[i].contents;
        out += terminator;
    }
    if (addEmptyLines)
        out += terminator;
    return out;
}

class MemoryFile {
public:
    explicit MemoryFile(const char* name) : fd_(::memfd_create(name, 0)) { FUZZ_CHECK(fd_ >= 0); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
    void replace(const std::uint8_t* data, std::size_t size) const
    {
        FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }
    std::string read() const
    {
        std::string bytes;
        char chunk[1 << 16];
        for (off_t offset = 0;;) {
            const ssize_t n = ::pread(fd_, chunk, sizeof chunk, offset);
            FUZZ_CHECK(n >= 0);
            if (n == 0)
                return bytes;
            bytes.append(chunk, static_cast<std::size_t>(n));
            offset += n;
        }
    }

private:
    int fd_;
};

// The output goes to a real folder: the pass writes a temporary file beside the
// claimed name and renames it over the claim when it is complete.
class OutputSlot {
public:
    OutputSlot()
    {
        std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/mbox-fuzz-XXXXXX");
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        path_ = pattern + "/out.mbox";
    }
    const std::string& path() const { return path_; }
    /// Leaves an empty file at the path: the claim a job makes before converting.
    void claim() const
    {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        FUZZ_CHECK(fd >= 0);
        ::close(fd);
    }
    std::string read() const
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        FUZZ_CHECK(fd >= 0);
        std::string bytes;
        char chunk[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            FUZZ_CHECK(n >= 0);
            if (n == 0)
                break;
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return bytes;
    }

private:
    std::string path_;
};

// The options of one run, as the first input bytes choose them.
struct Run {
    ConversionOptions conversion;
    CharsetCandidates* candidates = nullptr;
    bool emptyLines = false;
    bool indexed = false;
    bool arranged = false; // records out of order, or input they do not cover not inside
};

Run pickOptions(Picker& pick)
{
    const std::uint8_t options = pick.byte();
    const std::uint8_t encodingChoice = pick.byte();
    Run run;
    ConversionOptions& conversion = run.conversion;
    conversion.convertEncodings = options & 1;
    conversion.crlfLineEndings = options & 2;
    conversion.complementDateHeaders = options & 4;
    run.emptyLines = options & 8;
    // Known fault (fuzz/crashes/mbox_converter-null-terminator-append): an added empty
    // line while the terminator is still open copies from a null pointer.
    const std::string_view rest(reinterpret_cast<const char*>(pick.data()), pick.size());
    if (fuzz::skipKnownFaults() && rest.find_first_of("\r\n") == std::string_view::npos)
        run.emptyLines = false;
    conversion.addEmptyLines = run.emptyLines;
    conversion.processEudoraTags = options & 16;
    conversion.replaceNoBreakSpaces = options & 32;
    conversion.sourceEncoding = fuzz::sourceEncoding(encodingChoice % fuzz::kSourceEncodingCount);
    const unsigned list = (encodingChoice >> 4) % fuzz::kCandidateListCount;
    conversion.charsetNames = fuzz::candidateNames(list);
    run.candidates = &fuzz::candidateList(list);
    run.indexed = options & 64;
    return run;
}

// An index of up to 7 records, in order and apart, anywhere in the input (the engine
// must hold up to records that start at no separator); then the order the index lists
// them in (as is, reversed, or rotated) and what becomes of the input it does not cover.
void pickIndex(Picker& pick, Run& run)
{
    std::vector<IndexedMessage>& index = run.conversion.messageIndex;
    std::uint64_t at = 0;
    for (unsigned count = pick.byte() % 8; count > 0; --count) {
        IndexedMessage record;
        record.offset = at + pick.byte();
        record.length = pick.byte() + 1u;
        const std::uint8_t status = pick.byte();
        record.facts.read = status & 1;
        record.facts.replied = status & 2;
        record.facts.forwarded = status & 4;
        record.facts.draft = status & 8;
        record.facts.priority = static_cast<std::uint8_t>(status >> 5);
        at = record.offset + record.length;
        index.push_back(record);
    }
    const std::uint8_t arrangement = pick.byte();
    if (arrangement & 1)
        std::reverse(index.begin(), index.end());
    else if ((arrangement & 2) && !index.empty())
        std::rotate(index.begin(), index.begin() + 1, index.end());
    const UnindexedInput modes[] = {UnindexedInput::Inside, UnindexedInput::Apart, UnindexedInput::Only};
    run.conversion.unindexed = modes[(arrangement >> 2) % 3];
    run.arranged = (arrangement & 3) != 0 || run.conversion.unindexed != UnindexedInput::Inside;
}

// The input converted again with `control`: the same bytes and count as `converted`.
void checkConvertedAgain(const MemoryFile& input, const OutputSlot& output, const Run& run, const ConversionControl& control,
                         const ConversionResult& converted, const std::string& out)
{
    output.claim();
    const ConversionResult again = convertMbox(input.path(), output.path(), run.conversion, *run.candidates, control);
    FUZZ_CHECK(again.succeeded);
    FUZZ_CHECK(again.messages == converted.messages);
    FUZZ_CHECK(output.read() == out);
}

// Every output line that begins "From " is the input's first line or one of the
// separator's form; the others became ">From ".
void checkSeparatorForm(const std::string& out, std::size_t handedOver, std::size_t separators)
{
    FUZZ_CHECK(handedOver <= separators);
    FUZZ_CHECK(out.substr(0, 5) == "From ");
    bool first = true;
    for (const Line& line : splitLines(out)) {
        if (isSeparator(line.contents) && !first)
            FUZZ_CHECK(hasSeparatorDate(line.contents));
        first = false;
    }
}

// Date lines come in: every output line still ends with the one terminator, and the
// separators are the input's.
void checkDateLines(const std::string& out, std::string_view in, std::string_view terminator, std::size_t separators)
{
    if (terminator.empty()) {
        FUZZ_CHECK(out == in);
        return;
    }
    FUZZ_CHECK(out.size() >= terminator.size() && out.substr(out.size() - terminator.size()) == terminator);
    std::size_t outSeparators = 0;
    std::size_t pos = 0;
    while (pos < out.size()) {
        const std::size_t end = out.find(terminator, pos);
        FUZZ_CHECK(end != std::string::npos);
        const std::string_view contents = std::string_view(out).substr(pos, end - pos);
        FUZZ_CHECK(contents.find_first_of("\r\n") == std::string_view::npos);
        outSeparators += isSeparator(contents);
        pos = end + terminator.size();
    }
    FUZZ_CHECK(outSeparators == separators);
}

// The checks for an input that begins with a separator line: the two-part split, then
// what the options promise of the output.
void checkOutput(const MemoryFile& input, const OutputSlot& output, const Run& run, std::string_view in, const ConversionResult& converted,
                 const std::string& out, std::size_t handedOver)
{
    const ConversionOptions& conversion = run.conversion;
    // In two parts at once, the second from the first message after any point: the same
    // bytes and count, whether the second part's output is taken or done again.
    ConversionControl split;
    split.splitBytes = 1;
    split.splitCores = 1;
    split.splitFrom = in.size() * static_cast<unsigned char>(in[in.size() / 2]) / 256;
    checkConvertedAgain(input, output, run, split, converted, out);
    const std::vector<Line> lines = splitLines(in);
    std::size_t separators = 0;
    for (const Line& line : lines)
        separators += isSeparator(line.contents);
    if (conversion.separatorsOfEudorasForm)
        return checkSeparatorForm(out, handedOver, separators);
    if (run.indexed) {
        // Records only join lines into messages and add header lines; a record, or a
        // stretch between records, that starts at no separator line becomes one message
        // behind a separator of its own.
        const std::size_t stretches = 2 * conversion.messageIndex.size() + 1;
        FUZZ_CHECK(handedOver <= separators + stretches);
        FUZZ_CHECK(out.substr(0, 5) == "From ");
        return;
    }
    FUZZ_CHECK(handedOver == (conversion.convertEncodings ? separators : 0));
    const std::string_view terminator = conversion.crlfLineEndings ? std::string_view("\r\n") : lines.front().terminator;
    if (conversion.convertEncodings) {
        FUZZ_CHECK(out.substr(0, 5) == "From ");
        // On two threads, in batches of a message or a few: the same bytes.
        ConversionControl parallel;
        parallel.conversionBatchBytes = 1 + in.size() % 512;
        checkConvertedAgain(input, output, run, parallel, converted, out);
    } else if (!conversion.complementDateHeaders) {
        FUZZ_CHECK(out == referenceOutput(lines, terminator, run.emptyLines));
    } else {
        checkDateLines(out, in, terminator, separators);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    static const MemoryFile input("fuzz-input");
    static const OutputSlot output;

    Picker pick(data, size);
    Run run = pickOptions(pick);
    if (run.indexed)
        pickIndex(pick, run);
    // Without an index, now and then only separator lines of Eudora's form start messages.
    run.conversion.separatorsOfEudorasForm = !run.indexed && (pick.byte() & 1);

    const std::string_view in(reinterpret_cast<const char*>(pick.data()), pick.size());
    input.replace(pick.data(), pick.size());
    output.claim();

    std::size_t handedOver = 0;
    const ConversionOptions& conversion = run.conversion;
    CharsetCandidates& candidates = *run.candidates;
    const MessageConversion observe
        = [&](std::string_view message, std::uint64_t headerLength, MailboxContext& mailbox, std::string& result) {
              ++handedOver;
              FUZZ_CHECK(message.substr(0, 5) == "From ");
              if (headerLength != kHeaderLengthNone) {
                  FUZZ_CHECK(headerLength < message.size());
                  // The bytes before it end with an empty line: a terminator right after another.
                  const char last = message[headerLength - 1];
                  FUZZ_CHECK(last == '\n' || last == '\r');
              }
              return convertMessage(message, headerLength, conversion, candidates, mailbox, result);
          };
    const ConversionResult converted = convertMbox(input.path(), output.path(), conversion, observe);
    FUZZ_CHECK(converted.succeeded);
    FUZZ_CHECK(converted.errorText.empty());
    const std::string out = output.read();

    const bool startsWithSeparator = in.size() >= 5 && in.substr(0, 5) == "From ";
    if (run.arranged || (run.indexed && !startsWithSeparator)) {
        // Parts of the input in another order, or some left out, or input before the
        // first record that no "From " line begins: every message still begins with a
        // separator line, whether the input's or one written before it.
        FUZZ_CHECK(out.empty() || out.substr(0, 5) == "From ");
    } else if (!startsWithSeparator) {
        FUZZ_CHECK(out.empty());
        FUZZ_CHECK(handedOver == 0);
    } else {
        checkOutput(input, output, run, in, converted, out, handedOver);
    }
    return 0;
}
