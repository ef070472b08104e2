#include "app/main_dialog.h"

#include "app/dialog_helpers.h"
#include "app/resource.h"
#include "app/startup.h"
#include "batch/worker.h"
#include "common/win32/text.h"
#include "preview/canvas.h"
#include "settings/settings.h"
#include "settings/vocabulary.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

wchar_t browseBuffer[MAX_PATH];

struct AlignmentName {
    const char* text;
    int value;
};
const AlignmentName alignmentNames[] = {
    {"右下角", alignBottomRight}, {"左上角", alignTopLeft}, {"正中间", alignCentre}, {"正下方", alignBottomCentre}};

struct Slider {
    int id;
    int minimum, maximum;
    int (*get)();
    void (*set)(int);
};
const Slider sliders[] = {
    {IDC_RED, -50, 50, redAdjust, setRedAdjust},
    {IDC_GREEN, -50, 50, greenAdjust, setGreenAdjust},
    {IDC_BLUE, -50, 50, blueAdjust, setBlueAdjust},
    {IDC_BRIGHTNESS, -50, 50, brightnessAdjust, setBrightnessAdjust},
    {IDC_OPACITY, 0, 255, textOpacity, setTextOpacity},
    {IDC_FONT_SIZE, 1, 100, fontSize, setFontSize},
};

const Slider* sliderFor(int id)
{
    for (const Slider& slider : sliders)
        if (slider.id == id) return &slider;
    return nullptr;
}

// Owner of the item identifier that the folder browser hands out.
class BrowsedItem {
public:
    explicit BrowsedItem(LPITEMIDLIST item) : item_(item) {}
    ~BrowsedItem() { CoTaskMemFree(item_); }
    BrowsedItem(const BrowsedItem&) = delete;
    BrowsedItem& operator=(const BrowsedItem&) = delete;
    LPITEMIDLIST get() const { return item_; }

private:
    LPITEMIDLIST item_;
};

LRESULT sendItem(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

void selectListText(HWND dialog, int id, const std::string& text)
{
    sendItem(dialog, id, CB_SELECTSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void fillList(HWND dialog, int id, const char* const* names, std::size_t count)
{
    sendItem(dialog, id, CB_RESETCONTENT, 0, 0);
    for (std::size_t index = 0; index < count; ++index)
        sendItem(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[index]));
    selectListText(dialog, id, names[0]);
}

void enableSizeEdits(HWND dialog, bool enabled)
{
    EnableWindow(GetDlgItem(dialog, IDC_WIDTH), enabled);
    EnableWindow(GetDlgItem(dialog, IDC_HEIGHT), enabled);
}

const char* alignmentNameFor(int value)
{
    for (const AlignmentName& name : alignmentNames)
        if (name.value == value) return name.text;
    return alignmentNames[0].text;
}

// What the dialog starts and must stop again, ended in the reverse of the order the members are
// declared: the worker first (a running conversion finishes its file, and its status updates are
// still answered), then the settings are saved, and the imaging library goes last.
class DialogSession {
public:
    explicit DialogSession(HWND dialog) : imaging_(dialog) {}
    // Once the controls hold their ranges and lists: the worker's first preview may come at once.
    void startWorking() { worker_.emplace(); }

private:
    struct Imaging {
        explicit Imaging(HWND dialog) { startImaging(dialog); }
        ~Imaging() { stopImaging(); }
        Imaging(const Imaging&) = delete;
        Imaging& operator=(const Imaging&) = delete;
    };
    struct SettingsKept {
        SettingsKept() = default;
        ~SettingsKept() { saveSettings(); }
        SettingsKept(const SettingsKept&) = delete;
        SettingsKept& operator=(const SettingsKept&) = delete;
    };
    struct Worker {
        Worker() { startWorker(); }
        ~Worker() { stopWorker(); }
        Worker(const Worker&) = delete;
        Worker& operator=(const Worker&) = delete;
    };

    Imaging imaging_;
    SettingsKept settings_;
    std::optional<Worker> worker_;
};

std::optional<DialogSession> session;

void initialise(HWND dialog)
{
    setDialogWindow(dialog);
    loadSettings();
    session.emplace(dialog);
    centreWindow(dialog, GetDesktopWindow());
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconA(programInstance(), MAKEINTRESOURCEA(IDI_MAIN))));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(LoadIconA(programInstance(), MAKEINTRESOURCEA(IDI_MAIN))));
    for (const Slider& slider : sliders)
        sendItem(dialog, slider.id, TBM_SETRANGE, TRUE, MAKELPARAM(slider.minimum, slider.maximum));
    fillList(dialog, IDC_FORMAT, outputFormatNames, std::size(outputFormatNames));
    const char* alignmentTexts[std::size(alignmentNames)];
    for (std::size_t index = 0; index < std::size(alignmentNames); ++index) alignmentTexts[index] = alignmentNames[index].text;
    fillList(dialog, IDC_ALIGNMENT, alignmentTexts, std::size(alignmentTexts));
    session->startWorking();
    settingsToControls(dialog);
    DragAcceptFiles(dialog, TRUE);
}

void readSizeEdit(HWND dialog, int id, int stored, void (*store)(int))
{
    char text[16] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    store(sizeFromEdit(stored, text, static_cast<int>(GetDlgItemInt(dialog, id, nullptr, TRUE))));
}

