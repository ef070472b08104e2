#include "common/win32/text.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

TEST(CodePage, IsChineseAndCarriesChineseFileNames)
{
    ASSERT_EQ(GetACP(), 936u);
    TempDir directory;
    const std::string path = directory.file("水印图片.txt");
    writeFile(path, {'o', 'k'});

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(directory.file("*.txt").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_STREQ(found.cFileName, "水印图片.txt");
    EXPECT_EQ(readFile(path), (std::vector<unsigned char>{'o', 'k'}));
}

TEST(ToWide, ConvertsCodePage936AndEndsWithZero)
{
    EXPECT_STREQ(toWide("保持不变"), L"保持不变");
    EXPECT_STREQ(toWide(""), L"");
    EXPECT_STREQ(toWide(std::string_view("Inkveil", 3)), L"Ink");
}

TEST(ToWide, HoldsAWholeSettingsText)
{
    const std::string text(1024, 'a');
    EXPECT_EQ(std::wcslen(toWide(text)), 1024u);
    EXPECT_EQ(std::wcslen(toWide(std::string(5000, 'a'))), 1024u);
}

TEST(FieldText, EndsAtTheFieldsLastByteWithoutATerminator)
{
    char field[8];
    std::memcpy(field, "abcdefgh", 8);
    EXPECT_EQ(fieldText(field), "abcdefgh");
    field[3] = '\0';
    EXPECT_EQ(fieldText(field), "abc");
}

TEST(CopyWhole, RefusesWhatDoesNotFit)
{
    char buffer[4] = "xyz";
    EXPECT_TRUE(copyWhole("abc", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "abc");
    EXPECT_FALSE(copyWhole("abcd", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
}
