#pragma once
// What a batch job did, beyond its final text: counters and name lists that the job
// fills as it goes and hands to its reporter once, before the final text.

#include "engine/AttachmentTally.h"

namespace tarnwick {

struct JobSummary {
    /// Files put back into messages, and files that attachment lines name but no
    /// attachment folder holds (with the first of them listed).
    AttachmentTally attachments;
};

} // namespace tarnwick
