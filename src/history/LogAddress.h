#pragma once
// What the History Log's menu makes of a logged address: the site a rule is made for, and
// the form in which an address may be handed to the user's browser. Platform-free: built
// natively for the sanitizer tests.
#include <optional>
#include <string>
#include <string_view>

namespace history {

// The site of an address as a rule's URL: scheme, "://", host (with its port when it has
// one), "/"; scheme and host in small letters, user name and password left out. Only for
// http, https and ftp addresses with a host; nothing for any other (about:blank,
// javascript://x/, file://server/...), nor for one whose host the browser helper could read
// differently (blanks, backslashes, a bad port, a "?" written for a character it lacked).
std::optional<std::string> SiteOf(std::string_view address);

// An http or https address that has a site (SiteOf), as the shell may pass it to the browser:
// blanks, quotes and control characters percent-encoded, so that it reaches the browser as one
// address and never as more arguments. Nothing for any other address: a log entry is not
// trusted to name a program or a file to open.
std::optional<std::string> BrowsableAddress(std::string_view address);

} // namespace history
