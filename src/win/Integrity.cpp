#include "win/Integrity.h"

#include <sddl.h>

#include <vector>

namespace win {

namespace {

const TOKEN_INFORMATION_CLASS kTokenIntegrityLevel = static_cast<TOKEN_INFORMATION_CLASS>(25);

// Mandatory label: low, no write up. No access list is given, so the creator's default holds.
const char kLowLabel[] = "S:(ML;;NW;;;LW)";

} // namespace

contract::Integrity TokenIntegrity(HANDLE token)
{
    DWORD size = 0;
    // Before Vista the class is unknown and the call fails outright.
    if (GetTokenInformation(token, kTokenIntegrityLevel, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(SID_AND_ATTRIBUTES))
        return contract::Integrity::None;
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token, kTokenIntegrityLevel, buffer.data(), size, &size))
        return contract::Integrity::None;
    // TOKEN_MANDATORY_LABEL begins with the label's SID_AND_ATTRIBUTES.
    PSID sid = reinterpret_cast<SID_AND_ATTRIBUTES*>(buffer.data())->Sid;
    if (!sid || !IsValidSid(sid) || *GetSidSubAuthorityCount(sid) == 0)
        return contract::Integrity::None;
    return contract::IntegrityFromRid(*GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1));
}

contract::Integrity ProcessIntegrity()
{
    Kernel token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return contract::Integrity::None;
    return TokenIntegrity(token.get());
}

Kernel CreateSharedMutex(const char* name, bool lowLabel)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (lowLabel && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                        kLowLabel, SDDL_REVISION_1, &descriptor, nullptr))
        descriptor = nullptr; // still shared by processes of one level
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    Kernel mutex(CreateMutexA(descriptor ? &attributes : nullptr, FALSE, name));
    if (descriptor) LocalFree(descriptor);
    return mutex;
}

} // namespace win
