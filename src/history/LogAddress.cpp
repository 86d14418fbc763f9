#include "history/LogAddress.h"

#include <algorithm>

#include "rules/UrlText.h"

namespace history {

using namespace rules::text;

namespace {

bool IsHexDigit(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A host name's characters; bytes above 127 are letters of the ANSI code page.
bool IsHostChar(char c)
{
    return IsAsciiLetter(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
           static_cast<unsigned char>(c) > 127;
}

bool IsHost(std::string_view host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return std::all_of(host.begin() + 1, host.end() - 1,
                           [](char c) { return IsHexDigit(c) || c == ':' || c == '.'; });
    return !host.empty() && std::all_of(host.begin(), host.end(), IsHostChar);
}

bool IsPort(std::string_view port)
{
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit))
        return false;
    return std::stoi(std::string(port)) <= 65535;
}

// The browser helper writes a character its code page lacks as "?", which then ends the
// host early: "http://pop.?.example/" reads as the site "pop.". A host that ends in a dot
// or a hyphen, or a "?" followed by host characters up to the path, a port or the end, is
// taken for such a host: a query that looks like the rest of a host name is rare, a rule
// for the wrong site is not.
bool IsUnconvertedHost(std::string_view host, bool hasPort, std::string_view after)
{
    if (!host.empty() && (host.back() == '.' || host.back() == '-')) return true;
    if (hasPort || !after.starts_with('?')) return false;
    std::size_t end = std::min(after.find_first_of("/:#"), after.size());
    return std::all_of(after.begin() + 1, after.begin() + static_cast<std::ptrdiff_t>(end),
                       [](char c) { return c == '?' || IsHostChar(c); });
}

struct Parts {
    std::string scheme; // small letters
    std::string site;   // scheme://host[:port]/
};

// Splits as the browser helper's matcher does (the authority ends at the first "/?#", user
// information at its last "@"), and refuses what that matcher and a browser could read
// differently, so that a rule made from it covers the site the user saw.
std::optional<Parts> Split(std::string_view address)
{
    address = Trim(address);
    std::size_t separator = address.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    std::string_view scheme = address.substr(0, separator);
    if (!IsSchemeName(scheme)) return std::nullopt;

    std::string_view rest = address.substr(separator + 3);
    std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, authorityEnd);
    // A browser ends the host at a backslash too, the helper does not.
    if (authority.find('\\') != std::string_view::npos) return std::nullopt;
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);

    std::string_view host = authority, port;
    if (!authority.empty()) {
        // An IPv6 address in brackets holds colons of its own.
        bool bracketed = authority.front() == '[';
        std::size_t colon = bracketed ? authority.find("]:") : authority.find(':');
        if (colon != std::string_view::npos) {
            if (bracketed) ++colon;
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
        }
    }
    if (!IsHost(host) || (!port.empty() && !IsPort(port))) return std::nullopt;
    if (IsUnconvertedHost(host, !port.empty(), rest.substr(authorityEnd))) return std::nullopt;

    Parts parts;
    parts.scheme = LowerAscii(scheme);
    parts.site = parts.scheme + "://" + LowerAscii(host);
    if (!port.empty()) parts.site += ":" + std::string(port);
    parts.site += "/";
    return parts;
}

// A web address whose site fits a rule's URL (255 characters: a cut site would match other
// sites too). Opening asks no less: no host name is that long.
std::optional<Parts> WebSite(std::string_view address)
{
    std::optional<Parts> parts = Split(address);
    // Only web sites: "javascript://x.example/%0A..." is script whose rule would let every
    // page's script window beginning with that comment through.
    if (!parts || (parts->scheme != "http" && parts->scheme != "https" && parts->scheme != "ftp"))
        return std::nullopt;
    if (parts->site.size() > 255) return std::nullopt;
    return parts;
}

} // namespace

std::optional<std::string> SiteOf(std::string_view address)
{
    std::optional<Parts> parts = WebSite(address);
    if (!parts) return std::nullopt;
    return parts->site;
}

std::optional<std::string> BrowsableAddress(std::string_view address)
{
    std::optional<Parts> parts = WebSite(address);
    if (!parts || parts->scheme == "ftp") return std::nullopt;
    static const char digits[] = "0123456789ABCDEF";
    std::string safe;
    for (char c : Trim(address)) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 127 || c == '"') {
            safe += '%';
            safe += digits[byte >> 4];
            safe += digits[byte & 15];
        } else {
            safe += c;
        }
    }
    return safe;
}

} // namespace history
