// The binaries of the program folder as shipped: their version information read back with
// the version API, as Explorer and Internet Explorer's add-on manager read it, and their
// image headers: the right machine and no symbol table.
#include "E2eSupport.h"

#include <cstdio>

namespace {

std::string VersionString(const std::vector<char>& block, const char* name)
{
    char* text = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ||
        !text)
        return "(missing)";
    return text;
}

struct ImageHeader {
    WORD machine = 0;
    DWORD symbols = 0;
};

ImageHeader ReadImageHeader(const std::string& path)
{
    std::string bytes = testsupport::ReadFileBytes(path);
    ImageHeader header;
    if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return header;
    LONG at = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data())->e_lfanew;
    if (at <= 0 || bytes.size() < at + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER)) return header;
    const auto* file = reinterpret_cast<const IMAGE_FILE_HEADER*>(bytes.data() + at + 4);
    return {file->Machine, file->NumberOfSymbols};
}

} // namespace

TEST(ProductFiles, CarryTheirVersionInformationAndNoSymbols)
{
    unsigned major = 0, minor = 0, patch = 0, tweak = 0;
    ASSERT_EQ(std::sscanf(QUELLOR_VERSION, "%u.%u.%u.%u", &major, &minor, &patch, &tweak), 4);
    struct Case {
        const char* file;
        WORD machine;
        const char* describes; // a part of the description that tells what it is
    };
#ifdef _WIN64
    const WORD program = IMAGE_FILE_MACHINE_AMD64; // the tests' build for machines without 32-bit
#else
    const WORD program = IMAGE_FILE_MACHINE_I386;
#endif
    for (const Case& c : {Case{"QUELLOR.EXE", program, "tray application"},
                          Case{"QUELLOR.DLL", program, "browser helper"},
                          Case{"QUELLOR64.DLL", IMAGE_FILE_MACHINE_AMD64, "browser helper"}}) {
        SCOPED_TRACE(c.file);
        const std::string path = testsupport::StageDir() + c.file;
        ImageHeader image = ReadImageHeader(path);
        EXPECT_EQ(image.machine, c.machine);
        EXPECT_EQ(image.symbols, 0u) << "shipped with its symbols";

        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version information";
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
        EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(tweak, patch));
        EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(minor, major));
        EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(tweak, patch));
        EXPECT_EQ(VersionString(block, "CompanyName"), "Tandrel");
        EXPECT_EQ(VersionString(block, "ProductName"), "Quellor");
        EXPECT_EQ(VersionString(block, "FileVersion"), QUELLOR_VERSION);
        EXPECT_EQ(VersionString(block, "ProductVersion"), QUELLOR_VERSION);
        EXPECT_EQ(VersionString(block, "OriginalFilename"), c.file);
        std::string description = VersionString(block, "FileDescription");
        EXPECT_NE(description.find("Quellor"), std::string::npos) << description;
        EXPECT_NE(description.find(c.describes), std::string::npos) << description;
    }
}
