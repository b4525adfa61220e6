#pragma once
// A temporary folder for one test, removed with everything in it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace tarnwick::test {

struct TempFolder {
    std::string path = [] { char pattern[] = "/tmp/tarnwick-batch.XXXXXX"; return std::string(::mkdtemp(pattern)); }();
    ~TempFolder() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    void write(const std::string& name) const { std::ofstream(*this / name) << "keep"; }
    std::string read(const std::string& name) const { return std::string(std::istreambuf_iterator<char>(std::ifstream(*this / name).rdbuf()), {}); }
};

} // namespace tarnwick::test
