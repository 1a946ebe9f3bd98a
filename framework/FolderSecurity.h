// The access rules a launcher's work folder is created with.
#pragma once

#include <windows.h>

#include <vector>

#include "Status.h"

// Whether this process runs with administrator rights: its token is elevated
// (TokenElevation); where the token cannot say (systems before UAC), whether
// it is a member of Administrators (CheckTokenMembership). False when neither
// can be read.
bool IsProcessElevated();

// A self-contained security descriptor for a new folder, built before the
// folder is created so that there is never a moment in which it has other
// rules. The DACL is protected (nothing inherited from the temporary folder)
// and every ACE is inherited by everything inside (OBJECT_INHERIT_ACE |
// CONTAINER_INHERIT_ACE). The owner and group are left unset: the creator's
// default owner applies.
//   elevated:     SYSTEM and Administrators full control (GENERIC_ALL),
//                 the user read and execute (GENERIC_READ | GENERIC_EXECUTE);
//   not elevated: the user full control, and SYSTEM full control (services
//                 such as virus scanners keep working; SYSTEM can take any
//                 object anyway).
// So when elevated, another unprivileged process of the same user can read
// the folder but not change it. The object refers to its own storage: it can
// be neither copied nor moved.
class FolderSecurity {
public:
    FolderSecurity() = default;
    FolderSecurity(const FolderSecurity&) = delete;
    FolderSecurity& operator=(const FolderSecurity&) = delete;

    // Builds the rules for user (copied) and the given elevation.
    Status Build(PSID user, bool elevated);
    // Builds them for this process's own user (TokenUser) and IsProcessElevated().
    Status BuildForThisProcess();

    // For CreateDirectoryA; valid after a successful Build, while this object lives.
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }
    PSECURITY_DESCRIPTOR Descriptor() { return &descriptor_; }

private:
    std::vector<unsigned char> user_;
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
};
