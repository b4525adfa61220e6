// Fuzzes the folder map reader and the real-name rules: every kept line names a
// plain file, and every real name that is used is one safe path component.

#include "FuzzSupport.h"

#include "batch/DescMap.h"
#include "batch/RealName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnwick::fuzz::ExactBytes bytes(data, size);
    const tarnwick::DescMap map = tarnwick::DescMap::parse(bytes.view());
    for (const tarnwick::DescMapEntry& entry : map.entries()) {
        FUZZ_CHECK(!entry.fileName.empty() && entry.fileName != "." && entry.fileName != "..");
        FUZZ_CHECK(entry.fileName.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos);
        FUZZ_CHECK(entry.type == 'S' || entry.type == 'M' || entry.type == 'F');
        FUZZ_CHECK(map.find(entry.fileName) == &entry);

        const std::optional<std::string> safe = tarnwick::safeNameComponent(entry.displayName);
        if (!safe)
            continue;
        FUZZ_CHECK(!safe->empty() && safe->size() <= tarnwick::kMaximumRealNameBytes);
        FUZZ_CHECK((*safe)[0] != '.');
        for (const char c : *safe)
            FUZZ_CHECK(c != '/' && c != ':' && c != '\\' && static_cast<unsigned char>(c) >= 0x20);
        const std::string mailbox = tarnwick::withExtensionOf(*safe, entry.fileName);
        FUZZ_CHECK(mailbox.find('/') == std::string::npos && mailbox != "." && mailbox != "..");
    }
    return 0;
}
