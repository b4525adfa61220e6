#pragma once
// The benchmark's profiles: which corpus, which settings, and which reference tools
// run on the same file. To add a profile, add one entry to the table in Profiles.cpp.

#include "Corpus.h"

#include "platform/SettingsStore.h"

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
    /// Fills the volatile layer of the store for this profile (the full set of options).
    void (*applySettings)(SettingsStore& store);
    std::vector<ReferenceTool> references;
    bool runByDefault;
};

const std::vector<Profile>& profiles();

} // namespace tarnwick::bench
