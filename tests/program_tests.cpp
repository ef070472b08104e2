// The real Inkveil.exe, started in a folder of its own and driven from this process through
// its windows, as a user would. Arguments: the program and the sample picture it carries.
#include "app/resource.h"
#include "common/win32/text.h"
#include "pipeline/output.h"
#include "settings/settings.h"
#include "tests/pictures.h"
#include "tests/program_driver.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace imaging;

namespace {

std::string programPath;
std::string samplePath;

constexpr const char* doneTitle = "完成";

class Program : public ::testing::Test {
protected:
    TempDir folder;
    std::unique_ptr<RunningProgram> program;
    HWND dialog = nullptr;

    void start()
    {
        program = std::make_unique<RunningProgram>(programPath, folder.path());
        ASSERT_TRUE(program->started()) << programPath;
        dialog = waitForMainDialog(program->id());
        ASSERT_NE(dialog, nullptr) << "no dialog \"" << programTitle << "\"";
    }

    void closeAndExpectCleanExit()
    {
        ASSERT_TRUE(closeDialog(dialog));
        const std::optional<DWORD> exitCode = program->waitForExit();
        ASSERT_TRUE(exitCode.has_value()) << "the process did not end";
        EXPECT_EQ(*exitCode, 0u);
    }

    // Defaults except for the source and what `change` sets, as the program will read them at
    // its start.
    void writeSettingsWithSource(const std::string& source, void (*change)() = [] {})
    {
        CurrentDirectory inFolder(folder.path());
        resetDefaults();
        setSourcePath(source.c_str());
        change();
        ASSERT_TRUE(saveSettings());
    }

