#include "app/dialog_helpers.h"
#include "batch/dialog_link.h"
#include "batch/worker.h"
#include "common/win32/text.h"
#include "core/colour_profile.h"
#include "core/webp.h"
#include "pipeline/output.h"
#include "pipeline/sources.h"
#include "preview/canvas.h"
#include "settings/settings.h"
#include "settings/vocabulary.h"
#include "tests/pictures.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>

using namespace imaging;

namespace {

constexpr const char* doneTitle = "完成";
constexpr const char* warningTitle = "警告";

// Solid pictures whose red channel tells them apart.
ARGB colourOf(int index) { return 0xFF000000 | static_cast<ARGB>(20 + index * 20) << 16 | 0x8080; }

void writePicture(const std::string& path, ARGB colour, const char* subtype = "png", int width = 48, int height = 36)
{
    GdiBitmap picture;
    makeSolidBitmap(picture, width, height, colour);
    ASSERT_EQ(saveImage(picture.get(), wideText(path).c_str(), subtype), Outcome::done);
}

ARGB firstPixelOf(const std::string& path)
{
    GdiBitmap decoded;
    if (GdipCreateBitmapFromFile(toWide(path), decoded.receive()) != Ok) return 0;
    return pixelAt(decoded.get(), 0, 0);
}

// A running worker on a stand-in dialog, with the settings of a first start.
class Worker : public ::testing::Test {
protected:
    TempDir directory;
    TestDialog dialog;

    void SetUp() override
    {
        CurrentDirectory inDirectory(directory.path());
        resetDefaults();
        setSourcePath(directory.path().c_str());
        startImaging(dialogWindow());
    }

    void TearDown() override
    {
        stopWorker();
        stopImaging();
    }

    std::string converted(const std::string& name = "") const
    {
        return directory.file(name.empty() ? "converted" : "converted\\" + name);
    }

    void writePictures(int count, const char* subtype = "png")
    {
        for (int index = 0; index < count; ++index) {
            char name[16];
            std::snprintf(name, sizeof name, "p%02d.%s", index, subtype);
            writePicture(directory.file(name), colourOf(index), subtype);
        }
    }

    // Pumps this thread's messages until `done` holds; false after 30 s.
    bool waitFor(const std::function<bool()>& done)
    {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > 30000) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        return true;
    }

    bool sawStatus(const std::string& text, int times = 1) const
    {
        const auto& texts = dialog.statusTexts();
        return std::count(texts.begin(), texts.end(), text) >= times;
    }

    // Waits for the message box of that title, returns its text and presses `button`.
    std::string answer(const char* title, int button)
    {
        HWND box = nullptr;
        EXPECT_TRUE(waitFor([&] { return (box = FindWindowA("#32770", title)) != nullptr; })) << title;
        if (box == nullptr) return std::string();
        char text[1024] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
        EXPECT_TRUE(waitFor([&] { return !IsWindow(box); }));
        return text;
    }

    void pressStart()
    {
        SetDlgItemTextA(dialog.window(), conversionButtonId, "Stop");
        setRunning(1);
        requestJob(0, 1);
    }

    void waitForFirstPreview()
    {
        startWorker();
        ASSERT_TRUE(waitFor([&] {
            const auto& texts = dialog.statusTexts();
            return std::any_of(texts.begin(), texts.end(), [](const std::string& text) { return text.rfind("找到", 0) == 0; });
        }));
    }

    ARGB canvasPixel(int x, int y)
    {
        CanvasLock lock;
        return previewCanvas() != nullptr ? pixelAt(previewCanvas(), x, y) : 0;
    }
};

}  // namespace

