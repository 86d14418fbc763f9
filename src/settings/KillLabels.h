#pragma once
#include <cstdint>
#include <string>

// A kill counter as its label shows it: the count with the user's thousands separator
// and no decimals, then the words ("  Kills Total", "  Kills Today").
std::string KillLabelText(int32_t count, const char* words);
