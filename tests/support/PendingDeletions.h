// The system's list of deletions at restart (Windows tests only).
#pragma once

#include <string>
#include <vector>

namespace test_support {

// Removes the deletions at restart of folder and the paths below it from the
// system's list (PendingFileRenameOperations of the Session Manager) and
// returns them in their order there. A missing list gives nothing; a list that
// cannot be opened also fails the running test.
std::vector<std::string> TakePendingDeletions(const std::string& folder);

}  // namespace test_support
