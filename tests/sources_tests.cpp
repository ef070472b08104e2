#include "batch/worker.h"
#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "pipeline/sources.h"
#include "settings/settings.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

std::string lookingIn(const std::string& path) { return "正在目录" + path + "中查找图片文件..."; }
std::string found(int count) { return "找到" + std::to_string(count) + "个待转换文件"; }

void touch(const std::string& path) { writeFile(path, {}); }

std::string numbered(const std::string& directory, int number, const char* extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "\\%03d.%s", number, extension);
    return directory + name;
}

// The names matching `pattern` as the file system yields them.
Texts enumerate(const std::string& pattern)
{
    Texts names;
    WIN32_FIND_DATAA entry;
    SearchHandle search(FindFirstFileA(pattern.c_str(), &entry));
    if (!search) return names;
    do names.push_back(entry.cFileName);
    while (FindNextFileA(search.get(), &entry));
    return names;
}

// The same directory spelled with more bytes: each "\." is dropped by the file system.
std::string spelledLonger(const std::string& directory, std::size_t length)
{
    std::string path = directory;
    while (path.size() + 2 <= length) path += "\\.";
    return path;
}

class SourceScan : public ::testing::Test {
protected:
    Texts scan(const std::string& path)
    {
        setSourcePath(path.c_str());
        rescanSources();
        Texts entries;
        for (int index = 0; index < sourceCount(); ++index) entries.push_back(ansiText(sourceEntry(index)));
        return entries;
    }

    TempDir directory;
    TestDialog dialog;
};

}  // namespace

TEST(SourceNames, OnlyAFoundNamesOwnEndingCounts)
{
    // Windows matches patterns against 8.3 short names too: "*.jpg" finds x.jpeg as X~1.JPG.
    struct Row {
        const char* name;
        const char* extension;
        bool kept;
    };
    const Row rows[] = {
        {"x.jpg", "jpg", true},        {"X.JPG", "jpg", true},     {"图片.Jpg", "jpg", true},
        {".jpg", "jpg", true},         {"x.jpeg", "jpg", false},   {"x.jpeg", "jpeg", true},
        {"x.jpgx", "jpg", false},      {"xjpg", "jpg", false},     {"jpg", "jpg", false},
        {"PHOTO.TIFF", "tiff", true},  {"photo.tif", "tiff", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " for " + row.extension);
        EXPECT_EQ(hasExtension(wideText(row.name), wideText(row.extension)), row.kept);
    }
}

TEST_F(SourceScan, ListsByExtensionThenAsTheFileSystemYields)
{
    const std::string pictures = directory.file("图片");
    ASSERT_TRUE(CreateDirectoryA(pictures.c_str(), nullptr));
    for (const char* name : {"x.png", "y.jpg", "z.bmp"}) touch(pictures + "\\" + name);

    EXPECT_EQ(scan(pictures), (Texts{pictures + "\\y.jpg", pictures + "\\x.png", pictures + "\\z.bmp"}));
    EXPECT_EQ(dialog.statusTexts(), (Texts{lookingIn(pictures), found(3)}));
    EXPECT_EQ(dialog.itemText(1027), found(3));
}

TEST_F(SourceScan, OnlyTheSevenExtensionsCountInAnyCase)
{
    for (const char* name : {"a.TIFF", "b.tif", "c.jpe", "d.txt", "e.gif", "PHOTO.JPEG", "jpg", "f.WebP", "g.webm"})
        touch(directory.file(name));
    ASSERT_TRUE(CreateDirectoryA(directory.file("folder.jpg").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(directory.file("inner").c_str(), nullptr));
    touch(directory.file("inner\\deeper.jpg"));

    EXPECT_EQ(scan(directory.path()), (Texts{directory.file("folder.jpg"), directory.file("PHOTO.JPEG"),
                                             directory.file("e.gif"), directory.file("a.TIFF"),
                                             directory.file("f.WebP")}));
}

TEST_F(SourceScan, KeepsTheFirstHundredJpegs)
{
    for (int number = 0; number < 150; ++number) touch(numbered(directory.path(), number, "jpg"));

    const Texts entries = scan(directory.path());
    ASSERT_EQ(entries.size(), 100u);
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()).size(), 100u);
    for (const std::string& entry : entries) EXPECT_EQ(entry.substr(entry.size() - 4), ".jpg") << entry;
    EXPECT_EQ(dialog.statusTexts().back(), "找到150个图片文件，只转换前100个，其余50个不会转换");
    EXPECT_EQ(sourcesLeftOut(), 50);
}

