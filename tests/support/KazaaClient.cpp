#include "KazaaClient.h"

#include <cstdlib>
#include <sstream>

namespace testsupport {

namespace {

std::string ClientPath()
{
    std::string path = "Z:" KAZAACLIENT_EXE;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

struct FindState {
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchClass(HWND wnd, LPARAM lp)
{
    auto* state = reinterpret_cast<FindState*>(lp);
    char name[256] = {};
    GetClassNameA(wnd, name, sizeof name);
    if (lstrcmpA(name, state->className) != 0) return TRUE;
    state->found = wnd;
    return FALSE;
}

struct TopState {
    DWORD pid;
    FindState find;
};

BOOL CALLBACK MatchTop(HWND wnd, LPARAM lp)
{
    auto* state = reinterpret_cast<TopState*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != state->pid) return TRUE;
    MatchClass(wnd, reinterpret_cast<LPARAM>(&state->find));
    if (!state->find.found)
        EnumChildWindows(wnd, MatchClass, reinterpret_cast<LPARAM>(&state->find));
    return state->find.found ? FALSE : TRUE;
}

} // namespace

KazaaClient::KazaaClient(const std::string& extraArgs)
{
    std::string folder = FreshFolder("kazaa");
    report_ = folder + "client.log";
    process_ =
        robot::Process::Start(ClientPath(), "--report \"" + report_ + "\" " + extraArgs, folder);
    if (!process_) return;
    PumpUntil([this] { return Count("ready") > 0; }, 15000);
    for (const ClientEvent& e : Events())
        if (e.event == "ready")
            main_ = reinterpret_cast<HWND>(
                static_cast<UINT_PTR>(std::strtoul(e.detail.c_str(), nullptr, 10)));
}

HWND KazaaClient::Find(const char* className) const
{
    TopState state{Pid(), {className, nullptr}};
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&state));
    return state.find.found;
}

std::vector<ClientEvent> KazaaClient::Events() const
{
    std::vector<ClientEvent> events;
    if (!FileExists(report_)) return events;
    std::istringstream lines(ReadFileBytes(report_));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        ClientEvent e{};
        fields >> e.tick >> e.event;
        std::getline(fields >> std::ws, e.detail);
        if (!e.event.empty()) events.push_back(e);
    }
    return events;
}

int KazaaClient::Count(const std::string& event, const std::string& detail) const
{
    int count = 0;
    for (const ClientEvent& e : Events())
        if (e.event == event && (detail.empty() || e.detail == detail)) ++count;
    return count;
}

std::multiset<std::string> KazaaClient::Closed() const
{
    std::multiset<std::string> closed;
    for (const ClientEvent& e : Events())
        if (e.event == "closed") closed.insert(e.detail);
    return closed;
}

HWND KazaaClient::EmbeddedBrowser() const
{
    return FindWindowExA(Find("Shell DocObject View"), nullptr, "Internet Explorer_Server",
                         nullptr);
}

void KazaaClient::ReopenAds() const
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(main_, WM_APP + 1, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
}

long KazaaClient::OutstandingReferences() const
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(main_, WM_APP + 2, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer)) return -1;
    return static_cast<long>(answer);
}

} // namespace testsupport