void browse(HWND dialog)
{
    const std::wstring title = wideText("选择您的图片或者含有您的图片的目录");
    BROWSEINFOW request = {};
    request.hwndOwner = dialog;
    request.pszDisplayName = browseBuffer;
    request.lpszTitle = title.c_str();
    request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_BROWSEINCLUDEFILES;
    const BrowsedItem item(SHBrowseForFolderW(&request));
    // A display name is no path: without a path the source stays as it was.
    if (item.get() != nullptr && SHGetPathFromIDListW(item.get(), browseBuffer)) {
        SetDlgItemTextW(dialog, IDC_SOURCE_PATH, browseBuffer);
        setSourcePath(browseBuffer);
    }
    requestJob(1, 1);
}

void pressConversionButton()
{
    if (isRunning() == 0) {
        requestJob(0, 1);
        showStopCaption();
        return;
    }
    requestStop();
    restoreStartCaption();
}

void chooseAlignment(HWND dialog)
{
    char text[32] = "";
    GetDlgItemTextA(dialog, IDC_ALIGNMENT, text, sizeof text);
    for (const AlignmentName& name : alignmentNames)
        if (std::strcmp(text, name.text) == 0) setTextAlignment(name.value);
    requestJob(1, 0);
}

void close(HWND dialog)
{
    EndDialog(dialog, 0);
    session.reset();
}

void command(HWND dialog, int id)
{
    switch (id) {
    case IDOK:
    case IDCANCEL: close(dialog); break;
    case IDC_BROWSE: browse(dialog); break;
    case IDC_WIDTH:
        readSizeEdit(dialog, IDC_WIDTH, targetWidth(), setTargetWidth);
        requestJob(1, 0);
        break;
    case IDC_HEIGHT:
        readSizeEdit(dialog, IDC_HEIGHT, targetHeight(), setTargetHeight);
        requestJob(1, 0);
        break;
    case IDC_CONVERT: pressConversionButton(); break;
    case IDC_TEXT: {
        char text[settingsTextSize] = "";
        GetDlgItemTextA(dialog, IDC_TEXT, text, static_cast<int>(sizeof text));
        setWatermarkText(text);
        requestJob(1, 0);
        break;
    }
    case IDC_DEFAULTS:
        resetDefaults();
        settingsToControls(dialog);
        requestJob(1, 1);
        break;
    case IDC_KEEP_SIZE: {
        const bool keep = IsDlgButtonChecked(dialog, IDC_KEEP_SIZE) == BST_CHECKED;
        setKeepSourceSize(keep ? 1 : 0);
        enableSizeEdits(dialog, !keep);
        requestJob(1, 0);
        break;
    }
    case IDC_FORMAT: {
        char format[MAX_PATH] = "";
        GetDlgItemTextA(dialog, IDC_FORMAT, format, static_cast<int>(sizeof format));
        setOutputFormat(format);
        break;
    }
    case IDC_ALIGNMENT: chooseAlignment(dialog); break;
    default: break;
    }
}

void notify(HWND dialog, int id, const NMHDR& header)
{
    const Slider* slider = sliderFor(id);
    if (slider == nullptr) return;
    slider->set(static_cast<int>(sendItem(dialog, id, TBM_GETPOS, 0, 0)));
    if (header.code == static_cast<UINT>(NM_RELEASEDCAPTURE)) requestJob(1, 0);
}

void dropFiles(HWND dialog, HDROP drop)
{
    wchar_t path[settingsTextSize] = L"";
    DragQueryFileW(drop, 0, path, settingsTextSize);
    DragFinish(drop);
    SetDlgItemTextW(dialog, IDC_SOURCE_PATH, path);
    setSourcePath(path);
    requestJob(1, 1);
}

void paint(HWND dialog)
{
    PAINTSTRUCT paint;
    HDC deviceContext = BeginPaint(dialog, &paint);
    paintPreview(dialog, deviceContext);
    EndPaint(dialog, &paint);
}

}  // namespace


int sizeFromEdit(int stored, const char* text, int signedValue)
{
    if (stored < 0 && std::to_string(static_cast<unsigned>(stored)) == text) return stored;
    return signedValue;
}

void settingsToControls(HWND dialog)
{
    for (const Slider& slider : sliders) sendItem(dialog, slider.id, TBM_SETPOS, TRUE, slider.get());
    SetDlgItemInt(dialog, IDC_WIDTH, static_cast<UINT>(targetWidth()), FALSE);
    SetDlgItemInt(dialog, IDC_HEIGHT, static_cast<UINT>(targetHeight()), FALSE);
    selectListText(dialog, IDC_ALIGNMENT, alignmentNameFor(textAlignment()));
    const bool keep = keepSourceSize() == 1;
    CheckDlgButton(dialog, IDC_KEEP_SIZE, keep ? BST_CHECKED : BST_UNCHECKED);
    enableSizeEdits(dialog, !keep);
    const WatermarkSettings settings = copySettings();
    selectListText(dialog, IDC_FORMAT, std::string(fieldText(settings.outputFormat)));
    SetDlgItemTextA(dialog, IDC_TEXT, std::string(fieldText(settings.watermarkText)).c_str());
    SetDlgItemTextW(dialog, IDC_SOURCE_PATH, sourcePathText().c_str());
}

INT_PTR CALLBACK mainDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: initialise(dialog); return FALSE;
    case WM_COMMAND: command(dialog, LOWORD(wParam)); return FALSE;
    case WM_NOTIFY: notify(dialog, LOWORD(wParam), *reinterpret_cast<const NMHDR*>(lParam)); return FALSE;
    case WM_DROPFILES: dropFiles(dialog, reinterpret_cast<HDROP>(wParam)); return FALSE;
    case WM_PAINT: paint(dialog); return TRUE;
    case conversionEndedMessage: restoreStartCaption(); return TRUE;
    default: return FALSE;
    }
}
