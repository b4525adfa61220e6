#include "engine/attachments/Reattachment.h"

#include "engine/header/MimeHeader.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

struct StringSink : ByteSink {
    std::string bytes;
    std::size_t refuseAfter = std::string::npos;
    bool write(std::string_view piece) override
    {
        if (bytes.size() + piece.size() > refuseAfter)
            return false;
        bytes.append(piece);
        return true;
    }
};

struct Folders {
    std::string root;
    // `base`: where the scratch folder goes (/dev/shm makes many files quickly).
    explicit Folders(std::string base = "/tmp")
    {
        if (!fs::is_directory(base))
            base = "/tmp";
        std::string pattern = base + "/tarnwick-reattach.XXXXXX";
        root = ::mkdtemp(pattern.data());
        fs::create_directories(root + "/attach");
        fs::create_directories(root + "/Embedded");
    }
    ~Folders()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    void file(const std::string& name, const std::string& bytes) const { std::ofstream(root + "/" + name, std::ios::binary) << bytes; }
    AttachmentFolders folders() const { return AttachmentFolders::open({root + "/attach"}, {root + "/Embedded"}); }
};

std::string decodeBase64(std::string_view text)
{
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = c ? std::strchr(alphabet, c) : nullptr;
        if (at == nullptr)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(at - alphabet);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// A message as the stream pass collects it, and the contents ranges of its body lines.
struct Collected {
    std::string message;
    std::uint64_t headerLength = 0;
    std::vector<ByteRange> lines;
};

Collected collect(const std::vector<std::string>& header, const std::vector<std::string>& body, std::string_view eol = "\r\n")
{
    Collected c;
    c.message = "From ???@??? Mon Dec 13 18:45:29 2010";
    c.message += eol;
    for (const std::string& line : header)
        c.message.append(line).append(eol);
    c.message += eol;
    c.headerLength = c.message.size();
    for (const std::string& line : body) {
        c.lines.push_back({c.message.size(), line.size()});
        c.message.append(line).append(eol);
    }
    return c;
}

struct Outcome {
    ReattachResult result;
    std::string output;
    AttachmentTally tally;
    std::vector<std::string> log;
};

// How text files are read for their charset label.
struct TextReading {
    EncodingId encoding = kEncodingAutomatic;
    MailboxOrigin origin = MailboxOrigin::Windows;
    bool labelled = true;
};

Outcome reattach(const Collected& c, const AttachmentFolders& folders, const TextConversion* convert = nullptr,
                 std::string_view eol = "\r\n", TextReading text = {})
{
    Outcome run;
    setLogSink([&run](std::string_view line) { run.log.emplace_back(line); });
    StringSink sink;
    const ReattachmentContext context{folders,       kEncodingISOLatin1,           eol,          convert, run.tally, nullptr,
                                      text.encoding, AutomaticSource{text.origin}, text.labelled};
    run.result = writeWithAttachments(c.message, c.headerLength, c.lines, context, sink);
    setLogSink({});
    run.output = sink.bytes;
    return run;
}

// The parts of a multipart body: for each, its header and body (without the line
// break that belongs to the next delimiter).
std::vector<std::pair<std::string, std::string>> parts(std::string_view body, const std::string& boundary)
{
    std::vector<std::pair<std::string, std::string>> found;
    const std::string delimiter = "\r\n--" + boundary;
    std::size_t at = body.find("--" + boundary);
    while (at != std::string_view::npos) {
        const std::size_t start = body.find("\r\n", at) + 2;
        if (body.substr(at + 2 + boundary.size(), 2) == "--")
            break;
        const std::size_t end = body.find(delimiter, start);
        const std::string_view part = body.substr(start, end - start);
        const std::size_t split = part.find("\r\n\r\n");
        found.emplace_back(std::string(part.substr(0, split + 2)), std::string(part.substr(split + 4)));
        at = end + 2;
    }
    return found;
}

std::string topBoundary(const std::string& output)
{
    const auto end = headerEnd(output);
    const std::string header = output.substr(0, *end);
    const std::size_t at = header.find("Content-Type:");
    return parameterValue(std::string_view(header).substr(at, header.find("\r\n\r\n", at) - at), "boundary").value_or("");
}

TEST(Reattachment, FilesBecomeBase64PartsAndTheirLinesGo)
{
    Folders f;
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>(i * 31);
    f.file("attach/report.pdf", binary);
    f.file("attach/notes", "plain\r\nnotes\r\n");
    const Collected c = collect(
        {"Subject: Files", "MIME-Version: 1.0", "Content-Type: multipart/mixed;", " boundary=\"gone\"", "Content-Transfer-Encoding: 7bit"},
        {"Hello.", "", R"(Attachment Converted: "c:\eudora\attach\report.pdf")", "", R"(Attachment Converted: "c:\eudora\attach\NOTES")"});
    const Outcome run = reattach(c, f.folders());
    ASSERT_EQ(run.result.outcome, ReattachOutcome::Written);
    EXPECT_EQ(run.tally.attached, 2u);
    EXPECT_EQ(run.tally.missing, 0u);
    EXPECT_TRUE(run.output.starts_with("From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: Files\r\nMIME-Version: 1.0\r\n"
                                       "Content-Type: multipart/mixed;\r\n boundary=\"=_"));
    EXPECT_EQ(run.output.find("MIME-Version", 60), std::string::npos) << "not added twice";
    EXPECT_EQ(run.output.find("Content-Transfer-Encoding: 7bit\r\nContent-Type"), std::string::npos);
    EXPECT_EQ(run.output.find("gone"), std::string::npos) << "the stale multipart type is replaced";

    const auto p = parts(run.output.substr(*headerEnd(run.output)), topBoundary(run.output));
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].first, "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n");
    EXPECT_EQ(p[0].second, "Hello.\r\n\r\n") << "only the attachment lines go (the last break is the delimiter's)";
    EXPECT_EQ(p[1].first,
              "Content-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"report.pdf\"\r\n");
    EXPECT_EQ(decodeBase64(p[1].second), binary);
    EXPECT_NE(p[2].first.find("filename=\"notes\""), std::string::npos) << "the name as found on disk";
    EXPECT_EQ(decodeBase64(p[2].second), "plain\r\nnotes\r\n");
    EXPECT_TRUE(run.output.ends_with("--" + topBoundary(run.output) + "--\r\n"));

    EXPECT_EQ(reattach(c, f.folders()).output, run.output) << "the same input gives the same bytes";
}

