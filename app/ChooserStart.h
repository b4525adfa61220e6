#pragma once
// Where a chooser opens, from the text of its own field.

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

enum class ChooserKind { Source, Destination, AttachmentsFolder };

struct ChooserStart {
    std::optional<std::string> folder; // none: the chooser's own default place
    std::optional<std::string> name;   // preselected; only the source chooser has one
};

/// P is the field text standardised. A folder at P starts in P; anything else at P
/// starts in P's parent (the source chooser preselecting P's last component); nothing
/// at P but a folder at its parent starts in the parent; otherwise, the empty field
/// included, neither folder nor name.
ChooserStart chooserStartLocation(ChooserKind kind, std::string_view fieldText);

} // namespace tarnwick
