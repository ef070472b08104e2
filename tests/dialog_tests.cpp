#include "app/dialog_helpers.h"
#include "app/main_dialog.h"
#include "app/startup.h"
#include "app/resource.h"
#include "batch/worker.h"
#include "common/win32/text.h"
#include "settings/settings.h"
#include "tests/pictures.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <functional>
#include <thread>

namespace {

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK findOwned(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<OwnedSearch*>(parameter);
    if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

// A visible window that `owner` owns: the browser it opened.
HWND ownedWindow(HWND owner)
{
    OwnedSearch search{owner, nullptr};
    EnumWindows(findOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The main dialog, modal on a thread of its own as in the program, driven by messages.
class MainDialog : public ::testing::Test {
protected:
    TempDir directory;
    CurrentDirectory inDirectory{directory.path()};
    HWND dialog = nullptr;
    std::thread dialogThread;

    void SetUp() override
    {
        writeDefaultsWithSource(directory.path());
        open();
    }

    void TearDown() override
    {
        if (dialog != nullptr && IsWindow(dialog)) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        if (dialogThread.joinable()) dialogThread.join();
    }

    // A settings file whose source is `source`; the rest are the defaults.
    static void writeDefaultsWithSource(const std::string& source)
    {
        resetDefaults();
        setSourcePath(source.c_str());
        ASSERT_TRUE(saveSettings());
    }

    void open()
    {
        setDialogWindow(nullptr);
        setProgramInstance(GetModuleHandleA(nullptr));
        InitCommonControls();
        dialogThread = std::thread([] {
            DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProcedure, 0);
        });
        ASSERT_TRUE(waitFor([&] { return (dialog = dialogWindow()) != nullptr && IsWindowVisible(dialog); }));
    }

    void closeWith(int id)
    {
        PostMessageA(dialog, WM_COMMAND, id, 0);
        dialogThread.join();
        dialog = nullptr;
    }

    static bool waitFor(const std::function<bool()>& done)
    {
        for (int waited = 0; waited < 3000; ++waited) {
            if (done()) return true;
            Sleep(10);
        }
        return done();
    }

    HWND item(int id) const { return GetDlgItem(dialog, id); }

    std::string text(int id) const
    {
        char buffer[1100] = "";
        SendMessageA(item(id), WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }

    LRESULT send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendMessageA(item(id), message, wParam, lParam);
    }

    void setText(int id, const char* value) const { send(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value)); }
    void click(int id) const { send(id, BM_CLICK); }

    void choose(int list, int index) const
    {
        send(list, CB_SETCURSEL, index);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE), reinterpret_cast<LPARAM>(item(list)));
    }

    int sliderPosition(int id) const { return static_cast<int>(send(id, TBM_GETPOS)); }

    // A status text ending in `suffix` has appeared since `after` texts were counted.
    bool statusEndsWith(const std::string& suffix) const
    {
        const std::string status = text(IDC_STATUS);
        return status.size() >= suffix.size() && status.compare(status.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
};

}  // namespace

TEST_F(MainDialog, FirstStartWithoutSettingsShowsTheDefaults)
{
    closeWith(IDCANCEL);
    DeleteFileA("settings.dat");
    open();

    const int expectedSliders[][2] = {{IDC_RED, 0}, {IDC_GREEN, 0}, {IDC_BLUE, 0}, {IDC_BRIGHTNESS, 0},
                                      {IDC_OPACITY, 100}, {IDC_FONT_SIZE, 12}};
    for (const auto& slider : expectedSliders) EXPECT_EQ(sliderPosition(slider[0]), slider[1]) << slider[0];
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_KEEP_SIZE), BST_CHECKED);
    EXPECT_EQ(text(IDC_WIDTH), "160");
    EXPECT_EQ(text(IDC_HEIGHT), "120");
    EXPECT_FALSE(IsWindowEnabled(item(IDC_WIDTH)));
    EXPECT_FALSE(IsWindowEnabled(item(IDC_HEIGHT)));
    EXPECT_EQ(text(IDC_ALIGNMENT), "右下角");
    EXPECT_EQ(text(IDC_FORMAT), "保持不变");
    EXPECT_EQ(text(IDC_TEXT), "Inkveil");
    EXPECT_EQ(text(IDC_SOURCE_PATH), directory.file("Demo.jpg"));
    EXPECT_EQ(text(IDC_CONVERT), "开始转换");
    EXPECT_EQ(send(IDC_OPACITY, TBM_GETRANGEMIN), 0);
    EXPECT_EQ(send(IDC_OPACITY, TBM_GETRANGEMAX), 255);
    EXPECT_EQ(send(IDC_RED, TBM_GETRANGEMIN), -50);

    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 760);
    EXPECT_EQ(client.bottom, 542);
    RECT window, workArea;
    GetWindowRect(dialog, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    EXPECT_NEAR((window.left + window.right) / 2, (workArea.left + workArea.right) / 2, 1);
}

