#include "settings/settings.h"

#include "common/handles.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

WatermarkSettings record;

constexpr const char* temporaryFileName = "settings.dat.new";

bool writeAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

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
void setTargetWidth(int value) { record.targetWidth = value; }
void setTargetHeight(int value) { record.targetHeight = value; }
void setRedAdjust(int value) { record.redAdjust = value; }
void setGreenAdjust(int value) { record.greenAdjust = value; }
void setBlueAdjust(int value) { record.blueAdjust = value; }
void setBrightnessAdjust(int value) { record.brightnessAdjust = value; }
void setTextOpacity(int value) { record.textOpacity = value; }
void setFontSize(int value) { record.fontSize = value; }
void setTextAlignment(int value) { record.textAlignment = value; }
void setKeepSourceSize(int value) { record.keepSourceSize = value; }

char* outputFormat() { return record.outputFormat; }
char* watermarkText() { return record.watermarkText; }
char* sourcePath() { return record.sourcePath; }

void setSourcePath(const char* text)
{
    const std::size_t length = strnlen(text, settingsTextSize);
    std::memcpy(record.sourcePath, text, length);
    std::memset(record.sourcePath + length, 0, settingsTextSize - length);
}

const WatermarkSettings& currentSettings() { return record; }

void resetDefaults()
{
    record.targetWidth = 160;
    record.targetHeight = 120;
    record.redAdjust = 0;
    record.greenAdjust = 0;
    record.blueAdjust = 0;
    record.brightnessAdjust = 0;
    record.textOpacity = 100;
    record.fontSize = 12;
    record.textAlignment = 3;
    record.keepSourceSize = 1;
    std::snprintf(record.outputFormat, settingsTextSize, "%s", "保持不变");
    std::snprintf(record.watermarkText, settingsTextSize, "%s", "Inkveil");
    char currentDirectory[MAX_PATH] = "";
    if (GetCurrentDirectoryA(MAX_PATH, currentDirectory) >= MAX_PATH) currentDirectory[0] = '\0';
    char defaultSource[settingsTextSize];
    std::snprintf(defaultSource, sizeof defaultSource, "%s\\Demo.jpg", currentDirectory);
    setSourcePath(defaultSource);
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
    record = WatermarkSettings{};
    DWORD read = 0;
    ReadFile(file.get(), &record, sizeof record, &read, nullptr);
}

bool saveSettings()
{
    {
        KernelHandle file(CreateFileA(temporaryFileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (!writeAll(file.get(), &record, sizeof record) || !FlushFileBuffers(file.get())) {
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
