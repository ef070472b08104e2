#include "common/win32/text.h"
#include "pipeline/output.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace imaging;

namespace {

struct NamingCase {
    const char* source;
    const char* format;
    const char* outputPath;
    const char* subtype;
};

const NamingCase namingCases[] = {
    {"D:\\pics\\a.JPG", "保持不变", "D:\\pics\\converted\\a.JPG", "jpeg"},
    {"D:\\pics\\a.JPG", "png", "D:\\pics\\converted\\a.png", "png"},
    {"D:\\pics\\a.JPG", "jpg", "D:\\pics\\converted\\a.jpg", "jpeg"},
    {"D:\\pics\\a.JPG", "tiff", "D:\\pics\\converted\\a.tiff", "tiff"},
    {"D:\\pics\\b.jpeg", "保持不变", "D:\\pics\\converted\\b.jpeg", "jpeg"},
    {"D:\\pics\\c.PNG", "保持不变", "D:\\pics\\converted\\c.PNG", "png"},
    {"D:\\my.pics\\photo", "png", "D:\\my.pics\\converted\\photo", "png"},
    {"D:\\my.pics\\photo", "保持不变", "D:\\my.pics\\converted\\photo", ""},
    {"D:\\pics\\archive.tar.gz", "bmp", "D:\\pics\\converted\\archive.tar.bmp", "bmp"},
    {"D:\\pics\\a.jpg", "", "D:\\pics\\converted\\a.", ""},
    {"D:\\pics\\x.tif", "保持不变", "D:\\pics\\converted\\x.tif", "tif"},
    {"D:\\pics\\x.tif", "tiff", "D:\\pics\\converted\\x.tiff", "tiff"},
    {"D:\\pics\\.png", "jpg", "D:\\pics\\converted\\.jpg", "jpeg"},
    {"C:\\x.jpg", "gif", "C:\\converted\\x.gif", "gif"},
    {"D:\\誠\\a.Gif", "保持不变", "D:\\誠\\converted\\a.Gif", "gif"},
    {"D:\\誠\\誠", "bmp", "D:\\誠\\converted\\誠", "bmp"},
};

}  // namespace

TEST(OutputTarget, NamesTheOutputAndItsFormat)
{
    for (const NamingCase& row : namingCases) {
        SCOPED_TRACE(std::string(row.source) + " as " + row.format);
        OutputTarget target;
        ASSERT_TRUE(makeOutputTarget(wideText(row.source).c_str(), row.format, target));
        EXPECT_EQ(std::wstring(target.outputPath), wideText(row.outputPath));
        EXPECT_STREQ(target.subtype, row.subtype);
    }
    // Names beyond the ANSI code page keep every character (outside the macros, which spell their
    // arguments in it).
    const wchar_t* const thaiAndHangul = L"D:\\ไทย\\한국어.PNG";
    const wchar_t* const thaiAndHangulOutput = L"D:\\ไทย\\converted\\한국어.PNG";
    const wchar_t* const kanaAndEmoji = L"D:\\pics\\ゔ😀.jpg";
    const wchar_t* const kanaAndEmojiOutput = L"D:\\pics\\converted\\ゔ😀.webp";
    OutputTarget target;
    ASSERT_TRUE(makeOutputTarget(thaiAndHangul, "保持不变", target));
    EXPECT_STREQ(target.outputPath, thaiAndHangulOutput);
    EXPECT_STREQ(target.subtype, "png");
    ASSERT_TRUE(makeOutputTarget(kanaAndEmoji, "webp", target));
    EXPECT_STREQ(target.outputPath, kanaAndEmojiOutput);
}

TEST(OutputTarget, AlternativeNameIsTheSourceNameWithTheOutputsExtension)
{
    const NamingCase rows[] = {
        {"D:\\pics\\a.bmp", "jpg", "D:\\pics\\converted\\a.bmp.jpg", "jpeg"},
        {"D:\\pics\\a.png", "保持不变", "D:\\pics\\converted\\a.png.png", "png"},
    };
    for (const NamingCase& row : rows) {
        SCOPED_TRACE(std::string(row.source) + " as " + row.format);
        OutputTarget target;
        ASSERT_TRUE(makeOutputTarget(wideText(row.source).c_str(), row.format, target));
        EXPECT_EQ(alternativeOutputPath(target.outputPath, wideText(row.source)), wideText(row.outputPath));
    }
}

