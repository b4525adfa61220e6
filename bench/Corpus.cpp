#include "Corpus.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string_view>

namespace tarnwick::bench {
namespace {

constexpr std::string_view kWords[] = {
    "the",     "of",       "and",    "to",       "in",      "is",     "that",    "for",     "it",       "as",
    "with",    "was",      "on",     "be",       "at",      "by",     "this",    "had",     "not",      "are",
    "but",     "from",     "or",     "have",     "an",      "they",   "which",   "one",     "you",      "were",
    "meeting", "tomorrow", "report", "attached", "please",  "thanks", "regards", "project", "schedule", "question",
    "answer",  "budget",   "review", "draft",    "version", "server", "mailbox", "address", "again",
};
constexpr std::string_view kLatinWords[] = {"caf\xE9",
                                            "r\xE9sum\xE9",
                                            "na\xEFve",
                                            "\x93quoted\x94",
                                            "Z\xFCrich",
                                            "se\xF1or",
                                            "\xA3"
                                            "20",
                                            "fa\xE7"
                                            "ade"};
constexpr std::string_view kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

class Generator {
public:
    explicit Generator(const CorpusPlan& plan) : plan_(plan), random_(plan.seed) {}

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }

    const char* terminator()
    {
        switch (plan_.lineEndings) {
        case LineEndings::CR:
            return "\r";
        case LineEndings::CRLF:
            return "\r\n";
        case LineEndings::Mixed:
            // Runs of one kind, as when pieces of mailboxes from different systems meet.
            if (chance(0.01))
                mixedKind_ = uniform(0, 9);
            return mixedKind_ < 6 ? "\r\n" : mixedKind_ < 8 ? "\n" : "\r";
        }
        return "\r";
    }

    void line(std::string& out, std::string_view text)
    {
        out.append(text);
        out.append(terminator());
    }

    void word(std::string& out)
    {
        switch (plan_.charset) {
        case BodyCharset::Windows1252:
            if (chance(0.08)) {
                out.append(kLatinWords[uniform(0, std::size(kLatinWords) - 1)]);
                return;
            }
            break;
        case BodyCharset::ShiftJIS:
            if (chance(0.7)) {
                for (int i = uniform(2, 6); i > 0; --i) {
                    out += static_cast<char>(uniform(0x89, 0x97)); // leads whose rows are all level 1 kanji
                    int trail = uniform(0x40, 0xFC - 1);
                    out += static_cast<char>(trail == 0x7F ? 0x80 : trail);
                }
                return;
            }
            break;
        case BodyCharset::ASCII:
            break;
        }
        out.append(kWords[uniform(0, std::size(kWords) - 1)]);
    }

    // "Wed, 3 Jan 1996 01:05:34 +0100" for Date headers, "Wed Jan  3 01:05:34 1996"
    // for separator lines.
    std::string date(bool header)
    {
        const std::string_view day = kDays[uniform(0, 6)];
        const std::string_view month = kMonths[uniform(0, 11)];
        const int dayOfMonth = uniform(1, 28), year = uniform(1996, 2006);
        const int hour = uniform(0, 23), minute = uniform(0, 59), second = uniform(0, 59);
        char text[64];
        if (header)
            std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %+05d", day.data(), dayOfMonth, month.data(), year, hour, minute,
                          second, uniform(-8, 9) * 100);
        else
            std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", day.data(), month.data(), dayOfMonth, hour, minute, second,
                          year);
        return text;
    }

    void message(std::string& out, int number)
    {
        line(out, "From ???@??? " + date(false));
        line(out, "Received: from mail" + std::to_string(uniform(1, 99)) + ".example.org by pop.example.net");
        if (chance(0.5))
            line(out, "Received: from relay.example.com ([192.0.2." + std::to_string(uniform(1, 254)) + "])");
        if (!chance(0.1)) // some messages have no Date header
            line(out, "Date: " + date(true));
        line(out, "From: Sender " + std::to_string(uniform(1, 500)) + " <sender@example.org>");
        line(out, "To: recipient@example.net");
        std::string subject = "Subject:";
        for (int i = uniform(2, 8); i > 0; --i) {
            subject += ' ';
            word(subject);
        }
        line(out, subject);
        line(out, "Message-Id: <" + std::to_string(number) + "." + std::to_string(uniform(0, 1 << 30)) + "@example.org>");
        if (chance(0.3))
            line(out, "MIME-Version: 1.0");
        line(out, "");

        // Body: mostly 1-50 KB (median about 4 KB), now and then a long one.
        std::size_t bodyTarget = 0;
        if (chance(0.005)) {
            bodyTarget = static_cast<std::size_t>(uniform(200 << 10, 2 << 20));
        } else {
            const double size = std::exp(std::normal_distribution<double>(8.3, 1.0)(random_));
            bodyTarget = static_cast<std::size_t>(std::clamp(size, 1024.0, 50.0 * 1024));
        }
        std::string text;
        std::size_t written = 0;
        while (written < bodyTarget) {
            text.clear();
            if (chance(0.08)) {
                line(out, ""); // paragraph break
                continue;
            }
            const int width = uniform(30, 76);
            while (static_cast<int>(text.size()) < width) {
                if (!text.empty())
                    text += ' ';
                word(text);
            }
            line(out, text);
            written += text.size() + 1;
        }
    }

private:
    const CorpusPlan& plan_;
    std::mt19937_64 random_;
    int mixedKind_ = 0;
};

} // namespace

std::string corpusFileName(const CorpusPlan& plan)
{
    const char* endings = plan.lineEndings == LineEndings::CR ? "cr" : plan.lineEndings == LineEndings::CRLF ? "crlf" : "mixed";
    const char* charset = plan.charset == BodyCharset::ASCII ? "ascii" : plan.charset == BodyCharset::Windows1252 ? "cp1252" : "sjis";
    return std::string("corpus-") + endings + "-" + charset + "-" + std::to_string(plan.sizeBytes >> 20) + "MiB-seed"
        + std::to_string(plan.seed) + ".mbx";
}

bool writeCorpus(const std::string& path, const CorpusPlan& plan)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    Generator generator(plan);
    std::string chunk;
    std::uint64_t total = 0;
    bool ok = true;
    for (int number = 0; total < plan.sizeBytes && ok; ++number) {
        chunk.clear();
        generator.message(chunk, number);
        ok = std::fwrite(chunk.data(), 1, chunk.size(), file) == chunk.size();
        total += chunk.size();
    }
    return std::fclose(file) == 0 && ok;
}

} // namespace tarnwick::bench
