// A fresh folder of one test's own, removed with everything in it at the end.
#pragma once

#include <string>

namespace test_support {

// A new, empty folder under the temporary folder, named after the process id
// and a counter and claimed by creating it (an existing one is passed over),
// so that test programs running side by side never share one. The destructor
// removes it as RemoveTree does: read-only bits cleared, links not followed.
// Throws std::runtime_error when no folder can be made.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Without a trailing separator.
    const std::string& Path() const { return path_; }
    // Path() + the platform's separator + leaf.
    std::string operator/(const std::string& leaf) const;

private:
    // Per platform (ScratchFolder_win32.cpp, ScratchFolder_posix.cpp).
    static std::string TempFolder();  // without a trailing separator
    static std::string ProcessId();

    std::string path_;
};

}  // namespace test_support
