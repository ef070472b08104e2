#include "common/win32/text.h"
#include "settings/settings.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

namespace {

int32_t intAt(const std::vector<unsigned char>& bytes, std::size_t offset)
{
    int32_t value;
    std::memcpy(&value, &bytes[offset], sizeof value);
    return value;
}

std::string textAt(const std::vector<unsigned char>& bytes, std::size_t offset)
{
    return std::string(reinterpret_cast<const char*>(&bytes[offset]));
}

void setEveryField()
{
    setTargetWidth(-7);
    setTargetHeight(2000000000);
    setRedAdjust(-50);
    setGreenAdjust(50);
    setBlueAdjust(3);
    setBrightnessAdjust(-4);
    setTextOpacity(256);
    setFontSize(99);
    setTextAlignment(7);
    setKeepSourceSize(2);
    std::strcpy(outputFormat(), "tiff");
    std::strcpy(watermarkText(), "版权所有 誠");
    setSourcePath("D:\\照片\\誠");
}

class SettingsFile : public ::testing::Test {
protected:
    TempDir directory;
    CurrentDirectory inDirectory{directory.path()};
};

}  // namespace

TEST_F(SettingsFile, IsTheRecordByteForByte)
{
    setEveryField();
    ASSERT_TRUE(saveSettings());

    const std::vector<unsigned char> bytes = readFile(directory.file("settings.dat"));
    // The record, then the source path in UTF-16 and a zero unit.
    const std::wstring path = L"D:\\照片\\誠";
    ASSERT_EQ(bytes.size(), 3112u + (path.size() + 1) * 2);
    EXPECT_EQ(std::memcmp(&bytes[3112], path.c_str(), (path.size() + 1) * 2), 0);
    EXPECT_EQ(intAt(bytes, 0), -7);
    EXPECT_EQ(intAt(bytes, 4), 2000000000);
    EXPECT_EQ(intAt(bytes, 8), -50);
    EXPECT_EQ(intAt(bytes, 12), 50);
    EXPECT_EQ(intAt(bytes, 16), 3);
    EXPECT_EQ(intAt(bytes, 20), -4);
    EXPECT_EQ(intAt(bytes, 24), 256);
    EXPECT_EQ(intAt(bytes, 28), 99);
    EXPECT_EQ(intAt(bytes, 32), 7);
    EXPECT_EQ(intAt(bytes, 36), 2);
    EXPECT_EQ(textAt(bytes, 40), "tiff");
    EXPECT_EQ(textAt(bytes, 1064), "版权所有 誠");
    EXPECT_EQ(textAt(bytes, 2088), "D:\\照片\\誠");
    EXPECT_EQ(bytes[2088 + 8], 0xD5);  // code page 936, not UTF-8
    EXPECT_FALSE(fileExists(directory.file("settings.dat.new")));
}

TEST_F(SettingsFile, WrittenFileRestoresEveryField)
{
    setEveryField();
    ASSERT_TRUE(saveSettings());
    const WatermarkSettings saved = copySettings();
    resetDefaults();

    loadSettings();
    const WatermarkSettings loaded = copySettings();
    EXPECT_EQ(std::memcmp(&loaded, &saved, sizeof saved), 0);
    EXPECT_EQ(targetWidth(), -7);
    EXPECT_EQ(textOpacity(), 256);
    EXPECT_EQ(keepSourceSize(), 2);
    EXPECT_STREQ(watermarkText(), "版权所有 誠");
}

TEST_F(SettingsFile, AWidePathComesBackWhereTheRecordStillSpellsIt)
{
    const wchar_t* const wide = L"D:\\ไทย\\ゔ😀.jpg";
    setSourcePath(wide);
    const std::string spelled = sourcePath();
    EXPECT_EQ(spelled.substr(0, 3), "D:\\");
    ASSERT_TRUE(saveSettings());
    resetDefaults();
    loadSettings();
    EXPECT_EQ(sourcePathText(), std::wstring(wide));

    // A program that reads only the record, and writes only it, loses nothing of its own.
    std::vector<unsigned char> bytes = readFile(directory.file("settings.dat"));
    bytes.resize(3112);
    writeFile(directory.file("settings.dat"), bytes);
    loadSettings();
    EXPECT_EQ(std::string(sourcePath()), spelled);
    EXPECT_EQ(sourcePathText(), wideText(spelled));

    // A path rewritten in the record in place is the one used.
    setSourcePath(wide);
    std::strcpy(sourcePath(), "D:\\b.jpg");
    EXPECT_EQ(sourcePathText(), L"D:\\b.jpg");
}

