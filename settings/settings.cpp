#include "settings/settings.h"

#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "settings/vocabulary.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

WatermarkSettings record;
// The source path as chosen; the record spells it in the ANSI code page.
std::wstring wideSourcePath;
std::recursive_mutex recordMutex;
using Guard = std::lock_guard<std::recursive_mutex>;

void store(int32_t WatermarkSettings::*field, int value)
{
    Guard guard(recordMutex);
    record.*field = value;
}

constexpr const char* temporaryFileName = "settings.dat.new";

}  // namespace

int targetWidth() { return record.targetWidth; }
int targetHeight() { return record.targetHeight; }
int redAdjust() { return record.redAdjust; }
int greenAdjust() { return record.greenAdjust; }
int blueAdjust() { return record.blueAdjust; }
int brightnessAdjust() { return record.brightnessAdjust; }
int textOpacity() { return record.textOpacity; }
int fontSize() { return record.fontSize; }
int textAlignment() { return record.textAlignment; }
int keepSourceSize() { return record.keepSourceSize; }
void setTargetWidth(int value) { store(&WatermarkSettings::targetWidth, value); }
void setTargetHeight(int value) { store(&WatermarkSettings::targetHeight, value); }
void setRedAdjust(int value) { store(&WatermarkSettings::redAdjust, value); }
void setGreenAdjust(int value) { store(&WatermarkSettings::greenAdjust, value); }
void setBlueAdjust(int value) { store(&WatermarkSettings::blueAdjust, value); }
void setBrightnessAdjust(int value) { store(&WatermarkSettings::brightnessAdjust, value); }
void setTextOpacity(int value) { store(&WatermarkSettings::textOpacity, value); }
void setFontSize(int value) { store(&WatermarkSettings::fontSize, value); }
void setTextAlignment(int value) { store(&WatermarkSettings::textAlignment, value); }
void setKeepSourceSize(int value) { store(&WatermarkSettings::keepSourceSize, value); }

char* outputFormat() { return record.outputFormat; }
char* watermarkText() { return record.watermarkText; }
char* sourcePath() { return record.sourcePath; }

namespace {

void setText(char* field, const char* text)
{
    Guard guard(recordMutex);
    const std::size_t length = strnlen(text, settingsTextSize);
    std::memcpy(field, text, length);
    std::memset(field + length, 0, settingsTextSize - length);
}

// How the record spells `path`: in the ANSI code page, cut to the whole characters that fit the
// field, its terminator left out when the field is full.
std::string ansiSourcePath(std::wstring_view path)
{
    std::string ansi = ansiText(path);
    while (ansi.size() > settingsTextSize) {
        path.remove_suffix(1);
        ansi = ansiText(path);
    }
    return ansi;
}

// The kept wide path when the record still spells it, else the record's own text.
std::wstring sourcePathOf(const WatermarkSettings& settings, const std::wstring& wide)
{
    const std::string_view ansi = fieldText(settings.sourcePath);
    if (!wide.empty() && ansiSourcePath(wide) == ansi) return wide;
    return wideText(ansi);
}

}  // namespace

std::wstring sourcePathText()
{
    Guard guard(recordMutex);
    return sourcePathOf(record, wideSourcePath);
}

void setSourcePath(std::wstring_view path)
{
    Guard guard(recordMutex);
    wideSourcePath = path.substr(0, settingsTextSize);
    setText(record.sourcePath, ansiSourcePath(wideSourcePath).c_str());
}

void setSourcePath(const char* text) { setSourcePath(wideText(std::string_view(text, strnlen(text, settingsTextSize)))); }
void setOutputFormat(const char* text) { setText(record.outputFormat, text); }
void setWatermarkText(const char* text) { setText(record.watermarkText, text); }

SettingsEdit::SettingsEdit() { recordMutex.lock(); }
SettingsEdit::~SettingsEdit() { recordMutex.unlock(); }

WatermarkSettings copySettings()
{
    Guard guard(recordMutex);
    return record;
}

bool sameSettings(const WatermarkSettings& one, const WatermarkSettings& other)
{
    return std::memcmp(&one, &other, sizeof one) == 0;
}

void resetDefaults()
{
    Guard guard(recordMutex);
    record.targetWidth = 160;
    record.targetHeight = 120;
    record.redAdjust = 0;
    record.greenAdjust = 0;
    record.blueAdjust = 0;
    record.brightnessAdjust = 0;
    record.textOpacity = 100;
    record.fontSize = 12;
    record.textAlignment = alignBottomRight;
    record.keepSourceSize = 1;
    std::snprintf(record.outputFormat, settingsTextSize, "%s", keepFormatName);
    std::snprintf(record.watermarkText, settingsTextSize, "%s", "Inkveil");
    wchar_t currentDirectory[MAX_PATH] = L"";
    if (GetCurrentDirectoryW(MAX_PATH, currentDirectory) >= MAX_PATH) currentDirectory[0] = L'\0';
    wideSourcePath = std::wstring(currentDirectory) + L"\\Demo.jpg";
    std::snprintf(record.sourcePath, settingsTextSize, "%s", ansiSourcePath(wideSourcePath).c_str());
}

void loadSettings()
{
    KernelHandle file(CreateFileA(settingsFileName, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        resetDefaults();
        return;
    }
    // A short file fills only the leading part of what a fresh start has: zero bytes.
    Guard guard(recordMutex);
    record = WatermarkSettings{};
    wideSourcePath.clear();
    DWORD read = 0;
    ReadFile(file.get(), &record, sizeof record, &read, nullptr);
    if (read < sizeof record) return;
    std::vector<wchar_t> path(settingsTextSize + 1);
    DWORD pathBytes = 0;
    ReadFile(file.get(), path.data(), static_cast<DWORD>(path.size() * sizeof(wchar_t)), &pathBytes, nullptr);
    const std::wstring_view written(path.data(), pathBytes / sizeof(wchar_t));
    // Whole only up to its zero unit: a file cut within the path keeps the record's.
    const std::size_t end = written.find(L'\0');
    if (end != std::wstring_view::npos) wideSourcePath = written.substr(0, end);
}

bool saveSettings()
{
    WatermarkSettings saved;
    std::wstring path;
    {
        Guard guard(recordMutex);
        saved = record;
        path = sourcePathOf(record, wideSourcePath);
    }
    const auto pathBytes = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
    {
        KernelHandle file(CreateFileA(temporaryFileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (!writeWhole(file.get(), &saved, sizeof saved) || !writeWhole(file.get(), path.c_str(), pathBytes) ||
            !FlushFileBuffers(file.get())) {
            file.reset();
            DeleteFileA(temporaryFileName);
            return false;
        }
    }
    if (MoveFileExA(temporaryFileName, settingsFileName,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporaryFileName);
    return false;
}