TEST(Reattachment, InlineImagesGoIntoRelatedWithTheHtmlsContentIds)
{
    Folders f;
    f.file("Embedded/pic.jpg", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11) + std::string(300, 'j'));
    f.file("attach/a.txt", "attached");
    const std::string html = "<html><img src=\"cid:part1.abc@example\"></html>";
    const Collected c = collect(
        {"Subject: Pic", "Content-Type: text/html; charset=utf-8"},
        {html, "Embedded Content: pic.jpg: 00000001,277bfd3a,00000000,00000000", R"(Attachment Converted: "c:\eudora\attach\a.txt")"});
    const Outcome run = reattach(c, f.folders());
    ASSERT_EQ(run.result.outcome, ReattachOutcome::Written);
    EXPECT_NE(run.output.find("\r\nMIME-Version: 1.0\r\n"), std::string::npos);
    const auto outer = parts(run.output.substr(*headerEnd(run.output)), topBoundary(run.output));
    ASSERT_EQ(outer.size(), 2u);
    const std::string relatedHeader = outer[0].first;
    ASSERT_TRUE(relatedHeader.starts_with("Content-Type: multipart/related; type=\"text/html\";")) << relatedHeader;
    const std::string inner = *parameterValue(relatedHeader, "boundary");
    EXPECT_NE(inner, topBoundary(run.output));
    const auto related = parts(outer[0].second, inner);
    ASSERT_EQ(related.size(), 2u);
    EXPECT_EQ(related[0].first, "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n");
    EXPECT_EQ(related[0].second, html);
    EXPECT_NE(related[1].first.find("Content-Type: image/jpeg\r\n"), std::string::npos) << related[1].first;
    EXPECT_NE(related[1].first.find("Content-Disposition: inline; filename=\"pic.jpg\""), std::string::npos);
    EXPECT_NE(related[1].first.find("Content-ID: <part1.abc@example>"), std::string::npos);
    EXPECT_NE(outer[1].first.find("filename=\"a.txt\""), std::string::npos);

    // Without as many cid: references as embedded lines, images get ids of their own.
    const Collected unmatched
        = collect({"Content-Type: text/html"}, {"<html>no images</html>", "Embedded Content: pic.jpg: 00000001,2,3,4"});
    const Outcome own = reattach(unmatched, f.folders());
    ASSERT_EQ(own.result.outcome, ReattachOutcome::Written);
    EXPECT_NE(own.output.find("Content-ID: <part1."), std::string::npos);
    EXPECT_NE(own.output.find("Content-Type: multipart/related"), std::string::npos) << "HTML alone: related on top";
    EXPECT_EQ(own.output.find("multipart/mixed"), std::string::npos);
}

