// Scratch folders and whole-file helpers for the launcher's tests.
#pragma once

#include <windows.h>

#include <string>

namespace launcher_test {

// A fresh, empty folder under the temporary path, removed with everything in
// it when the object goes away (read-only bits are cleared first).
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& leaf) const { return path_ + "\\" + leaf; }

private:
    std::string path_;
};

// Removes path and everything below it, clearing read-only bits, never
// following reparse points. Independent of the code under test.
void RemoveAll(const std::string& path);

bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace launcher_test
