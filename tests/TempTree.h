#pragma once
// A folder under /tmp that a test fills with folders and files and that goes with the test.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace tarnwick::test {

struct TempTree {
    std::string path = [] {
        char pattern[] = "/tmp/tarnwick-tree.XXXXXX";
        return std::filesystem::canonical(::mkdtemp(pattern)).string();
    }();
    TempTree() = default;
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    ~TempTree()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    void folder(const std::string& name) const { std::filesystem::create_directories(*this / name); }
    void file(const std::string& name, const std::string& bytes = "x") const { std::ofstream(*this / name, std::ios::binary) << bytes; }
};

} // namespace tarnwick::test
