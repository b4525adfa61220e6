#pragma once
// The benchmark's profiles: which corpus, which settings, and which reference tools
// run on the same file. To add a profile, add one entry to the table in Profiles.cpp.

#include "Corpus.h"

#include "engine/ConversionOptions.h"

#include <string>
#include <vector>

namespace tarnwick::bench {

/// A reference tool: a /bin/sh command line with {in} and {out} replaced by the paths.
struct ReferenceTool {
    std::string label;
    std::string command;
};

struct Profile {
    std::string name;
    std::string description;
    LineEndings lineEndings;
    BodyCharset charset;
    /// The conversion options of this profile.
    ConversionOptions (*options)();
    std::vector<ReferenceTool> references;
    bool runByDefault;
};

const std::vector<Profile>& profiles();

} // namespace tarnwick::bench
