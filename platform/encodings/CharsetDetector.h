#pragma once
// ICU's charset detector, for a sample of text in an encoding not known.

#include <optional>
#include <string_view>

namespace tarnwick {

/// The detector's best match: the charset's name (ICU's) and its confidence, 0 to 100.
struct DetectedCharset {
    std::string_view name; // valid until the thread's next detectCharset
    int confidence = 0;
};

/// What ICU's detector makes of `sample`; none when it names nothing or cannot run.
/// Each thread keeps a detector of its own.
std::optional<DetectedCharset> detectCharset(std::string_view sample);

} // namespace tarnwick
