// Fuzzes Eudora.ini and the attachment folder it names, and the matching of names Mac
// Eudora shortened with "#". The input is Eudora.ini's bytes, then after a line "--"
// a long name and the names of a folder, one a line. Checks: every path component read
// from a setting is a plain name; the search takes a folder named by the settings only
// inside the Eudora folder or beside it, never the Eudora folder itself, the folder
// holding it or anything through a link; a shortened name found is one of the folder's,
// fits the long name, and is the only one that does. The names of [Labels] are seven,
// UTF-8 without control characters, the same from the search as from the text, and
// written as X-Eudora-Label lines of printable ASCII of at most 78 characters.
// Deterministic: one fixed tree.

#include "FuzzSupport.h"

#include "batch/AttachmentFolders.h"
#include "batch/EudoraIni.h"
#include "engine/attachments/ShortenedName.h"
#include "engine/output/StatusHeaders.h"
#include "platform/ContainedFile.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace tarnwick;
namespace fs = std::filesystem;

// root/Eudora with attach, Saved and a link to the outside; Beside and a link beside it.
const std::string& tree()
{
    static const std::string root = [] {
        std::string pattern = std::string(fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + "/tarnwick-ini-fuzz.XXXXXX";
        const std::string made = fs::canonical(::mkdtemp(pattern.data())).string();
        for (const char* folder : {"/t/Eudora/attach", "/t/Eudora/Saved/Sub", "/t/Beside", "/outside"})
            fs::create_directories(made + folder);
        fs::create_directory_symlink(made + "/outside", made + "/t/Eudora/Linked");
        fs::create_directory_symlink(made + "/outside", made + "/t/LinkedBeside");
        std::ofstream(made + "/t/Eudora/In.mbx") << "From ???@??? Mon Dec 13 18:45:29 2010\n\n";
        return made + "/t";
    }();
    return root;
}

void checkPath(std::string_view value)
{
    const std::optional<WindowsPath> path = parseWindowsPath(value);
    if (!path)
        return;
    FUZZ_CHECK(!path->absolute || path->ups == 0);
    for (const std::string& component : path->components) {
        FUZZ_CHECK(isSafePathComponent(component));
        FUZZ_CHECK(component.find('\\') == std::string::npos && component != "..");
    }
}

void checkLabels(const std::vector<std::string>& names)
{
    FUZZ_CHECK(names.size() == kEudoraLabels);
    for (const std::string& name : names) {
        std::u16string text;
        FUZZ_CHECK(decodeAppend(name.data(), name.size(), kEncodingUTF8, text));
        FUZZ_CHECK(std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }));
    }
    for (std::uint8_t label = 1; label <= kEudoraLabels; ++label) {
        MessageFacts facts;
        facts.marksKnown = true;
        facts.label = label;
        std::string out;
        appendStatusHeaders(facts, {}, ExtraStatusHeaders::Labels, "\r\n", out, names);
        for (std::size_t at = 0, end; (end = out.find("\r\n", at)) != std::string::npos; at = end + 2) {
            FUZZ_CHECK(end - at <= 78);
            FUZZ_CHECK(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(at), out.begin() + static_cast<std::ptrdiff_t>(end),
                                   [](char c) { return c >= 0x20 && c < 0x7F; }));
        }
        FUZZ_CHECK(out.ends_with("\r\n"));
    }
}

void checkSearch(const std::string& ini, const std::vector<std::string>& labelNames)
{
    const std::string& root = tree();
    const std::string eudora = root + "/Eudora";
    std::ofstream(eudora + "/Eudora.ini", std::ios::binary | std::ios::trunc) << ini;
    AttachmentFolderSearch search(eudora, {});
    FUZZ_CHECK(search.labelNamesFor(eudora + "/In.mbx") == labelNames);
    const AttachmentFolders folders = search.foldersFor(eudora + "/In.mbx");
    for (const std::string& path : AttachmentFolders::paths(folders.files)) {
        FUZZ_CHECK(path.starts_with(root + "/") && path != eudora);
        FUZZ_CHECK(fs::canonical(path).string() == path); // no link on the way
    }
}

void checkShortened(std::string_view rest)
{
    std::vector<std::string> names;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        names.emplace_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    if (names.empty())
        return;
    const std::string longName = names.front();
    names.erase(names.begin());
    const std::optional<std::string> found = findShortenedName(longName, names);
    const auto fits = std::count_if(names.begin(), names.end(), [&](const std::string& name) { return isShortenedName(name, longName); });
    if (found) {
        FUZZ_CHECK(std::find(names.begin(), names.end(), *found) != names.end());
        FUZZ_CHECK(*found != longName && isShortenedName(*found, longName));
        FUZZ_CHECK(std::count(names.begin(), names.end(), *found) == fits);
    } else {
        FUZZ_CHECK(fits != 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnwick::fuzz::ExactBytes bytes(data, size);
    std::string_view input = bytes.view();
    const std::size_t split = input.find("\n--\n");
    const std::string_view iniBytes = input.substr(0, split);
    const EudoraIni ini = EudoraIni::parse(iniBytes);
    for (const char* key : {"AttachDir", "AutoReceiveDir"})
        if (const std::optional<std::string> value = ini.value("Settings", key))
            checkPath(*value);
    const std::vector<std::string> labelNames = eudoraLabelNames(ini, westernFamily().windows);
    checkLabels(labelNames);
    checkSearch(std::string(iniBytes), labelNames);
    if (split != std::string_view::npos)
        checkShortened(input.substr(split + 4));
    return 0;
}
