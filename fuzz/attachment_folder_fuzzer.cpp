// Fuzzes the attachment-folder lookup against a tree that changes between lookups. The
// input is a list of steps: create a file, a sub-folder or a link (to a folder outside)
// in the attachment folder, remove one, swap the whole folder for a link to the
// outside folder, look a name up, or search the attachment folders again. Checks: a
// file is only ever opened from the folder that the search found (never through a
// link, never from outside, whatever was swapped since), and a search never takes a
// link for an attachment folder. Deterministic: one thread, one fresh tree per input.

#include "FuzzSupport.h"

#include "batch/AttachmentFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace tarnwick;
namespace fs = std::filesystem;

const std::string& scratch()
{
    static const std::string root = [] {
        // Memory-backed where there is one: every input makes a fresh tree.
        std::string pattern = std::string(fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + "/tarnwick-folder-fuzz.XXXXXX";
        return std::string(::mkdtemp(pattern.data()));
    }();
    return root;
}

// Names from a small set, so that steps meet each other's files; any byte string too.
std::string nameFrom(const std::uint8_t*& data, const std::uint8_t* end)
{
    static const char* const kNames[] = {"a.txt", "A.TXT", "b", "B", "sub", "SUB", "\xC3\xA9", "\xC3\x89", "secret", "link"};
    if (data == end)
        return "a.txt";
    const std::uint8_t pick = *data++;
    if (pick < 240)
        return kNames[pick % std::size(kNames)];
    std::string name;
    for (int i = 0; i < 1 + pick % 8 && data != end; ++i)
        name += static_cast<char>(*data++);
    return name;
}

void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes; }

// The tree of one input: the Eudora folder with its attachment folder, a folder outside
// it, and the folders found by the first search.
struct Tree {
    std::string eudora;
    std::string outside;
    std::string original; // where the folder found is now
    int swaps = 0;
    AttachmentFolders folders;
};

Tree makeTree(const std::string& root)
{
    std::error_code ignored;
    fs::remove_all(root, ignored);
    Tree tree;
    tree.eudora = root + "/Eudora";
    tree.outside = root + "/outside";
    fs::create_directories(tree.eudora + "/attach");
    fs::create_directories(tree.outside + "/sub");
    write(tree.eudora + "/Eudora.ini", "");
    write(tree.eudora + "/box.mbx", "From ???@??? Mon Dec 13 18:45:29 2010\n\n");
    // Everything outside says so; every file made inside the folder found says "in".
    for (const char* name : {"a.txt", "A.TXT", "b", "secret", "sub/a.txt", "sub/b"})
        write(tree.outside + "/" + name, "out");
    write(tree.eudora + "/attach/a.txt", "in");
    tree.original = tree.eudora + "/attach";
    tree.folders = AttachmentFolderSearch(tree.eudora, {}).foldersFor(tree.eudora + "/box.mbx");
    return tree;
}

// The attachment folder swapped for a link to the outside, the folder found moved aside.
void swapForLink(Tree& tree, std::uint8_t step)
{
    std::error_code ignored;
    const std::string moved = tree.eudora + "/attach.old" + std::to_string(tree.swaps++);
    fs::remove(tree.eudora + "/attach", ignored); // a link left by an earlier swap
    if (fs::is_directory(fs::symlink_status(tree.original)) && tree.original == tree.eudora + "/attach") {
        fs::rename(tree.original, moved, ignored);
        if (!ignored)
            tree.original = moved;
    }
    fs::create_directory_symlink(step & 0x80 ? tree.outside + "/sub" : tree.outside, tree.eudora + "/attach", ignored);
}

// Steps 0 to 4: the tree changes under the folders found.
void changeTree(Tree& tree, std::uint8_t step, const std::string& name)
{
    std::error_code ignored;
    const bool safe = isSafePathComponent(name);
    const std::string path = tree.original + "/" + name;
    switch (step % 7) {
    case 0: // a file inside
        if (safe)
            write(path, "in");
        break;
    case 1: // a sub-folder inside, with a file
        if (safe) {
            fs::create_directory(path, ignored);
            write(path + "/a.txt", "in");
        }
        break;
    case 2: // a link inside, to a file or folder outside
        if (safe)
            fs::create_symlink(step & 0x80 ? tree.outside + "/sub" : tree.outside + "/secret", path, ignored);
        break;
    case 3: // a file removed
        if (safe)
            fs::remove(path, ignored);
        break;
    default:
        swapForLink(tree, step);
        break;
    }
}

// A lookup, by one name or through a sub-folder: only ever a file from inside.
void lookUp(const Tree& tree, std::uint8_t step, const std::string& name, const std::uint8_t*& data, const std::uint8_t* end)
{
    std::vector<std::string> components{name};
    if (step & 0x80)
        components = {nameFrom(data, end), name};
    ContainedLookup lookup = tree.folders.files[0]->openFile(components);
    if (lookup.file) {
        std::string bytes(8, '\0');
        const auto got = lookup.file->read(bytes.data(), bytes.size());
        FUZZ_CHECK(got.has_value());
        bytes.resize(*got);
        FUZZ_CHECK(bytes == "in");
    } else {
        FUZZ_CHECK(lookup.error != 0);
    }
}

// A fresh search: never a link for an attachment folder.
void searchAgain(const Tree& tree)
{
    const AttachmentFolders again = AttachmentFolderSearch(tree.eudora, {}).foldersFor(tree.eudora + "/box.mbx");
    const bool linked = fs::is_symlink(tree.eudora + "/attach");
    FUZZ_CHECK(again.files.size() == (linked ? 0u : 1u));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Tree tree = makeTree(scratch() + "/t");
    FUZZ_CHECK(tree.folders.files.size() == 1);
    const std::uint8_t* const end = data + size;
    while (data != end) {
        const std::uint8_t step = *data++;
        const std::string name = nameFrom(data, end);
        if (step % 7 == 5)
            lookUp(tree, step, name, data, end);
        else if (step % 7 == 6)
            searchAgain(tree);
        else
            changeTree(tree, step, name);
    }
    return 0;
}
