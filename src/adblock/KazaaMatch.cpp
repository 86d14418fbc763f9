#include "adblock/KazaaMatch.h"

namespace adblock {

namespace {

constexpr std::string_view kTitlePrefix = "kazaa";
constexpr std::string_view kEmbeddedBrowserClass = "internet explorer_server";
constexpr std::string_view kFrameClass = "ieframe";

} // namespace

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered)
        c = LowerAscii(c);
    return lowered;
}

bool IsKazaaTitle(std::string_view copied)
{
    if (copied.size() != kTitlePrefix.size()) return false;
    for (std::size_t i = 0; i < copied.size(); ++i)
        if (LowerAscii(copied[i]) != kTitlePrefix[i]) return false;
    return true;
}

bool IsUsersBrowsingWindowClass(std::string_view lowered)
{
    return lowered == kFrameClass || lowered == "cabinetwclass" || lowered == "explorewclass";
}

bool IsBrowserFrameClass(std::string_view lowered)
{
    return lowered == kEmbeddedBrowserClass || lowered == kFrameClass;
}

ChildAction ClassifyChildClass(std::string_view lowered)
{
    // An embedded browser is emptied, never closed, whatever else its name holds.
    if (lowered == kEmbeddedBrowserClass) return ChildAction::EmptyPage;
    if (lowered.find("gif") != std::string_view::npos ||
        lowered.find("banner") != std::string_view::npos)
        return ChildAction::Close;
    return ChildAction::Leave;
}

} // namespace adblock