// HTML that cites an image more than once (the same id, escaped or in other case of
// "cid:") still pairs its distinct references with the embedded lines in order.
TEST(Reattachment, ImagesCitedMoreThanOnceKeepTheHtmlsContentIds)
{
    Folders f;
    f.file("Embedded/a.gif", "GIF89a first");
    f.file("Embedded/b.gif", "GIF89a second");
    const struct {
        const char* name;
        std::string html;
        std::vector<std::string> ids; // of a.gif and b.gif
    } cases[] = {
        {"the first twice", "<img src=\"cid:a@x\"><img src=\"cid:a@x\"><img src=\"cid:b@x\">", {"a@x", "b@x"}},
        {"the second twice", "<img src=\"cid:a@x\"><img src='cid:b@x'><p style=\"background:url(cid:b@x)\">", {"a@x", "b@x"}},
        {"each twice, interleaved", "<img src=cid:b@x><img src=cid:a@x><img src=cid:b@x><img src=cid:a@x>", {"b@x", "a@x"}},
        {"escaped and plain", "<img src=\"cid:a%40x\"><img src=\"cid:a@x\"><img src=\"CID:b@x\">", {"a@x", "b@x"}},
    };
    for (const auto& c : cases) {
        const Collected message = collect({"Content-Type: text/html"},
                                          {c.html, "Embedded Content: a.gif: 00000001,2,3,4", "Embedded Content: b.gif: 00000002,2,3,4"});
        const Outcome run = reattach(message, f.folders());
        ASSERT_EQ(run.result.outcome, ReattachOutcome::Written) << c.name;
        const auto related = parts(run.output.substr(*headerEnd(run.output)), topBoundary(run.output));
        ASSERT_EQ(related.size(), 3u) << c.name;
        for (std::size_t i = 0; i < 2; ++i)
            EXPECT_NE(related[i + 1].first.find("Content-ID: <" + c.ids[i] + ">"), std::string::npos)
                << c.name << ": " << related[i + 1].first;
    }
}

