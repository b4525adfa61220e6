#pragma once
// Generated Eudora mailboxes for the benchmark: realistic headers and message sizes,
// a fixed seed, so every run and every machine measures the same bytes.

#include <cstdint>
#include <string>

namespace tarnwick::bench {

enum class LineEndings {
    CR,    // Mac Eudora
    CRLF,  // Windows Eudora
    Mixed, // mostly CR LF, with runs of LF and of CR (files moved between systems)
};

enum class BodyCharset {
    ASCII,
    Windows1252, // accented words and curly quotes in the bodies
    ShiftJIS,    // Japanese text in the bodies
};

struct CorpusPlan {
    LineEndings lineEndings = LineEndings::CR;
    BodyCharset charset = BodyCharset::ASCII;
    std::uint64_t sizeBytes = 64u << 20;
    std::uint64_t seed = 1;
};

/// A file name that identifies the corpus (kind, size, seed).
std::string corpusFileName(const CorpusPlan& plan);

/// Writes the corpus to `path` (at least plan.sizeBytes, ending after a whole message).
/// False when the file cannot be written.
bool writeCorpus(const std::string& path, const CorpusPlan& plan);

} // namespace tarnwick::bench
