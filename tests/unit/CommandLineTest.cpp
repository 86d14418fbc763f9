#include <gtest/gtest.h>

#include "app/CommandLine.h"

using app::CommandArguments;
using app::FindStartSwitch;
using app::StartSwitch;

namespace {

struct Case {
    const char* commandLine;
    StartSwitch expected;
};

constexpr char kProgram[] = "C:\\Program Files\\Quellor\\QUELLOR.EXE";

StartSwitch SwitchOf(const char* line, const char* program = kProgram)
{
    return FindStartSwitch(CommandArguments(line, program));
}

} // namespace

TEST(StartSwitch, CommandLinesAsTheSystemGivesThem)
{
    const Case cases[] = {
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\"", StartSwitch::None},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" /i", StartSwitch::Install},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" -i", StartSwitch::Install},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" /I", StartSwitch::Install},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" -install", StartSwitch::Install},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" /u", StartSwitch::Uninstall},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" -U", StartSwitch::Uninstall},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" /UNINSTALL", StartSwitch::Uninstall},
        // Uninstall wins whichever comes first.
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" /i /u", StartSwitch::Uninstall},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" -u -i", StartSwitch::Uninstall},
        // Glued to the program name: no blank before the switch.
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\"/i", StartSwitch::None},
        {"C:\\Q\\QUELLOR.EXE/u", StartSwitch::None},
        // Not a switch: no blank, or another letter.
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" x/i", StartSwitch::None},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" /x", StartSwitch::None},
        {"\"C:\\Program Files\\Quellor\\QUELLOR.EXE\" \t/i", StartSwitch::None},
        // The uninstall entry's command: the unquoted path holding blanks, then -u.
        {"C:\\Program Files\\Quellor\\QUELLOR.EXE -u", StartSwitch::Uninstall},
        {"c:\\program files\\quellor\\quellor.exe -u", StartSwitch::Uninstall},
        {"C:\\Program Files\\Quellor\\QUELLOR.EXE", StartSwitch::None},
        // Started by a bare name from a prompt.
        {"quellor /i", StartSwitch::Install},
        {"quellor", StartSwitch::None},
        {"", StartSwitch::None},
        {"\"unterminated /u", StartSwitch::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SwitchOf(c.commandLine), c.expected) << c.commandLine;
}

TEST(StartSwitch, ProgramFolderThatLooksLikeASwitchIsNotOne)
{
    const struct {
        const char* line;
        const char* program;
        StartSwitch expected;
    } cases[] = {
        {"\"C:\\Tools -utilities\\QUELLOR.EXE\"", "C:\\Tools -utilities\\QUELLOR.EXE",
         StartSwitch::None},
        {"C:\\Tools -utilities\\QUELLOR.EXE", "C:\\Tools -utilities\\QUELLOR.EXE",
         StartSwitch::None},
        {"\"C:\\My -install files\\QUELLOR.EXE\" ", "C:\\My -install files\\QUELLOR.EXE",
         StartSwitch::None},
        {"\"C:\\Tools -utilities\\QUELLOR.EXE\" /i", "C:\\Tools -utilities\\QUELLOR.EXE",
         StartSwitch::Install},
        {"C:\\Tools -utilities\\QUELLOR.EXE -i", "C:\\Tools -utilities\\QUELLOR.EXE",
         StartSwitch::Install},
        {"C:\\Tools /u\\QUELLOR.EXE /i", "C:\\Tools /u\\QUELLOR.EXE", StartSwitch::Install},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SwitchOf(c.line, c.program), c.expected) << c.line;
}

TEST(StartSwitch, ArgumentsKeepTheirLeadingBlank)
{
    EXPECT_EQ(CommandArguments("\"C:\\a b\\Q.EXE\" /i", "C:\\a b\\Q.EXE"), " /i");
    EXPECT_EQ(CommandArguments("  C:\\a\\Q.EXE -u", "C:\\a\\Q.EXE"), " -u");
    EXPECT_EQ(CommandArguments("C:\\a\\Q.EXE", "C:\\a\\Q.EXE"), "");
}

TEST(StartSwitch, TheMachinePartIsAWordOfItsOwn)
{
    const struct {
        const char* arguments;
        bool machinePart;
    } cases[] = {
        {" /u /machine", true},
        {" /u /MACHINE", true},
        {" /u\t/machine ", true},
        {" /u /machines", false},
        {" /u x/machine", false},
        {" /u", false},
        {"", false},
        {" /machine", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::HasWord(c.arguments, app::kMachinePartSwitch), c.machinePart) << c.arguments;
    // The companion never turns an uninstallation into something else.
    EXPECT_EQ(FindStartSwitch(" /u /machine"), StartSwitch::Uninstall);
}