TEST(Reattachment, MissingAndForgedFilesKeepTheirLinesAndAreReported)
{
    Folders f;
    f.file("secret", "do not read");
    f.file("attach/here.txt", "here");
    const std::string forged[] = {
        R"(Attachment Converted: "c:\eudora\attach\..\secret")",
        "Attachment Converted: " + f.root + "/secret",
        "Attachment converted: Macintosh HD:../secret (TEXT/ttxt) (1)",
        "Related: :HD:..:1:2:3:4",
    };
    std::vector<std::string> body{"Text."};
    body.insert(body.end(), std::begin(forged), std::end(forged));
    body.push_back(R"(Attachment Converted: "c:\eudora\attach\gone.doc")");
    const Collected none = collect({"Subject: Nothing here"}, body);
    const Outcome nothing = reattach(none, f.folders());
    EXPECT_EQ(nothing.result.outcome, ReattachOutcome::Unchanged);
    EXPECT_TRUE(nothing.output.empty());
    EXPECT_EQ(nothing.tally.missing, 5u);
    ASSERT_EQ(nothing.log.size(), 5u);
    EXPECT_EQ(nothing.log.back(), "Attachment not found: \"gone.doc\" (message \"Nothing here\")");
    ASSERT_EQ(nothing.tally.missingFiles.size(), 5u);
    EXPECT_EQ(nothing.tally.missingFiles.back().subject, "Nothing here");

    // A subject and a name in the mailbox's encoding are reported in UTF-8.
    const Outcome latin
        = reattach(collect({"Subject: Caf\xe9"}, {"Attachment Converted: \"c:\\eudora\\attach\\men\xfa.doc\""}), f.folders());
    ASSERT_EQ(latin.log.size(), 1u);
    EXPECT_EQ(latin.log.back(), "Attachment not found: \"men\xc3\xba.doc\" (message \"Caf\xc3\xa9\")");
    EXPECT_EQ(latin.tally.missingFiles.back().subject, "Caf\xc3\xa9");

    body.push_back(R"(Attachment Converted: "c:\eudora\attach\here.txt")");
    const Outcome some = reattach(collect({"Subject: Some"}, body), f.folders());
    ASSERT_EQ(some.result.outcome, ReattachOutcome::Written);
    EXPECT_EQ(some.tally.attached, 1u);
    EXPECT_EQ(some.tally.missing, 5u);
    EXPECT_EQ(some.output.find("do not read"), std::string::npos);
    EXPECT_EQ(some.output.find(decodeBase64("ZG8gbm90IHJlYWQ=")), std::string::npos);
    for (const std::string& line : forged)
        EXPECT_NE(some.output.find(line + "\r\n"), std::string::npos) << "kept unchanged: " << line;
    EXPECT_NE(some.output.find("gone.doc\"\r\n"), std::string::npos) << some.output;
    EXPECT_EQ(some.output.find("attach\\here.txt"), std::string::npos) << "the attached file's line goes";
}

