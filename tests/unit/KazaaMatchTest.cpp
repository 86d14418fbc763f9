#include <gtest/gtest.h>

#include <string>

#include "adblock/KazaaMatch.h"

using adblock::ChildAction;
using adblock::ClassifyChildClass;
using adblock::IsBrowserFrameClass;
using adblock::IsKazaaTitle;
using adblock::LowerAscii;

namespace {

// What GetWindowTextA copies of a title into a six-character buffer.
std::string Copied(const std::string& title)
{
    return title.substr(0, adblock::kTitleBufferChars - 1);
}

} // namespace

TEST(KazaaTitle, OnlyAFiveCharacterKazaaPrefixInAnyCaseMarksTheClient)
{
    const struct {
        const char* title;
        bool client;
    } cases[] = {
        {"kazaa", true},
        {"KAZAA", true},
        {"KaZaA Media Desktop", true},
        {"kAzAa - search results", true},
        {"Kazaa\xE4\xF6", true},
        {"Kazaa!", true},
        {"Kaza", false}, // four characters
        {"", false},
        {"My Kazaa", false}, // the prefix, but not at the start
        {" kazaa", false},
        {"Kazab", false},
        {"K@Z@@", false},          // the characters just before A and Z fold to nothing
        {"K\xC1Z\xC1\xC1", false}, // accented capitals are not A
    };
    for (const auto& c : cases) {
        std::string title = c.title;
        EXPECT_EQ(IsKazaaTitle(Copied(title)), c.client) << '"' << title << '"';
    }
    // A buffer that held more than five characters was not filled the way the pass fills it.
    EXPECT_FALSE(IsKazaaTitle("kazaaa"));
}

TEST(KazaaClassNames, LowerCasingFoldsOnlyAsciiLetters)
{
    EXPECT_EQ(LowerAscii("Internet Explorer_Server"), "internet explorer_server");
    EXPECT_EQ(LowerAscii("IEFRAME"), "ieframe");
    // Neighbours of the two letter ranges and bytes of other code pages stay as they are.
    EXPECT_EQ(LowerAscii("@[`{AZaz"), "@[`{azaz");
    EXPECT_EQ(LowerAscii("\xC4\xD6\xDC\xC9\xDD"), "\xC4\xD6\xDC\xC9\xDD");
    std::string withNul("A\0B", 3);
    EXPECT_EQ(LowerAscii(withNul), std::string("a\0b", 3));
}

TEST(KazaaClassNames, ChildWindowsAreEmptiedClosedOrLeftByClass)
{
    const struct {
        const char* className;
        ChildAction action;
    } cases[] = {
        {"Internet Explorer_Server", ChildAction::EmptyPage},
        {"INTERNET EXPLORER_SERVER", ChildAction::EmptyPage},
        {"AdBanner", ChildAction::Close},
        {"BANNERVIEW", ChildAction::Close},
        {"banner", ChildAction::Close},
        {"xAnimGiFx", ChildAction::Close},
        {"gifPlayer", ChildAction::Close},
        {"GIF", ChildAction::Close},
        {"TopBannerGif", ChildAction::Close},
        // Near misses and ordinary windows stay.
        {"BanerStrip", ChildAction::Leave},
        {"GI_F", ChildAction::Leave},
        {"Button", ChildAction::Leave},
        {"Shell DocObject View", ChildAction::Leave},
        {"IEFrame", ChildAction::Leave},
        {"", ChildAction::Leave},
        // Only the exact name is an embedded browser; anything longer is judged as a banner.
        {"Internet Explorer_Server2", ChildAction::Leave},
        {"Internet Explorer_Server GIF", ChildAction::Close},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyChildClass(LowerAscii(c.className)), c.action) << c.className;
}

TEST(KazaaClassNames, BrowserFramesAreTheTwoExactNames)
{
    const struct {
        const char* lowered;
        bool frame;
    } cases[] = {
        {"ieframe", true},   {"internet explorer_server", true},   {"ieframe2", false},
        {"cieframe", false}, {"internet explorer_server ", false}, {"shell embedding", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsBrowserFrameClass(c.lowered), c.frame) << c.lowered;
}
