#include "engine/output/MailboxOutput.h"

#include "platform/OutputFile.h"

namespace tarnwick {

bool MboxFileOutput::write(const std::string_view* pieces, std::size_t count, const MessageStart*, std::size_t)
{
    return count == 0 || file_.write(pieces, count);
}

int MboxFileOutput::error() const { return file_.error(); }

std::string MboxFileOutput::errorText() const { return file_.errorText(); }

int MboxFileOutput::spoolFolder() const { return file_.heldFolder(); }

} // namespace tarnwick