TEST(Reattachment, TheTextIsConvertedAsTodayAndFailuresAreReported)
{
    Folders f;
    f.file("attach/a", "a");
    const Collected c = collect({"Subject: S", "Content-Type: text/plain"}, {"caf\xE9", R"(Attachment Converted: "a")"}, "\n");
    // A conversion that marks what it was given.
    const TextConversion convert = [](std::string_view message, std::uint64_t, std::string& result) {
        result.assign(message);
        result.replace(result.find("Content-Type: text/plain"), 24, "Content-Type: text/plain; charset=x");
        return true;
    };
    const Outcome run = reattach(c, f.folders(), &convert, "\n");
    ASSERT_EQ(run.result.outcome, ReattachOutcome::Written);
    EXPECT_NE(run.output.find("\nContent-Type: text/plain; charset=x\nContent-Transfer-Encoding: 8bit\n\ncaf\xE9\n--"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find('\r'), std::string::npos) << "every line ends with the output terminator";

    for (std::size_t limit : {0u, 100u, 250u}) {
        Outcome refused;
        StringSink sink;
        sink.refuseAfter = limit;
        const ReattachmentContext context{f.folders(), kEncodingISOLatin1, "\n", nullptr, refused.tally};
        EXPECT_EQ(writeWithAttachments(c.message, c.headerLength, c.lines, context, sink).outcome, ReattachOutcome::WriteFailed) << limit;
        EXPECT_EQ(refused.tally.attached, 0u);
    }
}

TEST(Reattachment, FilesAreOpenedOnlyFromTheFolderFoundEvenWhenItIsSwappedForALink)
{
    Folders f;
    f.file("attach/kept.txt", "kept");
    fs::create_directories(f.root + "/outside");
    f.file("outside/secret.txt", "secret");
    const AttachmentFolders folders = f.folders();
    // Another user of the source swaps the folder for a link while the job runs.
    fs::rename(f.root + "/attach", f.root + "/attach.old");
    fs::create_directory_symlink(f.root + "/outside", f.root + "/attach");
    const Outcome run = reattach(
        collect({"Subject: Swap"},
                {R"(Attachment Converted: "c:\eudora\attach\secret.txt")", R"(Attachment Converted: "c:\eudora\attach\kept.txt")"}),
        folders);
    ASSERT_EQ(run.result.outcome, ReattachOutcome::Written);
    EXPECT_EQ(run.tally.attached, 1u);
    EXPECT_EQ(run.tally.missing, 1u);
    EXPECT_EQ(run.output.find("c2VjcmV0"), std::string::npos) << "nothing from outside the folder (base64 of its bytes)";
    EXPECT_NE(run.output.find("filename=\"kept.txt\""), std::string::npos);
    EXPECT_EQ(run.output.find("filename=\"secret.txt\""), std::string::npos);
}

// Lowers the limit on open descriptors for one test.
struct DescriptorLimit {
    rlimit saved{};
    explicit DescriptorLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
};

TEST(Reattachment, AMessageNamingManyFilesHoldsNoneOpenAndSaysWhyOneCannotBeOpened)
{
    Folders f;
    std::vector<std::string> body{"Many."};
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i) {
        f.file("attach/f" + std::to_string(i), "file " + std::to_string(i));
        body.push_back("Attachment Converted: \"c:\\eudora\\attach\\f" + std::to_string(i) + "\"");
    }
    const AttachmentFolders folders = f.folders();
    const Collected c = collect({"Subject: Many"}, body);
    {
        const DescriptorLimit limit(64); // far fewer descriptors than files
        const Outcome run = reattach(c, folders);
        ASSERT_EQ(run.result.outcome, ReattachOutcome::Written);
        EXPECT_EQ(run.tally.attached, static_cast<std::uint64_t>(kFiles));
        EXPECT_EQ(run.tally.missing, 0u) << (run.log.empty() ? "" : run.log.front());
    }

    // No descriptor left: the file is there, and the log says why it was not put back.
    std::vector<int> taken;
    Outcome run;
    {
        const DescriptorLimit limit(64);
        for (int fd; (fd = ::dup(0)) >= 0;)
            taken.push_back(fd);
        run = reattach(collect({"Subject: Full"}, {R"(Attachment Converted: "c:\eudora\attach\f1")"}), folders);
        for (const int fd : taken)
            ::close(fd);
    }
    EXPECT_EQ(run.result.outcome, ReattachOutcome::Unchanged);
    EXPECT_EQ(run.tally.missing, 1u);
    ASSERT_EQ(run.log.size(), 1u);
    EXPECT_EQ(run.log.front(), "Attachment could not be opened: \"f1\" (message \"Full\"): " + std::string(std::strerror(EMFILE)));
}

TEST(Reattachment, LinesNamingMissingFilesCostNoListingOfTheFolderEach)
{
    // Every missing name asks for the one name equal to it in another letter case: the
    // folder's names are indexed once, not listed for each line. A file that appears
    // after the index was made shows which: listed again, it would be found.
    Folders f;
    constexpr int kFiles = 2000;
    constexpr int kLines = 300;
    for (int i = 0; i < kFiles; ++i)
        f.file("attach/kept-" + std::to_string(i) + ".dat", "");
    f.file("attach/Last.TXT", "last");
    const AttachmentFolders folders = f.folders();
    const Outcome first = reattach(collect({"Subject: First"}, {R"(Attachment Converted: "c:\eudora\attach\last.txt")"}), folders);
    ASSERT_EQ(first.result.outcome, ReattachOutcome::Written);
    EXPECT_NE(first.output.find("filename=\"Last.TXT\""), std::string::npos) << "found by its folded name";

    f.file("attach/DELETED-7.DOC", "late");
    std::vector<std::string> body{"Spam."};
    for (int i = 0; i < kLines; ++i)
        body.push_back("Attachment Converted: \"c:\\eudora\\attach\\deleted-" + std::to_string(i) + ".doc\"");
    body.push_back(R"(Attachment Converted: "c:\eudora\attach\last.txt")");
    const Outcome run = reattach(collect({"Subject: Spam"}, body), folders);
    ASSERT_EQ(run.result.outcome, ReattachOutcome::Written);
    EXPECT_EQ(run.tally.missing, static_cast<std::uint64_t>(kLines)) << "the folder was listed again";
    EXPECT_EQ(run.output.find("DELETED-7.DOC"), std::string::npos);
}