TEST(OutputTarget, ResolvesARelativeSourceAgainstTheCurrentDirectory)
{
    TempDir directory;
    CurrentDirectory inDirectory(directory.path());
    OutputTarget target;
    ASSERT_TRUE(makeOutputTarget(L"a.jpg", "png", target));
    EXPECT_EQ(std::wstring(target.outputPath), wideText(directory.file("converted\\a.png")));
}

TEST(OutputTarget, RefusesWhatDoesNotFitInsteadOfCuttingIt)
{
    const std::wstring folder = L"C:\\" + std::wstring(240, L'd');
    OutputTarget target;
    // 246 units of source path fit; with "\converted" the output needs 256.
    EXPECT_TRUE(makeOutputTarget((folder + L"\\a.jpg").c_str(), "保持不变", target));
    EXPECT_FALSE(makeOutputTarget((folder + L"\\abcd.jpg").c_str(), "保持不变", target));
    EXPECT_STREQ(target.outputPath, L"");
    EXPECT_STREQ(target.subtype, "");
    EXPECT_FALSE(makeOutputTarget((folder + L"\\a.jpg").c_str(), "jpeg-with-a-long-name", target));
    EXPECT_FALSE(makeOutputTarget((L"C:\\" + std::wstring(300, L'x') + L".jpg").c_str(), "png", target));

    EXPECT_TRUE(makeOutputTarget(L"D:\\a.jpg", std::string(127, 'f'), target));
    EXPECT_FALSE(makeOutputTarget(L"D:\\a.jpg", std::string(128, 'f'), target));
    EXPECT_FALSE(makeOutputTarget((L"D:\\a." + std::wstring(128, L'e')).c_str(), "保持不变", target));
    EXPECT_STREQ(target.outputPath, L"");
}

TEST(PathParts, SplitAtTheFinalComponent)
{
    EXPECT_EQ(parentDirectory(L"D:\\pics\\converted\\a.png"), L"D:\\pics\\converted");
    EXPECT_EQ(parentDirectory(L"a.png"), L"");
    EXPECT_EQ(parentDirectory(L"D:\\誠"), L"D:");
    EXPECT_EQ(parentDirectory(L"D:\\誠\\converted\\誠"), L"D:\\誠\\converted");

    EXPECT_EQ(fileExtension(L"D:\\my.pics\\photo"), L"");
    EXPECT_EQ(fileExtension(L"D:\\pics\\archive.tar.gz"), L"gz");
    EXPECT_EQ(fileExtension(L".png"), L"");
    EXPECT_EQ(fileExtension(L"D:\\.png"), L"png");
    EXPECT_EQ(fileExtension(L"D:\\x.誠"), L"誠");

    EXPECT_EQ(replaceExtension(L"png", L"D:\\my.pics\\photo"), L"D:\\my.pics\\photo");
    EXPECT_EQ(replaceExtension(L"png", L"D:\\pics\\archive.tar.gz"), L"D:\\pics\\archive.tar.png");
    EXPECT_EQ(replaceExtension(L"bmp", L"D:\\a.b\\誠"), L"D:\\a.b\\誠");
}

TEST(Encoders, AreFoundByExactMimeType)
{
    CLSID encoder;
    for (const wchar_t* mimeType : {L"image/jpeg", L"image/gif", L"image/png", L"image/bmp", L"image/tiff"})
        EXPECT_GE(findEncoder(mimeType, &encoder), 0) << mimeType;
    EXPECT_EQ(findEncoder(L"image/JPEG", &encoder), -1);
    EXPECT_EQ(findEncoder(L"image/tif", &encoder), -1);
    EXPECT_EQ(findEncoder(L"image/", &encoder), -1);
}

TEST(Encoders, EverySaveAsksForQuality100)
{
    const EncoderParameters parameters = saveParameters();
    ASSERT_EQ(parameters.Count, 1u);
    EXPECT_EQ(parameters.Parameter[0].Guid, EncoderQuality);
    EXPECT_EQ(parameters.Parameter[0].NumberOfValues, 1u);
    EXPECT_EQ(parameters.Parameter[0].Type, 4u);
    EXPECT_EQ(*static_cast<const ULONG*>(parameters.Parameter[0].Value), 100u);
}