TEST_F(Worker, FirstJobPreviewsTheSourceWithoutARequest)
{
    writePicture(directory.file("only.png"), colourOf(3));
    waitForFirstPreview();
    // Stopping the worker gives up a preview in hand: it is waited for first.
    EXPECT_TRUE(waitFor([&] {
        return nearColour(canvasPixel(sourcePane.x + paneWidth / 2, sourcePane.y + paneHeight / 2), colourOf(3), 2);
    }));
    stopWorker();

    EXPECT_EQ(dialog.statusTexts().front(), "正在目录" + directory.path() + "中查找图片文件...");
    EXPECT_FALSE(fileExists(converted()));
}

TEST_F(Worker, DirectoryWithoutPicturesPreviewsNothing)
{
    waitForFirstPreview();
    stopWorker();
    EXPECT_EQ(canvasPixel(sourcePane.x + paneWidth / 2, sourcePane.y + paneHeight / 2), 0u);
}

TEST_F(Worker, ConvertsEveryPictureAndReports)
{
    writePictures(10);
    waitForFirstPreview();
    pressStart();

    const std::string question = answer(doneTitle, IDNO);
    EXPECT_EQ(question, "转换成功完成，是否转到“" + converted() + "”目录查看");
    ASSERT_TRUE(waitFor([&] { return isRunning() == 0 && dialog.itemText(conversionButtonId) == "Start"; }));

    std::vector<std::string> expected;
    for (int index = 0; index < 10; ++index) {
        char name[16];
        std::snprintf(name, sizeof name, "p%02d.png", index);
        expected.push_back(name);
        EXPECT_TRUE(nearColour(firstPixelOf(converted(name)), colourOf(index), 2)) << name;
    }
    EXPECT_EQ(filesIn(converted()), expected);

    const auto& texts = dialog.statusTexts();
    auto at = std::find(texts.begin(), texts.end(), "找到10个待转换文件");
    ASSERT_NE(at, texts.end());
    at = std::find(at + 1, texts.end(), "找到10个待转换文件");  // the conversion's own rescan
    ASSERT_NE(at, texts.end());
    for (int number = 1; number <= 10; ++number)
        ASSERT_EQ(*++at, "正在转换第" + std::to_string(number) + "个图片文件");
    ASSERT_EQ(*++at, "转换完毕！");

    // The preview queued at the end shows the first picture of the list again.
    const std::string first = ansiText(sourceEntry(0));
    const ARGB firstColour = colourOf(std::stoi(first.substr(first.size() - 6, 2)));
    EXPECT_TRUE(waitFor([&] { return nearColour(canvasPixel(sourcePane.x + 160, sourcePane.y + 120), firstColour, 2); }));
}

// A Start pressed the moment the dialog hears that a conversion ended starts the next one.
TEST_F(Worker, AStartPressedAsAConversionEndsIsNotLost)
{
    writeFile(directory.file("a.jpg"), encodePicture(64, 48));
    waitForFirstPreview();
    static std::atomic<bool> pressAtTheEnd;
    pressAtTheEnd = true;
    linkDialog({dialogWindow, static_cast<void (*)(const wchar_t*)>(setStatusText), invalidateDialog,
                [] {
                    announceConversionEnded();
                    if (pressAtTheEnd.exchange(false)) requestJob(0, 1);
                },
                showConversionEnd});
    pressStart();
    answer(doneTitle, IDNO);
    EXPECT_EQ(answer(warningTitle, IDYES), "转换目录“" + converted() + "”已经存在，是否覆盖原目录中的图片");
    answer(doneTitle, IDNO);
    setDialogWindow(dialog.window());
}

TEST_F(Worker, NamesInAnyScriptConvertUnderTheirOwnNames)
{
    // Outside the macros, which spell their arguments in the ANSI code page.
    const std::wstring folder = wideText(directory.path());
    const std::wstring names[] = {L"plain.jpg", L"ไทย.jpg", L"한국어.png", L"ゔ😀.jpg"};
    for (const std::wstring& name : names) writeFile(folder + L"\\" + name, encodePicture(64, 48));
    waitForFirstPreview();
    pressStart();

    EXPECT_EQ(answer(doneTitle, IDNO), "转换成功完成，是否转到“" + converted() + "”目录查看");
    for (const std::wstring& name : names) {
        const std::wstring output = folder + L"\\converted\\" + name;
        SCOPED_TRACE(ansiText(output));
        const Bytes written = readFile(output);
        EXPECT_TRUE(isJpeg(written) || isPng(written));
    }
}