TEST_F(MainDialog, EveryCommandStoresWhatItSaysAndRequestsWhatItSays)
{
    int requests = requestedJobs();
    // An edit reports a new text more than once; each report asks again.
    const auto requested = [&](bool any) {
        const int now = requestedJobs();
        const bool asked = now > requests;
        requests = now;
        return asked == any;
    };

    setText(IDC_WIDTH, "321");
    EXPECT_EQ(targetWidth(), 321);
    EXPECT_TRUE(requested(true));
    setText(IDC_WIDTH, "");
    EXPECT_EQ(targetWidth(), 0);
    EXPECT_TRUE(requested(true));
    setText(IDC_HEIGHT, "-5");
    EXPECT_EQ(targetHeight(), -5);
    EXPECT_TRUE(requested(true));

    setText(IDC_TEXT, "版权所有");
    EXPECT_STREQ(watermarkText(), "版权所有");
    EXPECT_TRUE(requested(true));

    click(IDC_KEEP_SIZE);
    EXPECT_EQ(keepSourceSize(), 0);
    EXPECT_TRUE(IsWindowEnabled(item(IDC_WIDTH)));
    EXPECT_TRUE(requested(true));
    click(IDC_KEEP_SIZE);
    EXPECT_EQ(keepSourceSize(), 1);
    EXPECT_FALSE(IsWindowEnabled(item(IDC_HEIGHT)));
    EXPECT_TRUE(requested(true));

    choose(IDC_FORMAT, 3);
    EXPECT_STREQ(outputFormat(), "png");
    EXPECT_TRUE(requested(false));

    const std::pair<int, int> alignments[] = {{1, 0}, {2, 1}, {3, 2}, {0, 3}};
    for (const auto& [index, value] : alignments) {
        choose(IDC_ALIGNMENT, index);
        EXPECT_EQ(textAlignment(), value) << index;
        EXPECT_TRUE(requested(true));
    }

    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1017, BN_CLICKED), 0);
    EXPECT_TRUE(requested(false));
}

TEST_F(MainDialog, DraggingASliderStoresEveryPositionAndItsReleaseAsksOnce)
{
    RECT thumb;
    send(IDC_OPACITY, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    const int y = (thumb.top + thumb.bottom) / 2;
    int x = (thumb.left + thumb.right) / 2;
    const int requests = requestedJobs();

    // Wine also moves a captured slider to where the real pointer is: it is put where the mouse
    // messages say it is.
    const auto pointAt = [&] {
        POINT onScreen{x, y};
        ClientToScreen(item(IDC_OPACITY), &onScreen);
        SetCursorPos(onScreen.x, onScreen.y);
    };
    pointAt();
    PostMessageA(item(IDC_OPACITY), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    int lastPosition = sliderPosition(IDC_OPACITY);
    for (int step = 0; step < 3; ++step) {
        x += 20;
        pointAt();
        PostMessageA(item(IDC_OPACITY), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
        ASSERT_TRUE(waitFor([&] { return sliderPosition(IDC_OPACITY) > lastPosition; }));
        lastPosition = sliderPosition(IDC_OPACITY);
        EXPECT_TRUE(waitFor([&] { return textOpacity() == lastPosition; })) << step;
        EXPECT_EQ(requestedJobs(), requests);
    }
    PostMessageA(item(IDC_OPACITY), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    EXPECT_TRUE(waitFor([&] { return requestedJobs() == requests + 1; }));
    Sleep(100);
    EXPECT_EQ(requestedJobs(), requests + 1);
    EXPECT_EQ(textOpacity(), sliderPosition(IDC_OPACITY));
}

TEST_F(MainDialog, ADroppedFileInAnyScriptBecomesTheSourceAndConverts)
{
    // Outside the macros, which spell their arguments in the ANSI code page.
    const std::wstring folder = wideText(directory.path());
    const std::wstring name = L"ไทย 第一 ゔ😀.jpg";
    const std::wstring first = folder + L"\\" + name;
    const std::wstring names[] = {first, folder + L"\\second.jpg", folder + L"\\third.png"};
    for (const std::wstring& name : names) writeFile(name, encodePicture(64, 48));
    std::wstring list;
    for (const std::wstring& name : names) list += name + L'\0';
    list += L'\0';
    const std::size_t listBytes = list.size() * sizeof(wchar_t);
    HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + listBytes);
    ASSERT_NE(drop, nullptr);
    auto* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), list.data(), listBytes);
    GlobalUnlock(drop);

    const int requests = requestedJobs();
    // The dialog takes the drop over and releases it.
    SendMessageA(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    EXPECT_TRUE(sourcePathText() == first);
    wchar_t shown[MAX_PATH] = L"";
    GetDlgItemTextW(dialog, IDC_SOURCE_PATH, shown, MAX_PATH);
    EXPECT_TRUE(shown == first);
    EXPECT_EQ(requestedJobs(), requests + 1);
    EXPECT_TRUE(waitFor([&] { return text(IDC_STATUS) == "有1个待转换文件"; }));

    click(IDC_CONVERT);
    HWND box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = FindWindowA("#32770", "完成")) != nullptr; }));
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(box); }));
    EXPECT_TRUE(fileExists(folder + L"\\converted\\" + name));
    EXPECT_FALSE(fileExists(folder + L"\\converted\\second.jpg"));
}

