#include "app/dialog_helpers.h"
#include "common/win32/handles.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

namespace {

RECT sized(LONG left, LONG top, LONG width, LONG height) { return {left, top, left + width, top + height}; }

}  // namespace

TEST(CentredPosition, CentresOverTheReferenceAndKeepsInsideTheWorkArea)
{
    const RECT screen{0, 0, 1024, 768};
    const RECT workArea{0, 0, 1024, 728};
    struct Row {
        const char* name;
        RECT window;
        RECT reference;
        std::optional<RECT> workArea;
        POINT expected;
    };
    const Row rows[] = {
        {"776x600 fits", sized(300, 200, 776, 600), screen, workArea, {124, 84}},
        {"776x700 bottom moved up", sized(0, 0, 776, 700), screen, workArea, {124, 28}},
        {"1100 wide, near edge wins", sized(-5, 7, 1100, 600), screen, workArea, {0, 84}},
        {"776x750 bottom on the area, top above", sized(0, 0, 776, 750), screen, workArea, {124, -22}},
        {"no work area: the whole screen", sized(0, 0, 776, 700), screen, std::nullopt, {124, 34}},
        {"negative half truncates toward zero", sized(0, 0, 150, 150), sized(100, 100, 101, 101), workArea,
         {76, 76}},
        {"far edge of an offset area", sized(0, 0, 300, 200), sized(900, 600, 100, 100), RECT{60, 0, 1024, 728},
         {724, 528}},
        {"near edge of an offset area", sized(0, 0, 300, 200), sized(0, 0, 100, 100), RECT{60, 30, 1024, 728},
         {60, 30}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const POINT at = centredPosition(row.window, row.reference, row.workArea, 1024, 768);
        EXPECT_EQ(at.x, row.expected.x);
        EXPECT_EQ(at.y, row.expected.y);
    }
}

TEST(CentreWindow, MovesTheWindowKeepingItsSize)
{
    TestDialog dialog(776, 600);
    centreWindow(dialog.window(), GetDesktopWindow());

    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    RECT area{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0));
    const POINT expected = centredPosition(sized(0, 0, 776, 600), desktop, area, 0, 0);
    RECT placed{};
    GetWindowRect(dialog.window(), &placed);
    EXPECT_EQ(placed.left, expected.x);
    EXPECT_EQ(placed.top, expected.y);
    EXPECT_EQ(placed.right - placed.left, 776);
    EXPECT_EQ(placed.bottom - placed.top, 600);
}

TEST(DialogHelpers, WriteIntoTheDialogsControls)
{
    TestDialog dialog;
    setStatusText("找到3个待转换文件");
    EXPECT_EQ(dialog.itemText(statusLineId), "找到3个待转换文件");

    SetDlgItemTextA(dialog.window(), conversionButtonId, "Stop");
    setRunning(1);
    restoreStartCaption();
    EXPECT_EQ(dialog.itemText(conversionButtonId), "Start");
    EXPECT_EQ(isRunning(), 0);
    restoreStartCaption();
    EXPECT_EQ(dialog.itemText(conversionButtonId), "Start");
    EXPECT_EQ(isRunning(), 0);
}

TEST(DialogHelpers, TextsFromAnotherThreadAreInPlaceWhenTheCallReturns)
{
    TestDialog dialog;
    SetDlgItemTextA(dialog.window(), conversionButtonId, "Stop");
    setRunning(1);
    KernelHandle statusSet(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    KernelHandle captionRestored(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    KernelHandle goOn(CreateEventA(nullptr, TRUE, FALSE, nullptr));

    std::thread worker([&] {
        setStatusText("正在转换第1个文件");
        SetEvent(statusSet.get());
        WaitForSingleObject(goOn.get(), INFINITE);
        restoreStartCaption();
        SetEvent(captionRestored.get());
    });
    const bool statusArrived = pumpMessagesUntil(statusSet.get());
    // No message is dispatched between the signal and these reads.
    const std::string status = dialog.itemText(statusLineId);
    SetEvent(goOn.get());
    const bool captionArrived = pumpMessagesUntil(captionRestored.get());
    const std::string caption = dialog.itemText(conversionButtonId);
    worker.join();

    ASSERT_TRUE(statusArrived);
    ASSERT_TRUE(captionArrived);
    EXPECT_EQ(status, "正在转换第1个文件");
    EXPECT_EQ(caption, "Start");
    EXPECT_EQ(isRunning(), 0);
}

TEST(DialogHelpers, InvalidateMarksTheWholeClientAreaWithoutErasingOrTheControls)
{
    TestDialog dialog;
    UpdateWindow(dialog.window());
    const int erasesBefore = dialog.erases();

    invalidateDialog();
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(dialog.window(), &update, FALSE));
    RECT client{};
    GetClientRect(dialog.window(), &client);
    EXPECT_TRUE(EqualRect(&update, &client));
    for (const int control : {statusLineId, conversionButtonId})
        EXPECT_FALSE(GetUpdateRect(GetDlgItem(dialog.window(), control), &update, FALSE)) << control;

    UpdateWindow(dialog.window());
    EXPECT_EQ(dialog.erases(), erasesBefore);
    EXPECT_FALSE(GetUpdateRect(dialog.window(), &update, FALSE));
}
