#pragma once
// What the mailbox conversion tests share: reading a file whole, comparing outputs byte
// by byte (ByteDiff.h), the options with every conversion step on, and a scratch folder
// whose test hears every logged line.

#include "ByteDiff.h"
#include "engine/ConversionOptions.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::testSupport {

inline std::string readFile(const std::string& file)
{
    return (std::ostringstream() << std::ifstream(file, std::ios::binary).rdbuf()).str();
}

/// Encoding conversion from `source` to the first of `charsets` that fits, with tags,
/// header encoding, NBSP replacement, empty lines, Date headers and attachments (looked
/// for in `attachmentFolder`) all on, and CR LF line ends.
inline ConversionOptions everyStepOn(EncodingId source, std::vector<std::string> charsets, const std::string& attachmentFolder)
{
    ConversionOptions options;
    options.convertEncodings = true;
    options.sourceEncoding = source;
    options.charsetNames = std::move(charsets);
    options.processEudoraTags = true;
    options.crlfLineEndings = true;
    options.encodeHeaders = true;
    options.replaceNoBreakSpaces = true;
    options.addEmptyLines = true;
    options.complementDateHeaders = true;
    options.putBackAttachments = true;
    options.attachmentFolders = AttachmentFolders::open({attachmentFolder}, {});
    return options;
}

/// A fixture with a fresh folder (holding attach/report.txt, for messages that name that
/// file) and the lines logged while the test runs, from any thread.
class ScratchFolderTest : public ::testing::Test {
protected:
    /// `pattern`: the folder's mkdtemp pattern, such as "/tmp/tarnwick-name-XXXXXX".
    explicit ScratchFolderTest(std::string pattern) : pattern_(std::move(pattern)) {}

    void SetUp() override
    {
        ASSERT_NE(::mkdtemp(pattern_.data()), nullptr);
        dir_ = pattern_;
        std::filesystem::create_directories(dir_ + "/attach");
        std::ofstream(dir_ + "/attach/report.txt", std::ios::binary) << "the report\n";
        setLogSink([this](std::string_view line) {
            const std::lock_guard lock(logMutex_);
            log_.emplace_back(line);
        });
    }

    void TearDown() override
    {
        setLogSink({});
        std::filesystem::remove_all(dir_);
    }

    void clearLog()
    {
        const std::lock_guard lock(logMutex_);
        log_.clear();
    }

    std::vector<std::string> loggedLines()
    {
        const std::lock_guard lock(logMutex_);
        return log_;
    }

    std::string dir_;

private:
    std::string pattern_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

} // namespace tarnwick::testSupport
