#include "app/ChooserStart.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace tarnwick {

ChooserStart chooserStartLocation(ChooserKind kind, std::string_view fieldText)
{
    const std::string path = standardizePath(fieldText);
    if (path.empty())
        return {};
    if (const EntryType type = targetType(path); type != EntryType::None) {
        if (type == EntryType::Directory)
            return {path, std::nullopt};
        ChooserStart start{parentPath(path), std::nullopt};
        if (kind == ChooserKind::Source)
            start.name = fileName(path);
        return start;
    }
    const std::string parent = parentPath(path);
    if (!parent.empty() && targetType(parent) == EntryType::Directory)
        return {parent, std::nullopt};
    return {};
}

} // namespace tarnwick