TEST(Reattachment, AFileGoneOrShrunkBeforeItIsWrittenIsAReadFailureWithItsReason)
{
    Folders f;
    f.file("attach/a.txt", "aaaa");
    const AttachmentFolders folders = f.folders();
    const Collected c = collect({"Subject: Gone"}, {R"(Attachment Converted: "c:\eudora\attach\a.txt")"});
    for (const bool removed : {true, false}) {
        f.file("attach/a.txt", std::string(100000, 'a'));
        AttachmentTally tally;
        const ReattachmentContext context{folders, kEncodingISOLatin1, "\r\n", nullptr, tally};
        AttachmentLookup found = lookUpAttachments(c.message, c.headerLength, c.lines, context);
        ASSERT_EQ(found.parts.size(), 1u);
        if (removed)
            fs::remove(f.root + "/attach/a.txt");
        StringSink sink;
        // A file that shrinks while it is read: the sink truncates it after the first write.
        struct Shrinking : StringSink {
            std::string path;
            bool write(std::string_view piece) override
            {
                if (!path.empty() && bytes.find("base64") != std::string::npos)
                    fs::resize_file(std::exchange(path, std::string()), 10);
                return StringSink::write(piece);
            }
        } shrinking;
        if (!removed)
            shrinking.path = f.root + "/attach/a.txt";
        const ReattachResult result = writeWithAttachments(c.message, c.headerLength, found, context, removed ? sink : shrinking);
        EXPECT_EQ(result.outcome, ReattachOutcome::ReadFailed) << removed;
        EXPECT_EQ(result.failedPath, f.root + "/attach/a.txt") << removed;
        EXPECT_EQ(result.error, removed ? ENOENT : EIO) << removed;
        EXPECT_EQ(tally.attached, 0u);
    }
}

TEST(Reattachment, MacNamesShortenedWithAHashAreFoundWhenOnlyOneFits)
{
    const std::string longName = "Minutes of the annual meeting 2004.pdf";
    const std::string line = "Attachment converted: Macintosh HD:Eudora Folder:Attachments Folder:" + longName + " (PDF /CARO) (0022466A)";
    struct Case {
        const char* what;
        std::vector<std::string> files;
        const char* found; // the file put back; null: the line stays
    };
    const Case cases[] = {
        {"one shortened name",
         {"Minutes of the annual m#1A2B.pdf", "Minutes of the annual m#1A2B.doc"},
         "Minutes of the annual m#1A2B.pdf"},
        {"lower-case digits", {"Minutes of the#ff.pdf"}, "Minutes of the#ff.pdf"},
        {"two shortened names fit", {"Minutes of the annual m#1A2B.pdf", "Minutes of the annual#77.pdf"}, nullptr},
        {"the exact name comes first", {"Minutes of the annual m#1A2B.pdf", longName}, "Minutes of the annual meeting 2004.pdf"},
        {"another name's start", {"Minutes of another m#1A2B.pdf"}, nullptr},
        {"no digits", {"Minutes of the annual m#.pdf"}, nullptr},
        {"not hexadecimal", {"Minutes of the annual m#1G2B.pdf"}, nullptr},
        {"too many digits", {"Minutes of the#123456789.pdf"}, nullptr},
        {"another extension", {"Minutes of the annual m#1A2B.PDF"}, nullptr},
        {"no hash", {"Minutes of the annual m1A2B.pdf"}, nullptr},
    };
    for (const Case& c : cases) {
        Folders f;
        for (const std::string& name : c.files)
            f.file("attach/" + name, name);
        const Outcome run = reattach(collect({"Subject: Minutes"}, {"See the minutes.", line}), f.folders());
        if (!c.found) {
            EXPECT_EQ(run.result.outcome, ReattachOutcome::Unchanged) << c.what;
            EXPECT_EQ(run.tally.missing, 1u) << c.what;
            continue;
        }
        ASSERT_EQ(run.result.outcome, ReattachOutcome::Written) << c.what;
        const auto p = parts(run.output.substr(*headerEnd(run.output)), topBoundary(run.output));
        ASSERT_EQ(p.size(), 2u) << c.what;
        EXPECT_EQ(decodeBase64(p[1].second), c.found) << c.what;
        EXPECT_NE(p[1].first.find("filename=\"" + longName + "\""), std::string::npos) << c.what << ": the long name goes out\n"
                                                                                       << p[1].first;
    }
}