TEST_F(SettingsFile, FortyBytesRestoreTheIntegersAndNoText)
{
    std::vector<unsigned char> bytes(40);
    for (int field = 0; field < 10; ++field) bytes[field * 4] = static_cast<unsigned char>(field + 1);
    writeFile(directory.file("settings.dat"), bytes);
    setEveryField();

    loadSettings();
    EXPECT_EQ(targetWidth(), 1);
    EXPECT_EQ(redAdjust(), 3);
    EXPECT_EQ(keepSourceSize(), 10);
    EXPECT_STREQ(outputFormat(), "");
    EXPECT_STREQ(watermarkText(), "");
    EXPECT_STREQ(sourcePath(), "");
}

TEST_F(SettingsFile, MissingFileGivesTheDefaults)
{
    setEveryField();
    loadSettings();

    EXPECT_EQ(targetWidth(), 160);
    EXPECT_EQ(targetHeight(), 120);
    EXPECT_EQ(redAdjust(), 0);
    EXPECT_EQ(greenAdjust(), 0);
    EXPECT_EQ(blueAdjust(), 0);
    EXPECT_EQ(brightnessAdjust(), 0);
    EXPECT_EQ(textOpacity(), 100);
    EXPECT_EQ(fontSize(), 12);
    EXPECT_EQ(textAlignment(), 3);
    EXPECT_EQ(keepSourceSize(), 1);
    EXPECT_STREQ(outputFormat(), "保持不变");
    EXPECT_STREQ(watermarkText(), "Inkveil");
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_EQ(std::string(sourcePath()), std::string(current) + "\\Demo.jpg");
}

TEST_F(SettingsFile, TextWithoutTerminatorEndsAtItsField)
{
    std::vector<unsigned char> bytes(3112, 'x');
    writeFile(directory.file("settings.dat"), bytes);

    loadSettings();
    const WatermarkSettings loaded = copySettings();
    EXPECT_EQ(fieldText(loaded.outputFormat).size(), 1024u);
    EXPECT_EQ(fieldText(loaded.watermarkText).size(), 1024u);
    EXPECT_EQ(fieldText(loaded.sourcePath).size(), 1024u);
}

TEST_F(SettingsFile, FailedSaveLeavesTheOldFileWhole)
{
    setEveryField();
    ASSERT_TRUE(saveSettings());
    const std::vector<unsigned char> before = readFile(directory.file("settings.dat"));
    // A directory where the new file would go makes the write fail.
    ASSERT_TRUE(CreateDirectoryA(directory.file("settings.dat.new").c_str(), nullptr));

    resetDefaults();
    EXPECT_FALSE(saveSettings());
    EXPECT_EQ(readFile(directory.file("settings.dat")), before);
}

TEST(Defaults, LeaveTheBytesAfterTheSourcePathsTerminator)
{
    setSourcePath(std::string(600, 'x').c_str());
    resetDefaults();
    const WatermarkSettings settings = copySettings();
    const std::size_t end = std::strlen(settings.sourcePath);
    ASSERT_LT(end, 599u);
    EXPECT_EQ(settings.sourcePath[end + 1], 'x');
    EXPECT_EQ(settings.sourcePath[599], 'x');
    EXPECT_EQ(settings.sourcePath[600], '\0');
}

TEST(SourcePathSetter, ClearsTheRestOfTheField)
{
    setSourcePath("C:\\a-long-path\\with\\pictures");
    setSourcePath("C:\\b");
    const WatermarkSettings settings = copySettings();
    for (std::size_t at = 4; at < settingsTextSize; ++at) ASSERT_EQ(settings.sourcePath[at], '\0') << at;
}
