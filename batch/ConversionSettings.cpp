#include "batch/ConversionSettings.h"

#include "platform/SettingsStore.h"
#include "platform/UserLanguage.h"
#include "settings/SettingsKeys.h"

namespace tarnwick {

ConversionOptions readConversionOptions(const SettingsStore& store)
{
    ConversionOptions options;
    options.convertEncodings = store.boolValue(keys::kConvertEncodings);
    // Stored as the window's menu tags are: the identifier's 32-bit pattern as a number.
    options.sourceEncoding = static_cast<EncodingId>(store.integerValue(keys::kMboxEncoding));
    options.charsetNames = store.stringListValue(keys::kCharsetNames).value_or(std::vector<std::string>{});
    options.processEudoraTags = store.boolValue(keys::kProcessEudoraTags);
    options.convertRichText = store.boolValue(keys::kConvertRichText);
    options.crlfLineEndings = store.boolValue(keys::kConvertLineEndings);
    // Thunderbird writes its folders with LF, and its own status headers into them.
    const bool thunderbird = store.stringValue(keys::kOutputLayout).value_or(std::string()) == "thunderbird";
    options.lfLineEndings = thunderbird;
    if (thunderbird)
        options.extraStatusHeaders = ExtraStatusHeaders::Thunderbird;
    options.complementDateHeaders = store.boolValue(keys::kComplementDateHeaders);
    options.addEmptyLines = store.boolValue(keys::kAddEmptyLines);
    options.replaceNoBreakSpaces = store.boolValue(keys::kReplaceNBSPWithSpaceInMacJapanese);
    options.putBackAttachments = store.boolValue(keys::kPutBackAttachments);
    options.labelTextAttachments = store.boolValue(keys::kLabelTextAttachments);
    options.encodeHeaders = store.boolValue(keys::kEncodeHeaders);
    options.dropStaleLengths = store.boolValue(keys::kDropStaleLengths);
    options.mendCROnlyLineEndings = store.boolValue(keys::kMendCROnlyLineEndings);
    // Messages removed in Eudora stay among the mailbox's own only when asked; kept
    // apart, they are converted by a pass of their own (UnindexedInput::Only).
    options.unindexed
        = store.stringValue(keys::kRemovedMessages).value_or(std::string()) == "inside" ? UnindexedInput::Inside : UnindexedInput::Apart;
    options.language = userLanguage();
    return options;
}

} // namespace tarnwick