TEST(SaveImage, WritesEveryOfferedFormat)
{
    struct FormatCase {
        const char* subtype;
        std::vector<unsigned char> signature;
    };
    const FormatCase formats[] = {
        {"jpeg", {0xFF, 0xD8, 0xFF}},
        {"png", {0x89, 'P', 'N', 'G'}},
        {"gif", {'G', 'I', 'F', '8'}},
        {"bmp", {'B', 'M'}},
        {"tiff", {'I', 'I', 0x2A, 0x00}},
    };
    TempDir directory;
    GdiBitmap target;
    makeSolidBitmap(target, 37, 23, 0xFF3366CC);
    for (const FormatCase& row : formats) {
        SCOPED_TRACE(row.subtype);
        const std::string path = directory.file(std::string("out.") + row.subtype);
        ASSERT_EQ(saveImage(target.get(), wideText(path).c_str(), row.subtype), Outcome::done);

        const std::vector<unsigned char> bytes = readFile(path);
        ASSERT_GE(bytes.size(), row.signature.size());
        EXPECT_TRUE(std::equal(row.signature.begin(), row.signature.end(), bytes.begin()));
        GdiBitmap decoded;
        ASSERT_EQ(GdipCreateBitmapFromFile(toWide(path), decoded.receive()), Ok);
        EXPECT_EQ(imageSize(decoded.get()).width, 37);
        EXPECT_EQ(imageSize(decoded.get()).height, 23);
    }
}

TEST(SaveImage, ReportsWhatItCouldNotWrite)
{
    TempDir directory;
    GdiBitmap target;
    makeSolidBitmap(target, 8, 8, 0xFF000000);
    for (const char* subtype : {"tif", "", "JPEG"}) {
        SCOPED_TRACE(subtype);
        EXPECT_NE(saveImage(target.get(), wideText(directory.file("out")).c_str(), subtype), Outcome::done);
        EXPECT_FALSE(fileExists(directory.file("out")));
    }
    EXPECT_NE(saveImage(target.get(), wideText(directory.file("missing\\out.png")).c_str(), "png"), Outcome::done);
    EXPECT_NE(saveImage(nullptr, wideText(directory.file("none.png")).c_str(), "png"), Outcome::done);
    EXPECT_NE(saveImage(nullptr, wideText(directory.file("none.gif")).c_str(), "gif"), Outcome::done);
    EXPECT_FALSE(fileExists(directory.file("none.png")));
}

TEST(SaveImage, ReplacesAnOlderFileOnlyWhenTheNewOneIsComplete)
{
    TempDir directory;
    const std::string path = directory.file("a.png");
    writeFile(path, {'o', 'l', 'd'});
    GdiBitmap target;
    makeSolidBitmap(target, 5, 5, 0xFF00FF00);

    EXPECT_NE(saveImage(nullptr, wideText(path).c_str(), "png"), Outcome::done);
    EXPECT_EQ(readFile(path), (std::vector<unsigned char>{'o', 'l', 'd'}));

    ASSERT_EQ(saveImage(target.get(), wideText(path).c_str(), "png"), Outcome::done);
    EXPECT_EQ(readFile(path)[1], 'P');
    EXPECT_EQ(filesIn(directory.path()), std::vector<std::string>{"a.png"});
}

TEST(SaveImage, WritesAnOutputPathOfTheFullLengthInAFolderOfOver246Bytes)
{
    TempDir directory;
    std::string folder = directory.path() + "\\";
    folder.append(250 - folder.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string name = std::string(259 - folder.size() - 5, 'p') + ".png";
    const std::string path = folder + "\\" + name;
    ASSERT_EQ(path.size(), 259u);
    GdiBitmap target;
    makeSolidBitmap(target, 6, 4, 0xFF102030);

    ASSERT_EQ(saveImage(target.get(), wideText(path).c_str(), "png"), Outcome::done);
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{name});
    GdiBitmap decoded;
    ASSERT_EQ(GdipCreateBitmapFromFile(toWide(path), decoded.receive()), Ok);
    EXPECT_EQ(imageSize(decoded.get()).width, 6);
}
