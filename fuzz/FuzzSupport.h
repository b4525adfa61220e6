#pragma once
// Shared pieces of the fuzz targets: exact-size copies of the input (so that a read
// one byte before or after the bytes is an ASan report) and the charset candidate lists.

#include "engine/text/CharsetCandidates.h"
#include "platform/Log.h"
#include "platform/encodings/TextEncoding.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::fuzz {

#define FUZZ_CHECK(condition)                                                                                                              \
    do {                                                                                                                                   \
        if (!(condition)) {                                                                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                                             \
            std::abort();                                                                                                                  \
        }                                                                                                                                  \
    } while (0)

/// A heap block of exactly the given bytes; a zero-length block is still a distinct
/// allocation, so that any read through it is out of bounds.
class ExactBytes {
public:
    ExactBytes(const std::uint8_t* data, std::size_t size) : bytes_(new char[size]), size_(size)
    {
        if (size)
            std::memcpy(bytes_.get(), data, size);
    }
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

/// Takes bytes from the front of the input to choose options.
class Picker {
public:
    Picker(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte()
    {
        if (size_ == 0)
            return 0;
        --size_;
        return *data_++;
    }
    std::uint64_t u64()
    {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value = (value << 8) | byte();
        return value;
    }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

/// The source encodings the conversion targets cycle through.
inline EncodingId sourceEncoding(unsigned index)
{
    static const EncodingId encodings[] = {
        carryEncoding(encodingForIANAName("windows-1252")), kEncodingShiftJIS, kEncodingMacJapanese, kEncodingUTF8,
        carryEncoding(encodingForIANAName("iso-2022-jp")),
    };
    return encodings[index % (sizeof encodings / sizeof encodings[0])];
}

inline constexpr unsigned kSourceEncodingCount = 5;

/// Candidate lists as the charset field holds them.
inline const std::vector<std::string>& candidateNames(unsigned index)
{
    static const std::vector<std::vector<std::string>> lists = {
        {"us-ascii", "iso-8859-1", "utf-8"},
        {"iso-2022-jp", "utf-8"},
        {"shift_jis", "windows-1252"},
        {"x-mac-japanese", "bogus-name", "utf-8"},
    };
    return lists[index % lists.size()];
}

inline constexpr unsigned kCandidateListCount = 4;

/// TARNWICK_FUZZ_SKIP_KNOWN=1 steps around the faults saved under fuzz/crashes that
/// are not mended yet, so that long runs can find anything else.
inline bool skipKnownFaults()
{
    static const bool skip = std::getenv("TARNWICK_FUZZ_SKIP_KNOWN") != nullptr;
    return skip;
}

/// Quiets the log and fixes the time zone of the separator dates.
inline void setUpOnce()
{
    static const bool done = [] {
        setLogSink([](std::string_view) {});
        ::setenv("TZ", "Europe/Paris", 1);
        return true;
    }();
    (void)done;
}

/// The candidate list of one index, built once and kept, as during a job.
inline CharsetCandidates& candidateList(unsigned index)
{
    static std::optional<CharsetCandidates> lists[kCandidateListCount];
    std::optional<CharsetCandidates>& list = lists[index % kCandidateListCount];
    if (!list)
        list.emplace(candidateNames(index));
    return *list;
}

} // namespace tarnwick::fuzz