TEST_F(Worker, AsksBeforeReusingAnExistingDirectory)
{
    writePictures(2);
    ASSERT_TRUE(CreateDirectoryA(converted().c_str(), nullptr));
    writeFile(converted("p00.png"), {'o', 'l', 'd'});
    waitForFirstPreview();

    pressStart();
    EXPECT_EQ(answer(warningTitle, IDNO), "转换目录“" + converted() + "”已经存在，是否覆盖原目录中的图片");
    EXPECT_EQ(filesIn(converted()), std::vector<std::string>{"p00.png"});
    EXPECT_EQ(readFile(converted("p00.png")), (std::vector<unsigned char>{'o', 'l', 'd'}));
    EXPECT_EQ(dialog.itemText(conversionButtonId), "Stop");

    pressStart();
    answer(warningTitle, IDYES);
    answer(doneTitle, IDNO);
    EXPECT_EQ(filesIn(converted()), (std::vector<std::string>{"p00.png", "p01.png"}));
    EXPECT_TRUE(nearColour(firstPixelOf(converted("p00.png")), colourOf(0), 2));
}

TEST_F(Worker, StopDuringTheThirdFileEndsAfterIt)
{
    writePictures(10);
    waitForFirstPreview();
    dialog.onStatusText = [](const std::string& text) {
        if (text == "正在转换第3个图片文件") requestStop();
    };
    pressStart();
    answer(doneTitle, IDNO);
    EXPECT_EQ(filesIn(converted()).size(), 3u);
    EXPECT_TRUE(sawStatus("转换完毕！"));
    EXPECT_FALSE(sawStatus("正在转换第4个图片文件"));
}

TEST_F(Worker, StopBeforeTheFirstFileConvertsNothing)
{
    writePictures(3);
    waitForFirstPreview();
    // The conversion's own rescan reports before any file is taken.
    dialog.onStatusText = [](const std::string& text) {
        if (text == "找到3个待转换文件") requestStop();
    };
    pressStart();
    answer(doneTitle, IDNO);
    EXPECT_TRUE(filesIn(converted()).empty());
    EXPECT_FALSE(sawStatus("正在转换第1个图片文件"));
}