    WatermarkSettings savedSettings() const
    {
        const std::vector<unsigned char> bytes = readFile(folder.file(settingsFileName));
        EXPECT_GT(bytes.size(), sizeof(WatermarkSettings));  // the record, then the source path in UTF-16
        WatermarkSettings settings{};
        std::memcpy(&settings, bytes.data(), std::min(bytes.size(), sizeof settings));
        return settings;
    }
};

int red(uint32_t colour) { return static_cast<int>(colour >> 16 & 0xFF); }

ImageSize decodedSize(const std::string& path)
{
    GdiBitmap decoded;
    if (GdipCreateBitmapFromFile(toWide(path), decoded.receive()) != Ok) return {};
    return imageSize(decoded.get());
}

void writePicture(const std::string& path, int width, int height, ARGB colour, const char* subtype)
{
    GdiBitmap picture;
    makeSolidBitmap(picture, width, height, colour);
    ASSERT_EQ(saveImage(picture.get(), wideText(path).c_str(), subtype), Outcome::done) << path;
}

// A save's temporary file beside its output: "~" and digits.
bool isTemporaryName(const std::string& name) { return name[0] == '~'; }

// The number N of the status "正在转换第N个图片文件" (converting the Nth picture), else 0.
int fileInConversion(const std::string& status)
{
    int number = 0;
    return std::sscanf(status.c_str(), "正在转换第%d个", &number) == 1 ? number : 0;
}

TEST_F(Program, FirstStartWritesTheSampleShowsItWatermarkedAndSavesTheDefaultsOnClose)
{
    start();
    const std::vector<unsigned char> sample = readFile(samplePath);
    ASSERT_FALSE(sample.empty()) << samplePath;
    EXPECT_TRUE(readFile(folder.file("Demo.jpg")) == sample) << "Demo.jpg is not the sample";

    ASSERT_TRUE(waitForPreview(dialog)) << "the first preview was not drawn";
    // The sample fits its pane at its own size, so both panes agree pixel for pixel except
    // where the red text lies, at the bottom right of the result. Polled: a later preview
    // may be on its way to the screen.
    int reddenedInCorner = 0;
    int changedElsewhere = 0;
    const bool watermarked = waitUntil([&] {
        const ScreenArea source = sourcePaneOnScreen(dialog);
        const ScreenArea target = targetPaneOnScreen(dialog);
        if (source.pixels.empty() || target.pixels.size() != source.pixels.size()) return false;
        reddenedInCorner = changedElsewhere = 0;
        for (int y = 0; y < source.height; ++y) {
            for (int x = 0; x < source.width; ++x) {
                const uint32_t before = source.at(x, y);
                const uint32_t after = target.at(x, y);
                if (x >= source.width / 2 && y >= source.height * 3 / 4) {
                    if (red(after) - red(before) > 40) ++reddenedInCorner;
                } else if (!closeColours(before, after, 16)) {
                    ++changedElsewhere;
                }
            }
        }
        return reddenedInCorner > 30 && changedElsewhere == 0;
    });
    EXPECT_TRUE(watermarked) << reddenedInCorner << " pixels reddened at the bottom right, "
                             << changedElsewhere << " changed elsewhere";

    closeAndExpectCleanExit();
    const WatermarkSettings saved = savedSettings();
    EXPECT_EQ(saved.targetWidth, 160);
    EXPECT_EQ(saved.targetHeight, 120);
    EXPECT_EQ(saved.redAdjust, 0);
    EXPECT_EQ(saved.greenAdjust, 0);
    EXPECT_EQ(saved.blueAdjust, 0);
    EXPECT_EQ(saved.brightnessAdjust, 0);
    EXPECT_EQ(saved.textOpacity, 100);
    EXPECT_EQ(saved.fontSize, 12);
    EXPECT_EQ(saved.textAlignment, 3);
    EXPECT_EQ(saved.keepSourceSize, 1);
    EXPECT_EQ(fieldText(saved.outputFormat), "保持不变");
    EXPECT_EQ(fieldText(saved.watermarkText), "Inkveil");
    EXPECT_EQ(fieldText(saved.sourcePath), folder.file("Demo.jpg"));
}

TEST_F(Program, ASecondStartInTheSameFolderShowsWhatTheFirstChanged)
{
    start();
    setItemText(dialog, IDC_TEXT, "版权所有");
    closeAndExpectCleanExit();
    EXPECT_EQ(fieldText(savedSettings().watermarkText), "版权所有");

    start();
    EXPECT_EQ(itemText(dialog, IDC_TEXT), "版权所有");
    EXPECT_EQ(itemText(dialog, IDC_SOURCE_PATH), folder.file("Demo.jpg"));
    closeAndExpectCleanExit();
}

TEST_F(Program, ConvertsADirectoryFromTheButtonAndLeavesTheSourcesAlone)
{
    const std::string pictures = folder.file("pictures");
    ASSERT_TRUE(CreateDirectoryA(pictures.c_str(), nullptr));
    struct Picture {
        const char* name;
        const char* subtype;
    };
    const Picture sources[] = {{"a.jpg", "jpeg"}, {"b.png", "png"}, {"c.bmp", "bmp"}, {"d.gif", "gif"},
                               {"e.tiff", "tiff"}};
    std::vector<std::vector<unsigned char>> sourceBytes;
    for (int index = 0; index < 5; ++index) {
        const std::string path = pictures + "\\" + sources[index].name;
        writePicture(path, 60 + index, 40 + index, 0xFF204060 + 0x200000 * index, sources[index].subtype);
        sourceBytes.push_back(readFile(path));
    }
    writeSettingsWithSource(pictures);

    start();
    pressButton(dialog, IDC_CONVERT);
    HWND done = waitForMessageBox(doneTitle, program->id());
    ASSERT_NE(done, nullptr) << "no \"完成\" message box";
    EXPECT_EQ(itemText(dialog, IDC_STATUS), "转换完毕！");
    EXPECT_TRUE(answerMessageBox(done, IDNO));
    EXPECT_TRUE(waitUntil([&] { return itemText(dialog, IDC_CONVERT) == "Start"; }));

    const std::string converted = pictures + "\\converted";
    std::vector<std::string> expectedNames;
    for (const Picture& picture : sources) expectedNames.push_back(picture.name);
    EXPECT_EQ(filesIn(converted), expectedNames);
    for (int index = 0; index < 5; ++index) {
        SCOPED_TRACE(sources[index].name);
        const ImageSize size = decodedSize(converted + "\\" + sources[index].name);
        EXPECT_EQ(size.width, 60 + index);
        EXPECT_EQ(size.height, 40 + index);
        EXPECT_TRUE(readFile(pictures + "\\" + sources[index].name) == sourceBytes[index]);
    }
    closeAndExpectCleanExit();
}

TEST_F(Program, WildSettingsEndWithAnHonestReport)
{
    // What a hand-edited or damaged settings file may hold. Sizes past what the imaging library
    // can hold fail every file; the rest still converts.
    struct Row {
        const char* name;
        void (*change)();
        const char* reason;  // why both files fail; none: they convert
    };
    const Row rows[] = {
        {"fixed size 100000 x 100000", [] { setKeepSourceSize(0); setTargetWidth(100000); setTargetHeight(100000); },
         "图片太大"},
        {"fixed size 23171 x 23171 as PNG, just past what 32-bit ARGB can hold",
         [] {
             setKeepSourceSize(0); setTargetWidth(23171); setTargetHeight(23171);
             SettingsEdit edit;
             std::strcpy(outputFormat(), "png");
         },
         "图片太大"},
        {"fixed size -5 x 0", [] { setKeepSourceSize(0); setTargetWidth(-5); setTargetHeight(0); }, "目标尺寸无效"},
        {"font size 100000, alignment 99, opacity -300, gains of a million, keepSourceSize 2",
         [] {
             setKeepSourceSize(2); setFontSize(100000); setTextAlignment(99); setTextOpacity(-300);
             setRedAdjust(1000000); setGreenAdjust(-1000000); setBlueAdjust(1000000); setBrightnessAdjust(-1000000);
         },
         nullptr},
    };
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string pictures = folder.file("pictures" + std::to_string(++number));
        ASSERT_TRUE(CreateDirectoryA(pictures.c_str(), nullptr));
        writePicture(pictures + "\\a.jpg", 60, 40, 0xFF406080, "jpeg");
        writePicture(pictures + "\\b.png", 50, 30, 0xFF806040, "png");
        writeSettingsWithSource(pictures, row.change);

        start();
        pressButton(dialog, IDC_CONVERT);
        HWND done = waitForMessageBox(doneTitle, program->id());
        ASSERT_NE(done, nullptr) << "no \"完成\" message box";
        const std::string converted = pictures + "\\converted";
        const std::string lookThere = "是否转到“" + converted + "”目录查看";
        const std::string reason = row.reason != nullptr ? row.reason : "";
        EXPECT_EQ(itemText(done, 0xFFFF), row.reason == nullptr
                                              ? "转换成功完成，" + lookThere
                                              : "转换完成，但有2个图片文件没有转换成功，" + lookThere +
                                                    "\n\n没有转换成功的文件：\na.jpg：" + reason + "\nb.png：" + reason);
        EXPECT_TRUE(answerMessageBox(done, IDNO));
        closeAndExpectCleanExit();

        const std::vector<std::string> written = filesIn(converted);
        EXPECT_EQ(written.size(), row.reason == nullptr ? 2u : 0u);
        for (const std::string& name : written) {
            const ImageSize size = decodedSize(converted + "\\" + name);
            EXPECT_EQ(size.width, name == "a.jpg" ? 60 : 50) << name;
        }
    }
}

