#include "platform/encodings/CharsetDetector.h"

#include <unicode/ucsdet.h>

#include <cstdint>
#include <memory>

namespace tarnwick {
namespace {

struct DetectorCloser {
    void operator()(UCharsetDetector* detector) const { ucsdet_close(detector); }
};

} // namespace

std::optional<DetectedCharset> detectCharset(std::string_view sample)
{
    thread_local std::unique_ptr<UCharsetDetector, DetectorCloser> detector;
    UErrorCode status = U_ZERO_ERROR;
    if (!detector) {
        detector.reset(ucsdet_open(&status));
        if (U_FAILURE(status))
            return std::nullopt;
    }
    ucsdet_setText(detector.get(), sample.data(), static_cast<std::int32_t>(sample.size()), &status);
    const UCharsetMatch* match = ucsdet_detect(detector.get(), &status);
    if (U_FAILURE(status) || !match)
        return std::nullopt;
    const int confidence = ucsdet_getConfidence(match, &status);
    const char* name = ucsdet_getName(match, &status);
    if (U_FAILURE(status) || !name)
        return std::nullopt;
    return DetectedCharset{name, confidence};
}

} // namespace tarnwick
