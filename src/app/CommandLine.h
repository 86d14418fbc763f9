#pragma once
// Start switches on the command line. Platform-free: built natively for the sanitizer tests.
#include <string>
#include <string_view>

namespace app {

enum class StartSwitch { None, Install, Uninstall };

// The arguments after the program path of a command line as the system gives it: after
// the closing quote of a quoted path; after the program path itself when the line starts
// with it unquoted (it may hold blanks); otherwise after the first word. The blank that
// separates them is kept.
std::string_view CommandArguments(std::string_view commandLine, std::string_view programPath);

// " /u" or " -u" anywhere in the lower-cased arguments uninstalls (checked first);
// " /i" or " -i" installs. Longer words that begin so count too.
StartSwitch FindStartSwitch(std::string_view arguments);

// The uninstall switch's companion that the program gives the part of an uninstallation it
// runs elevated: the machine's part alone, without asking again.
inline constexpr char kMachinePartSwitch[] = "/machine";

// True when the arguments hold the word as a word of its own (between blanks), in any case.
bool HasWord(std::string_view arguments, std::string_view word);

} // namespace app