TEST_F(Program, ClosingDuringAConversionEndsCleanlyAndLeavesOnlyWholeFiles)
{
    const std::string pictures = folder.file("pictures");
    ASSERT_TRUE(CreateDirectoryA(pictures.c_str(), nullptr));
    // About a second of work each under Wine: the close lands in the middle of the run.
    const std::string first = pictures + "\\photo01.jpg";
    writePicture(first, 1600, 1200, 0xFF6080A0, "jpeg");
    for (int index = 2; index <= 20; ++index) {
        char name[32];
        std::snprintf(name, sizeof name, "\\photo%02d.jpg", index);
        ASSERT_TRUE(CopyFileA(first.c_str(), (pictures + name).c_str(), TRUE));
    }
    writeSettingsWithSource(pictures);

    start();
    pressButton(dialog, IDC_CONVERT);
    ASSERT_TRUE(waitUntil([&] { return fileInConversion(itemText(dialog, IDC_STATUS)) >= 2; }))
        << "status: " << itemText(dialog, IDC_STATUS);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);

    bool doneShown = false;
    ASSERT_TRUE(waitUntil([&] {
        doneShown = doneShown || findDialog(doneTitle, program->id()) != nullptr;
        return !program->running();
    })) << "the program did not end";
    EXPECT_FALSE(doneShown) << "a \"完成\" box appeared after the close";
    EXPECT_EQ(program->waitForExit(0), std::optional<DWORD>(0));

    const std::vector<std::string> written = filesIn(pictures + "\\converted");
    EXPECT_GE(written.size(), 1u);
    EXPECT_LT(written.size(), 20u) << "the close did not stop the conversion";
    for (const std::string& name : written) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(isTemporaryName(name));
        const ImageSize size = decodedSize(pictures + "\\converted\\" + name);
        EXPECT_EQ(size.width, 1600);
        EXPECT_EQ(size.height, 1200);
    }
    for (const std::string& name : filesIn(pictures)) EXPECT_FALSE(isTemporaryName(name)) << name;
    for (const std::string& name : filesIn(folder.path())) EXPECT_FALSE(isTemporaryName(name)) << name;
}

