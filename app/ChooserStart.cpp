#include "app/ChooserStart.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace tarnwick {

ChooserStart chooserStartLocation(ChooserKind kind, std::string_view fieldText)
{
    const std::string path = standardizePath(fieldText);
    if (path.empty())
        return {};
    bool isDirectory = false;
    if (fileExists(path, &isDirectory)) {
        if (isDirectory)
            return {path, std::nullopt};
        ChooserStart start{deletingLastPathComponent(path), std::nullopt};
        if (kind == ChooserKind::Source)
            start.name = lastPathComponent(path);
        return start;
    }
    const std::string parent = deletingLastPathComponent(path);
    if (!parent.empty() && fileExists(parent, &isDirectory) && isDirectory)
        return {parent, std::nullopt};
    return {};
}

} // namespace tarnwick