TEST_F(SourceScan, FillsUpWithTheFirstPngsInEnumerationOrder)
{
    for (int number = 0; number < 80; ++number) touch(numbered(directory.path(), number, "jpg"));
    for (int number = 0; number < 50; ++number) touch(numbered(directory.path(), number, "png"));

    const Texts entries = scan(directory.path());
    ASSERT_EQ(entries.size(), 100u);
    const Texts jpegs = enumerate(directory.file("*.jpg"));
    const Texts pngs = enumerate(directory.file("*.png"));
    ASSERT_EQ(pngs.size(), 50u);
    for (std::size_t at = 0; at < 80; ++at) EXPECT_EQ(entries[at], directory.file(jpegs[at])) << at;
    for (std::size_t at = 0; at < 20; ++at) EXPECT_EQ(entries[80 + at], directory.file(pngs[at])) << at;
    EXPECT_EQ(dialog.statusTexts().back(), "找到130个图片文件，只转换前100个，其余30个不会转换");
}

TEST_F(SourceScan, AFileIsTheOneEntryWhateverItHolds)
{
    const std::string notes = directory.file("notes.txt");
    touch(notes);

    EXPECT_EQ(scan(notes), Texts{notes});
    EXPECT_EQ(dialog.statusTexts(), Texts{"有1个待转换文件"});
}

TEST_F(SourceScan, AMissingPathIsSearchedAndGivesNothing)
{
    touch(directory.file("a.jpg"));
    ASSERT_EQ(scan(directory.path()).size(), 1u);
    const std::string missing = directory.file("nowhere");

    EXPECT_EQ(scan(missing), Texts{});
    EXPECT_EQ(dialog.statusTexts(), (Texts{lookingIn(directory.path()), found(1), lookingIn(missing), found(0)}));
}

TEST_F(SourceScan, AFullFieldWithoutTerminatorIsReportedWhole)
{
    const std::string path = directory.path() + "\\" + std::string(settingsTextSize - directory.path().size() - 1, 'q');
    ASSERT_EQ(path.size(), settingsTextSize);

    EXPECT_EQ(scan(path), Texts{});
    EXPECT_EQ(dialog.statusTexts(), (Texts{lookingIn(path), found(0)}));
}

TEST_F(SourceScan, PathsTooLongForAnEntryAreLeftOutWhole)
{
    // The directory's spelling leaves room for names of up to six bytes in 259.
    constexpr std::size_t spelling = 252;
    const std::string odd = (spelling - directory.path().size()) % 2 == 0 ? "p" : "pp";
    const std::string real = directory.file(odd);
    ASSERT_TRUE(CreateDirectoryA(real.c_str(), nullptr));
    const std::string spelled = spelledLonger(real, spelling);
    ASSERT_EQ(spelled.size(), spelling);
    for (const char* name : {"ab.jpg", "abc.jpg", "abcd.png", "a.png"}) touch(real + "\\" + name);

    EXPECT_EQ(scan(spelled), (Texts{spelled + "\\ab.jpg", spelled + "\\a.png"}));
    EXPECT_EQ(dialog.statusTexts().back(), found(2));

    const std::string longFile = spelledLonger(real, 300) + "\\ab.jpg";
    // Too long to be queried, it is searched as a directory and yields nothing.
    EXPECT_EQ(scan(longFile), Texts{});
    EXPECT_EQ(dialog.statusTexts().back(), found(0));
}
