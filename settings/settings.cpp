#include "settings/settings.h"

#include "common/handles.h"
#include "settings/vocabulary.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

WatermarkSettings record;
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

}  // namespace

void setSourcePath(const char* text) { setText(record.sourcePath, text); }
void setOutputFormat(const char* text) { setText(record.outputFormat, text); }
void setWatermarkText(const char* text) { setText(record.watermarkText, text); }

SettingsEdit::SettingsEdit() { recordMutex.lock(); }
SettingsEdit::~SettingsEdit() { recordMutex.unlock(); }

WatermarkSettings copySettings()
{
    Guard guard(recordMutex);
    return record;
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
    char currentDirectory[MAX_PATH] = "";
    if (GetCurrentDirectoryA(MAX_PATH, currentDirectory) >= MAX_PATH) currentDirectory[0] = '\0';
    std::snprintf(record.sourcePath, settingsTextSize, "%s\\Demo.jpg", currentDirectory);
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
    DWORD read = 0;
    ReadFile(file.get(), &record, sizeof record, &read, nullptr);
}

bool saveSettings()
{
    const WatermarkSettings saved = copySettings();
    {
        KernelHandle file(CreateFileA(temporaryFileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (!writeWhole(file.get(), &saved, sizeof saved) || !FlushFileBuffers(file.get())) {
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