TEST(Reattachment, TextFilesSayTheCharsetTheyAreReadIn)
{
    struct Case {
        const char* what;
        std::string name;
        std::string bytes;
        TextReading reading;
        const char* contentType;
    };
    const std::string macRoman = "Cr\x8F"
                                 "me br\x9El\x8E"
                                 "e\r"; // "Crème brûlée" as a Mac writes it
    const Case cases[] = {
        {"mac roman recipe from a mac mailbox",
         "Recipe.txt",
         macRoman,
         {kEncodingAutomatic, MailboxOrigin::Mac},
         "text/plain; charset=macintosh"},
        {"the same bytes from a windows mailbox", "Recipe.txt", macRoman, {}, "text/plain; charset=macintosh"},
        {"a windows recipe",
         "Recipe.txt",
         "Cr\xE8me br\xFBl\xE9"
         "e\r\n",
         {},
         "text/plain; charset=windows-1252"},
        {"utf-8 vcard", "Ann.vcf", "BEGIN:VCARD\r\nFN:Ann M\xC3\xBCller\r\nEND:VCARD\r\n", {}, "text/vcard; charset=UTF-8"},
        {"ascii only needs none", "notes.txt", "plain notes\r\n", {}, "text/plain\r\n"},
        {"html may name its own", "page.htm", "<p>caf\xE9</p>\r\n", {}, "text/html\r\n"},
        {"a fixed source encoding", "Recipe.txt", macRoman, {kEncodingISOLatin1, MailboxOrigin::Mac}, "text/plain; charset=ISO-8859-1"},
        {"bytes the fixed encoding cannot read", "list.txt", "caf\xC3\xA9 \x81", {kEncodingUTF8, MailboxOrigin::Mac}, "text/plain\r\n"},
        {"labels switched off", "Recipe.txt", macRoman, {kEncodingAutomatic, MailboxOrigin::Mac, false}, "text/plain\r\n"},
        {"binary stays as it was", "data.bin", std::string("\x00\x01\xFF\xFE", 4), {}, "application/octet-stream\r\n"},
    };
    for (const Case& c : cases) {
        Folders f;
        f.file("attach/" + c.name, c.bytes);
        const Outcome run = reattach(collect({"Subject: Text"}, {"Here.", R"(Attachment Converted: "c:\eudora\attach\)" + c.name + "\""}),
                                     f.folders(), nullptr, "\r\n", c.reading);
        ASSERT_EQ(run.result.outcome, ReattachOutcome::Written) << c.what;
        const auto p = parts(run.output.substr(*headerEnd(run.output)), topBoundary(run.output));
        ASSERT_EQ(p.size(), 2u) << c.what;
        EXPECT_TRUE(p[1].first.starts_with(std::string("Content-Type: ") + c.contentType)) << c.what << "\n" << p[1].first;
        EXPECT_EQ(decodeBase64(p[1].second), c.bytes) << c.what << ": the bytes stay as they are";
    }
}

} // namespace
} // namespace tarnwick