TEST_F(Program, ClosingAroundTheDirectoryQuestionEndsWithoutConvertingAndSavesTheSettings)
{
    const std::string pictures = folder.file("pictures");
    const std::string converted = pictures + "\\converted";
    ASSERT_TRUE(CreateDirectoryA(pictures.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(converted.c_str(), nullptr));
    for (const char* name : {"\\a.png", "\\b.png", "\\c.png"})
        writePicture(pictures + name, 40, 30, 0xFF406080, "png");

    struct Row {
        const char* name;
        bool whileTheQuestionIsUp;
    };
    for (const Row& row : {Row{"closed right after Start", false}, Row{"closed while the question is up", true}}) {
        SCOPED_TRACE(row.name);
        writeSettingsWithSource(pictures);
        start();
        setItemText(dialog, IDC_TEXT, row.name);
        pressButton(dialog, IDC_CONVERT);
        if (row.whileTheQuestionIsUp) {
            ASSERT_NE(waitForMessageBox("警告", program->id()), nullptr);
        }
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);

        // Nobody answers anything: the close alone must end the program.
        EXPECT_EQ(program->waitForExit(), std::optional<DWORD>(0)) << "the program did not end";
        EXPECT_EQ(fieldText(savedSettings().watermarkText), std::string(row.name));
        EXPECT_TRUE(filesIn(converted).empty());
    }
}

TEST_F(Program, AScanBombFirstInTheFolderFailsAsDamagedAndTheProgramStillEndsWhenClosed)
{
    // 8000 x 8000 with 40,000 scans, each a pass over a million blocks: minutes of libjpeg's time.
    const std::string pictures = folder.file("pictures");
    ASSERT_TRUE(CreateDirectoryA(pictures.c_str(), nullptr));
    writeFile(pictures + "\\a.jpg", scanHeavyJpeg(8000, 8000, 40000));
    writePicture(pictures + "\\b.png", 60, 40, 0xFF406080, "png");
    writeSettingsWithSource(pictures);

    // Closed while the first preview decodes it.
    start();
    ASSERT_TRUE(closeDialog(dialog));
    EXPECT_EQ(program->waitForExit(10000), std::optional<DWORD>(0)) << "the program did not end soon after the close";

    start();
    pressButton(dialog, IDC_CONVERT);
    HWND done = waitForMessageBox(doneTitle, program->id());
    ASSERT_NE(done, nullptr) << "no \"完成\" message box";
    const std::string converted = pictures + "\\converted";
    EXPECT_EQ(itemText(done, 0xFFFF), "转换完成，但有1个图片文件没有转换成功，是否转到“" + converted +
                                          "”目录查看\n\n没有转换成功的文件：\na.jpg：文件已损坏");
    EXPECT_TRUE(answerMessageBox(done, IDNO));
    closeAndExpectCleanExit();
    EXPECT_EQ(filesIn(converted), std::vector<std::string>{"b.png"});
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: program_tests <Inkveil.exe> <demo.jpg of the sources>\n");
        return 2;
    }
    programPath = windowsPath(argv[1]);
    samplePath = windowsPath(argv[2]);
    return RUN_ALL_TESTS();
}