TEST_F(MainDialog, DefaultsButtonRestoresAndShowsTheDefaults)
{
    writeFile(directory.file("Demo.jpg"), {'x'});
    setText(IDC_TEXT, "abc");
    click(IDC_KEEP_SIZE);
    choose(IDC_ALIGNMENT, 1);
    send(IDC_RED, TBM_SETPOS, TRUE, 30);
    setRedAdjust(30);

    click(IDC_DEFAULTS);
    EXPECT_STREQ(watermarkText(), "Inkveil");
    EXPECT_EQ(text(IDC_TEXT), "Inkveil");
    EXPECT_EQ(keepSourceSize(), 1);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_KEEP_SIZE), BST_CHECKED);
    EXPECT_EQ(textAlignment(), 3);
    EXPECT_EQ(text(IDC_ALIGNMENT), "右下角");
    EXPECT_EQ(redAdjust(), 0);
    EXPECT_EQ(sliderPosition(IDC_RED), 0);
    EXPECT_EQ(text(IDC_SOURCE_PATH), directory.file("Demo.jpg"));
    // The rescan that goes with the defaults looks at the default source, a single file.
    EXPECT_TRUE(waitFor([&] { return text(IDC_STATUS) == "有1个待转换文件"; }));
}

TEST_F(MainDialog, ConversionButtonReadsStartStopStart)
{
    closeWith(IDCANCEL);
    CreateDirectoryA(directory.file("pictures").c_str(), nullptr);
    imaging::GdiBitmap picture;
    makeSolidBitmap(picture, 64, 48, 0xFF336699);
    writeFile(directory.file("pictures\\a.bmp"), {});
    writeDefaultsWithSource(directory.file("pictures"));
    open();

    EXPECT_EQ(text(IDC_CONVERT), "开始转换");
    click(IDC_CONVERT);
    EXPECT_EQ(text(IDC_CONVERT), "Stop");
    EXPECT_EQ(isRunning(), 1);
    click(IDC_CONVERT);
    EXPECT_EQ(text(IDC_CONVERT), "Start");
    EXPECT_EQ(isRunning(), 0);
    HWND box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = FindWindowA("#32770", "完成")) != nullptr; }));
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(box); }));
    EXPECT_EQ(text(IDC_CONVERT), "Start");
}

TEST_F(MainDialog, EnterInTheTextEditClosesAndSaves)
{
    setText(IDC_TEXT, "回车");
    PostMessageA(item(IDC_TEXT), WM_KEYDOWN, VK_RETURN, 1);
    dialogThread.join();
    const std::vector<unsigned char> saved = readFile(directory.file("settings.dat"));
    ASSERT_GT(saved.size(), 3112u);  // the record, then the source path in UTF-16
    EXPECT_STREQ(reinterpret_cast<const char*>(&saved[1064]), "回车");
}

TEST_F(MainDialog, AStoredNegativeSizeSurvivesAStartAndAClose)
{
    closeWith(IDCANCEL);
    resetDefaults();
    setSourcePath(directory.path().c_str());
    setTargetWidth(-1);
    setKeepSourceSize(0);
    ASSERT_TRUE(saveSettings());
    open();
    EXPECT_EQ(text(IDC_WIDTH), "4294967295");
    EXPECT_TRUE(IsWindowEnabled(item(IDC_WIDTH)));
    closeWith(IDOK);
    loadSettings();
    EXPECT_EQ(targetWidth(), -1);
}

TEST_F(MainDialog, CancellingTheBrowserRescansTheUnchangedSource)
{
    const int requests = requestedJobs();
    PostMessageA(dialog, WM_COMMAND, IDC_BROWSE, 0);
    HWND browser = nullptr;
    ASSERT_TRUE(waitFor([&] { return (browser = ownedWindow(dialog)) != nullptr; }));
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(waitFor([&] { return requestedJobs() == requests + 1; }));
    EXPECT_EQ(std::string(sourcePath()), directory.path());
    EXPECT_TRUE(waitFor([&] { return text(IDC_STATUS) == "找到0个待转换文件"; }));
}

TEST(SampleImage, IsWrittenWholeOrNotAtAll)
{
    setProgramInstance(GetModuleHandleA(nullptr));
    TempDir directory;
    const CurrentDirectory inside(directory.path());
    extractSampleImage();
    const HRSRC sample = FindResourceA(programInstance(), MAKEINTRESOURCEA(IDR_SAMPLE), IDR_SAMPLE_TYPE);
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(readFile(directory.file("Demo.jpg")).size(), SizeofResource(programInstance(), sample));
    EXPECT_EQ(filesIn(directory.path()), std::vector<std::string>{"Demo.jpg"});

    // A name that cannot be written (a folder holds it): no sample, and no part of one left behind.
    TempDir blocked;
    const CurrentDirectory insideBlocked(blocked.path());
    ASSERT_TRUE(CreateDirectoryA(blocked.file("Demo.jpg").c_str(), nullptr));
    extractSampleImage();
    EXPECT_EQ(filesIn(blocked.path()), std::vector<std::string>{"Demo.jpg"});
    RemoveDirectoryA(blocked.file("Demo.jpg").c_str());
}
