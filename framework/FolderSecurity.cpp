// Work folder access rules: elevation check and the protected DACL.
#include "FolderSecurity.h"

#include <cstring>

namespace {

// Owns a token handle.
class TokenHandle {
public:
    TokenHandle()
    {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &handle_))
            handle_ = nullptr;
    }
    ~TokenHandle()
    {
        if (handle_)
            CloseHandle(handle_);
    }
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

// A well-known SID in a buffer of its own.
std::vector<unsigned char> WellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size))
        return {};
    sid.resize(size);
    return sid;
}

}  // namespace

bool IsProcessElevated()
{
    TokenHandle token;
    if (token.Get()) {
        TOKEN_ELEVATION elevation = {};
        DWORD size = 0;
        if (GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size))
            return elevation.TokenIsElevated != 0;
    }
    std::vector<unsigned char> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    BOOL member = FALSE;
    if (administrators.empty() || !CheckTokenMembership(nullptr, administrators.data(), &member))
        return false;
    return member != FALSE;
}

Status FolderSecurity::Build(PSID user, bool elevated)
{
    if (!user || !IsValidSid(user))
        return Status::Error(ERROR_INVALID_SID);
    const DWORD userSize = GetLengthSid(user);
    user_.assign(static_cast<unsigned char*>(user), static_cast<unsigned char*>(user) + userSize);
    std::vector<unsigned char> system = WellKnownSid(WinLocalSystemSid);
    std::vector<unsigned char> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    if (system.empty() || administrators.empty())
        return Status::LastError();

    struct Entry {
        PSID sid;
        DWORD mask;
    };
    const Entry elevatedEntries[] = {{system.data(), GENERIC_ALL},
                                     {administrators.data(), GENERIC_ALL},
                                     {user_.data(), GENERIC_READ | GENERIC_EXECUTE}};
    const Entry userEntries[] = {{user_.data(), GENERIC_ALL}, {system.data(), GENERIC_ALL}};
    const Entry* entries = elevated ? elevatedEntries : userEntries;
    const size_t count = elevated ? 3 : 2;
    DWORD aclSize = sizeof(ACL);
    for (size_t i = 0; i < count; ++i)
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(entries[i].sid);
    acl_.assign(aclSize, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION))
        return Status::LastError();
    for (size_t i = 0; i < count; ++i) {
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, entries[i].mask,
                                   entries[i].sid))
            return Status::LastError();
    }
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return Status::LastError();
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    return Status::Ok();
}

Status FolderSecurity::BuildForThisProcess()
{
    TokenHandle token;
    if (!token.Get())
        return Status::LastError();
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0)
        return Status::LastError();
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
        return Status::LastError();
    TOKEN_USER user;
    memcpy(&user, buffer.data(), sizeof user);
    return Build(user.User.Sid, IsProcessElevated());
}
