#include "win/Integrity.h"

#include <sddl.h>

#include <string>
#include <vector>

#include "win/Modules.h"

namespace win {

namespace {

const TOKEN_INFORMATION_CLASS kTokenIntegrityLevel = static_cast<TOKEN_INFORMATION_CLASS>(25);

// Waiting on the writers' mutex and releasing it: all that a writer needs or asks for.
const DWORD kWriterRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Mandatory label: low, no write up. Waiting and releasing are not "write": a browser at
// low integrity may take the mutex, never change its security.
const char kLowLabel[] = "S:(ML;;NW;;;LW)";

// The user of a token as SDDL writes a SID; empty when it cannot be read.
std::string TokenUserSid(HANDLE token)
{
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(TOKEN_USER))
        return {};
    std::vector<unsigned char> buffer(size);
    char* text = nullptr;
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    std::string sid(text);
    LocalFree(text);
    return sid;
}

// Whoever makes an object on this thread: its impersonation token, else the process's.
std::string CreatorSid()
{
    Kernel token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return {};
    return TokenUserSid(token.get());
}

// The user the desktop belongs to, read from its shell's process: an administrator who
// elevated with another account's credentials is not that user. Empty when it cannot be
// read (no shell, or one we may not look into).
std::string DesktopUserSid()
{
    DWORD pid = 0;
    HWND shell = GetShellWindow();
    if (!shell || !GetWindowThreadProcessId(shell, &pid) || pid == 0) return {};
    const DWORD kQueryLimited = 0x1000; // PROCESS_QUERY_LIMITED_INFORMATION, Vista on
    Kernel process(OpenProcess(kQueryLimited, FALSE, pid));
    if (!process) process.reset(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    Kernel token;
    if (!process || !OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) return {};
    return TokenUserSid(token.get());
}

// Full rights for the creator's user; waiting and releasing for the desktop's user where
// that is another; nothing for anyone else, whatever the creator's default access list
// (an elevated token's admits administrators and SYSTEM alone). Empty when the creator
// cannot be read.
std::string WriterMutexSddl(bool lowLabel)
{
    std::string creator = CreatorSid();
    if (creator.empty()) return {};
    std::string sddl = "D:(A;;0x1F0001;;;" + creator + ")"; // MUTEX_ALL_ACCESS
    std::string desktop = DesktopUserSid();
    if (!desktop.empty() && desktop != creator)
        sddl += "(A;;0x100001;;;" + desktop + ")"; // SYNCHRONIZE | MUTEX_MODIFY_STATE
    // Before Vista the label does not parse.
    if (lowLabel) sddl += kLowLabel;
    return sddl;
}

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
    std::string sddl = WriterMutexSddl(lowLabel);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        descriptor = nullptr; // still shared by the creator's own processes
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    SECURITY_ATTRIBUTES* security = descriptor ? &attributes : nullptr;
    // Only the rights a writer uses: CreateMutexA on an existing mutex asks for all of
    // them, which its access list refuses everyone but its creator.
    using CreateExFn = HANDLE(WINAPI*)(SECURITY_ATTRIBUTES*, const char*, DWORD, DWORD);
    auto createEx = SystemCall<CreateExFn>("kernel32.dll", "CreateMutexExA");
    Kernel mutex(createEx ? createEx(security, name, 0, kWriterRights)
                          : CreateMutexA(security, FALSE, name));
    // Windows XP has no CreateMutexExA: a mutex another user made there is opened instead.
    if (!mutex && !createEx && GetLastError() == ERROR_ACCESS_DENIED)
        mutex.reset(OpenMutexA(kWriterRights, FALSE, name));
    if (descriptor) LocalFree(descriptor);
    return mutex;
}

} // namespace win