// JPEGs are streamed, each next one readied while the one before is written: one readied before
// the change starts again with the new settings. For a fixed size they are decoded reduced up to
// two files ahead: those are rendered with the new settings, and decoded again for a new size.
TEST_F(Worker, SettingsChangedDuringAConversionReachTheLaterPictures)
{
    TempDir otherSource;
    writePicture(otherSource.file("other.png"), colourOf(9));
    waitForFirstPreview();
    const struct {
        const char* name;
        const char* subtype;
        int width, height, keep;
    } rows[] = {{"png", "png", 48, 36, 1}, {"jpeg", "jpeg", 48, 36, 1}, {"jpeg at a fixed size", "jpeg", 1280, 960, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const char* subtype = row.subtype;
        TempDir sources;
        setSourcePath(sources.path().c_str());
        setRedAdjust(0);
        setKeepSourceSize(row.keep);
        setTargetWidth(320);
        setTargetHeight(240);
        for (int index = 0; index < 5; ++index)
            writePicture(sources.file("p0" + std::to_string(index) + "." + subtype), colourOf(index), subtype,
                         row.width, row.height);
        dialog.onStatusText = [&](const std::string& text) {
            if (text != "正在转换第3个图片文件") return;
            setRedAdjust(-50);
            setTargetWidth(160);
            setTargetHeight(120);
            setSourcePath(otherSource.path().c_str());
        };
        pressStart();
        answer(doneTitle, IDNO);
        dialog.onStatusText = nullptr;

        const std::vector<std::string> written = filesIn(sources.file("converted"));
        ASSERT_EQ(written.size(), 5u);
        std::map<std::string, int> numberOf;
        for (int number = 1; number <= 5; ++number) {
            const std::string entry = ansiText(sourceEntry(number - 1));
            numberOf[entry.substr(entry.size() - std::strlen(subtype) - 4)] = number;
        }
        for (const std::string& name : written) {
            SCOPED_TRACE(name);
            const bool changed = numberOf[name] >= 3;
            GdiBitmap decoded;
            ASSERT_EQ(GdipCreateBitmapFromFile(toWide(sources.file("converted\\" + name)), decoded.receive()), Ok);
            EXPECT_EQ(imageSize(decoded.get()).width, row.keep != 0 ? row.width : changed ? 160 : 320);
            const int red = static_cast<int>(channels(colourOf(std::stoi(name.substr(1, 2)))).red);
            EXPECT_NEAR(channels(pixelAt(decoded.get(), 0, 0)).red, changed ? red / 2 : red, 3);
        }
        EXPECT_FALSE(fileExists(otherSource.file("converted")));
        ASSERT_TRUE(waitFor([&] { return isRunning() == 0; }));
    }
}

// A WebP's pixels and facts as libwebp reads them; an empty picture when it does not.
struct ReadWebp {
    WebpFacts facts;
    std::vector<uint8_t> pixels;  // blue, green, red, alpha
    uint8_t alphaAt(int x, int y) const { return pixels[(static_cast<std::size_t>(y) * facts.size.width + x) * 4 + 3]; }
};
ReadWebp readWebp(const std::string& path)
{
    const std::vector<uint8_t> file = readFile(path);
    ReadWebp read{isWebp(file) ? webpFacts(file) : WebpFacts{}, {}};
    const auto into = [&](ImageSize size, PixelLayout) {
        read.pixels.resize(static_cast<std::size_t>(size.width) * size.height * 4);
        return PixelRows{read.pixels.data(), size.width * 4, size.width, size.height, 4};
    };
    if (decodeWebpPixels(file, into) != Outcome::done) read.pixels.clear();
    return read;
}

TEST_F(Worker, WebPsAreFoundPreviewedAndConvertedBothWays)
{
    const Bytes profile = rgbProfileOf(600);
    Bytes turned = exifContents(OrientationExif{});
    turned.erase(turned.begin(), turned.begin() + 6);  // the TIFF block alone, as WebP writers put it
    writeFile(directory.file("lossy.webp"), webpWithChunks(encodeWebpPicture(64, 48, false), turned, profile));
    writeFile(directory.file("alpha.webp"), encodeWebpPicture(64, 48, true));
    writeFile(directory.file("photo.jpg"), withSegments(encodePicture(64, 48), {jpegSegment(0xE2, iccContents(1, 1, profile))}));
    waitForFirstPreview();
    EXPECT_TRUE(sawStatus("找到3个待转换文件"));

    struct Row {
        const char* format;
        std::vector<std::string> outputs;
    };
    for (const Row& row : {Row{keepFormatName, {"alpha.webp", "lossy.webp", "photo.jpg"}},
                           Row{"webp", {"alpha.webp", "lossy.webp", "photo.webp"}}}) {
        SCOPED_TRACE(row.format);
        setOutputFormat(row.format);
        pressStart();
        if (fileExists(converted())) answer(warningTitle, IDYES);
        answer(doneTitle, IDNO);
        ASSERT_TRUE(waitFor([&] { return isRunning() == 0; }));
        for (const std::string& name : row.outputs) EXPECT_TRUE(fileExists(converted(name))) << name;

        const ReadWebp lossy = readWebp(converted("lossy.webp"));
        ASSERT_FALSE(lossy.pixels.empty());
        EXPECT_EQ(lossy.facts.size.width, 48) << "turned upright";
        EXPECT_EQ(lossy.facts.size.height, 64);
        EXPECT_EQ(lossy.facts.colourProfile, profile);
        const ReadWebp alpha = readWebp(converted("alpha.webp"));
        ASSERT_FALSE(alpha.pixels.empty());
        EXPECT_EQ(alpha.alphaAt(0, 10), 255);
        EXPECT_LT(alpha.alphaAt(63, 10), 8);
        if (std::string_view(row.format) != "webp") continue;
        const ReadWebp photo = readWebp(converted("photo.webp"));
        ASSERT_FALSE(photo.pixels.empty());
        EXPECT_EQ(photo.facts.size.width, 64);
        EXPECT_EQ(photo.facts.colourProfile, profile);
        EXPECT_EQ(photo.alphaAt(63, 47), 255);
    }

    // A single WebP is previewed: its clear right edge shows the pane's white, where the photo
    // shown before had colour, and its opaque left edge keeps colour. Both are waited for at once:
    // until the preview comes, the panes may still show the upright portrait converted last,
    // whose pane is white at both those places.
    const PixelRect placed = fittedPlacement({64, 48}, sourcePane.x, sourcePane.y, paneWidth, paneHeight);
    const int middle = placed.y + placed.height / 2;
    setSourcePath(directory.file("alpha.webp").c_str());
    requestJob(1, 1);
    EXPECT_TRUE(waitFor([&] {
        return nearColour(canvasPixel(placed.x + placed.width - 2, middle), 0xFFFFFFFF, 8) &&
               !nearColour(canvasPixel(placed.x + 2, middle), 0xFFFFFFFF, 8);
    }));
}

TEST_F(Worker, AFolderBeyondTheListsRoomSaysWhatIsLeftOut)
{
    writePictures(105, "jpeg");
    waitForFirstPreview();
    EXPECT_TRUE(sawStatus("找到105个图片文件，只转换前100个，其余5个不会转换"));
    pressStart();
    EXPECT_EQ(answer(doneTitle, IDNO),
              "转换完成，已转换100个图片文件，有5个超出100个的上限没有转换，是否转到“" + converted() + "”目录查看");
    EXPECT_EQ(filesIn(converted()).size(), 100u);
}

TEST_F(Worker, RequestsBeforeTheWorkerWakesRunOneJobOfTheLastKind)
{
    struct CollapseCase {
        const char* name;
        int firstMode, lastMode;
        bool converts;
    };
    const CollapseCase cases[] = {
        {"Start, then a slider: a preview", 0, 1, false},
        {"a slider, then Start: a conversion", 1, 0, true},
    };
    for (const CollapseCase& row : cases) {
        SCOPED_TRACE(row.name);
        TempDir pictures;
        writePicture(pictures.file("a.png"), colourOf(1));
        setSourcePath(pictures.path().c_str());
        startWorker();
        const std::string scanned = "正在目录" + pictures.path() + "中查找图片文件...";
        // While the worker hands over its first status text it cannot wake for anything else.
        dialog.onStatusText = [&](const std::string& text) {
            if (text != scanned || sawStatus(scanned, 2)) return;
            requestJob(row.firstMode, 1);
            requestJob(row.lastMode, 0);
            requestJob(row.lastMode, 0);
        };
        if (row.converts) {
            answer(doneTitle, IDNO);
            EXPECT_EQ(filesIn(pictures.file("converted")), std::vector<std::string>{"a.png"});
        } else {
            ASSERT_TRUE(waitFor([&] { return sawStatus(scanned, 2); }));
            ASSERT_TRUE(waitFor([&] { return sawStatus("找到1个待转换文件", 2); }));
        }
        stopWorker();
        EXPECT_EQ(std::count(dialog.statusTexts().begin(), dialog.statusTexts().end(), scanned), 2);
        EXPECT_EQ(fileExists(pictures.file("converted")), row.converts);
        dialog.onStatusText = nullptr;
    }
}

TEST_F(Worker, StoppingTheWorkerDuringAConversionEndsAfterTheCurrentFile)
{
    writePictures(6);
    waitForFirstPreview();
    bool secondStarted = false;
    dialog.onStatusText = [&](const std::string& text) { secondStarted |= text == "正在转换第2个图片文件"; };
    pressStart();
    ASSERT_TRUE(waitFor([&] { return secondStarted; }));
    stopWorker();

    EXPECT_EQ(FindWindowA("#32770", doneTitle), nullptr);
    const std::vector<std::string> written = filesIn(converted());
    EXPECT_GE(written.size(), 2u);
    EXPECT_LE(written.size(), 3u);
    for (const std::string& name : written) EXPECT_EQ(name.substr(name.size() - 4), ".png");
    EXPECT_EQ(dialog.itemText(conversionButtonId), "Start");
}

TEST_F(Worker, OutputDirectoryThatCannotBeMadeIsReported)
{
    writePictures(2);
    writeFile(converted(), {'x'});
    waitForFirstPreview();
    pressStart();
    EXPECT_EQ(answer(warningTitle, IDOK), "无法创建转换目录“" + converted() + "”，没有转换任何图片");
    ASSERT_TRUE(waitFor([&] { return dialog.itemText(conversionButtonId) == "Start"; }));
    EXPECT_EQ(readFile(converted()), std::vector<unsigned char>{'x'});
    EXPECT_EQ(filesIn(directory.path()), (std::vector<std::string>{"converted", "p00.png", "p01.png"}));
}

TEST_F(Worker, EmptyListAtStartWritesNothing)
{
    waitForFirstPreview();
    pressStart();
    ASSERT_TRUE(waitFor([&] { return sawStatus("没有找到待转换的图片文件"); }));
    ASSERT_TRUE(waitFor([&] { return dialog.itemText(conversionButtonId) == "Start"; }));
    EXPECT_EQ(isRunning(), 0);
    EXPECT_FALSE(fileExists(converted()));
}

TEST_F(Worker, FailedFilesAreNamedWithTheirReasonsAndWriteNothing)
{
    writePictures(2);
    const Bytes photo = encodePicture(96, 64);
    std::map<std::string, const char*> reasons = {{"broken.jpg", "不是图片文件"}, {"damaged.png", "文件已损坏"}};
    writeFile(directory.file("broken.jpg"), {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
    writeFile(directory.file("damaged.png"), Bytes(pngSignature.begin(), pngSignature.end()));
    for (int cut = 1; cut <= 10; ++cut) {
        const std::string name = "cut" + std::to_string(cut) + ".jpg";
        writeFile(directory.file(name), Bytes(photo.begin(), photo.end() - 40 * cut));
        reasons[name] = "文件不完整";
    }
    waitForFirstPreview();
    pressStart();
    const std::string report = answer(doneTitle, IDNO);
    // Named in the order they were converted, ten of them.
    std::string named;
    int listed = 0;
    for (int index = 0; index < sourceCount() && listed < 10; ++index) {
        const std::string name = ansiText(fileName(sourceEntry(index)));
        if (reasons.count(name) == 0) continue;
        named += "\n" + name + "：" + reasons[name];
        ++listed;
    }
    EXPECT_EQ(report, "转换完成，但有12个图片文件没有转换成功，是否转到“" + converted() +
                          "”目录查看\n\n没有转换成功的文件：" + named + "\n另有2个没有列出");
    EXPECT_EQ(filesIn(converted()), (std::vector<std::string>{"p00.png", "p01.png"}));
}

TEST_F(Worker, SourcesCutShortOnDiskWhileTheBatchReadsThemFailHonestly)
{
    const std::string probe = directory.file("probe");
    writeFile(probe, Bytes(8, 0));
    if (!cutOnHost(probe, 4)) GTEST_SKIP() << "files can be cut from the host's side only under Wine";
    DeleteFileA(probe.c_str());
    Encoding photo;
    photo.grain = 20;
    const Bytes picture = encodePicture(3000, 2000, photo);
    constexpr int count = 8;
    for (int index = 0; index < count; ++index) writeFile(directory.file("p" + std::to_string(index) + ".jpg"), picture);
    std::strcpy(outputFormat(), "png");
    waitForFirstPreview();
    pressStart();
    // Once the first output is there, every source is cut short under the batch's feet.
    ASSERT_TRUE(waitFor([&] {
        const std::vector<std::string> written = filesIn(converted());
        return std::any_of(written.begin(), written.end(), [](const std::string& name) { return name[0] != '~'; });
    }));
    for (int index = 0; index < count; ++index) EXPECT_TRUE(cutOnHost(directory.file("p" + std::to_string(index) + ".jpg"), 4096));
    const std::string report = answer(doneTitle, IDNO);

    const std::vector<std::string> written = filesIn(converted());
    for (const std::string& name : written) {
        SCOPED_TRACE(name);
        EXPECT_NE(name[0], '~') << "a temporary file left behind";
        GdiBitmap decoded;
        ASSERT_EQ(GdipCreateBitmapFromFile(toWide(converted(name)), decoded.receive()), Ok);
        EXPECT_EQ(imageSize(decoded.get()).width, 3000);
    }
    const int failed = count - static_cast<int>(written.size());
    ASSERT_GE(written.size(), 1u);
    if (failed == 0) {
        EXPECT_EQ(report, "转换成功完成，是否转到“" + converted() + "”目录查看");
        return;
    }
    EXPECT_EQ(report.rfind("转换完成，但有" + std::to_string(failed) + "个图片文件没有转换成功", 0), 0u) << report;
    for (int index = 0; index < count; ++index) {
        const std::string source = "p" + std::to_string(index) + ".jpg";
        const bool converted = std::count(written.begin(), written.end(), "p" + std::to_string(index) + ".png") > 0;
        const bool incomplete = report.find("\n" + source + "：文件不完整") != std::string::npos;
        const bool unreadable = report.find("\n" + source + "：无法读取") != std::string::npos;
        EXPECT_NE(converted, incomplete || unreadable) << source;
    }
}

TEST_F(Worker, SourcesOfTheSameNameNeverOverwriteEachOther)
{
    writePicture(directory.file("a.png"), colourOf(1));
    writePicture(directory.file("a.bmp"), colourOf(2), "bmp");
    std::strcpy(outputFormat(), "jpg");
    startWorker();
    pressStart();
    answer(doneTitle, IDNO);
    EXPECT_EQ(filesIn(converted()), (std::vector<std::string>{"a.bmp.jpg", "a.jpg"}));
    EXPECT_NEAR(channels(firstPixelOf(converted("a.jpg"))).red, channels(colourOf(1)).red, 6);
    EXPECT_NEAR(channels(firstPixelOf(converted("a.bmp.jpg"))).red, channels(colourOf(2)).red, 6);
}

TEST_F(Worker, AnEmptySourcePathIsSearchedAsADirectory)
{
    setSourcePath("");
    rescanSources();
    ASSERT_FALSE(dialog.statusTexts().empty());
    EXPECT_EQ(dialog.statusTexts().back().rfind("找到", 0), 0u) << dialog.statusTexts().back();
}

// The same folder converted over and over gives the same files every time: no picture's pixels
// are ever shared with, or taken by, another's while both threads decode and write.
TEST_F(Worker, RepeatedConversionsOfAFolderComeOutTheSame)
{
    constexpr int files = 8, rounds = 6;
    for (int index = 0; index < files; ++index) {
        Encoding encoding;
        encoding.halfChroma = index % 2 == 0;
        encoding.stored = index % 4 == 3 ? Space::grey : Space::ycbcr;
        encoding.grain = 8 * index;
        char name[16];
        std::snprintf(name, sizeof name, "s%02d.jpg", index);
        writeFile(directory.file(name), encodePicture(1280 + 16 * index, 960, encoding));
    }
    setKeepSourceSize(0);
    setTargetWidth(400);
    setTargetHeight(300);
    setOutputFormat("png");
    waitForFirstPreview();
    std::map<std::string, std::vector<unsigned char>> first;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        pressStart();
        if (round > 0) answer(warningTitle, IDYES);
        EXPECT_EQ(answer(doneTitle, IDNO), "转换成功完成，是否转到“" + converted() + "”目录查看");
        ASSERT_TRUE(waitFor([&] { return isRunning() == 0; }));
        for (const std::string& name : filesIn(converted())) {
            const std::vector<unsigned char> bytes = readFile(converted(name));
            if (round == 0)
                first[name] = bytes;
            else
                EXPECT_TRUE(bytes == first[name]) << name;
        }
    }
    EXPECT_EQ(first.size(), static_cast<std::size_t>(files));
}

namespace {
// Threads started anywhere in the process, counted as each one attaches to the program.
std::atomic<int> threadStarts{0};
void NTAPI countThreadStart(PVOID, DWORD reason, PVOID)
{
    if (reason == DLL_THREAD_ATTACH) ++threadStarts;
}
}  // namespace
#ifdef _MSC_VER
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma section(".CRT$XLF", read)
extern "C" __declspec(allocate(".CRT$XLF")) const PIMAGE_TLS_CALLBACK countThreadStartCallback = countThreadStart;
#else
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK countThreadStartCallback =
    countThreadStart;
#endif

// A running worker keeps its threads: whichever way its files go (streamed; reduced, cut and split
// across both processors; resampled in bands; decoded ahead), a batch starts none of its own.
// Counted from the first file to the last one's turn, as the first message box of a process
// starts a thread of Wine's own.
TEST_F(Worker, ABatchStartsNoThreadPerFile)
{
    constexpr int files = 16;
    for (int index = 0; index < files; ++index) {
        Encoding encoding;
        encoding.progressive = index % 4 == 1;
        encoding.halfChroma = index % 2 == 0;
        encoding.restartRows = index % 4 == 2 ? 1 : 0;
        char name[16];
        std::snprintf(name, sizeof name, "t%02d.jpg", index);
        writeFile(directory.file(name), encodePicture(1280 + 16 * index, 960, encoding));
    }
    setTargetWidth(300);
    setTargetHeight(200);
    waitForFirstPreview();
    int round = 0;
    const auto startsBy = [&](int file) {
        EXPECT_TRUE(waitFor([&] { return sawStatus("正在转换第" + std::to_string(file) + "个图片文件", round); }));
        return threadStarts.load();
    };
    for (const int keep : {0, 1}) {
        SCOPED_TRACE(keep != 0 ? "size kept" : "fixed size");
        setKeepSourceSize(keep);
        ++round;
        pressStart();
        if (keep == 1) answer(warningTitle, IDYES);
        const int first = startsBy(1);
        EXPECT_EQ(startsBy(files) - first, 0);
        EXPECT_EQ(answer(doneTitle, IDNO), "转换成功完成，是否转到“" + converted() + "”目录查看");
        ASSERT_TRUE(waitFor([&] { return isRunning() == 0; }));
    }
}

TEST(ProcessFile, WithoutTheCanvasLockStillSavesAndLeavesTheCanvas)
{
    TempDir directory;
    TestDialog dialog;
    startImaging(dialogWindow());
    writePicture(directory.file("a.png"), colourOf(4));
    const std::string output = directory.file("out.png");
    {
        CanvasHolder holder;
        resetDefaults();
        EXPECT_EQ(processFile(wideText(directory.file("a.png")).c_str(), wideText(output).c_str(), "png", false, copySettings()),
                  Outcome::done);
    }
    {
        CanvasLock lock;
        EXPECT_EQ(pixelAt(previewCanvas(), sourcePane.x, sourcePane.y), 0u);
    }
    EXPECT_TRUE(nearColour(firstPixelOf(output), colourOf(4), 2));
    stopImaging();
}
