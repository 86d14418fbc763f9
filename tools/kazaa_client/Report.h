#pragma once
// The stand-in client's record of what was done to it: one line per event,
// "<tick> <event> <detail>", appended to the report file (or standard output).
#include <string>

namespace standin {

void OpenReport(const std::string& path);
void Report(const std::string& event, const std::string& detail);

} // namespace standin
