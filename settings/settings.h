#pragma once
// The one settings record of the process and its file "settings.dat" (a raw image of it).
// Threads: the dialog thread alone writes it; every other thread reads it through copySettings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr std::size_t settingsTextSize = 1024;

struct WatermarkSettings {
    int32_t targetWidth;
    int32_t targetHeight;
    int32_t redAdjust;
    int32_t greenAdjust;
    int32_t blueAdjust;
    int32_t brightnessAdjust;
    int32_t textOpacity;
    int32_t fontSize;
    int32_t textAlignment;
    int32_t keepSourceSize;
    char outputFormat[settingsTextSize];
    char watermarkText[settingsTextSize];
    char sourcePath[settingsTextSize];
};
static_assert(sizeof(WatermarkSettings) == 3112, "settings.dat is the record byte for byte");
static_assert(offsetof(WatermarkSettings, outputFormat) == 40, "texts follow the ten integers");

constexpr const char* settingsFileName = "settings.dat";

int targetWidth();
int targetHeight();
int redAdjust();
int greenAdjust();
int blueAdjust();
int brightnessAdjust();
int textOpacity();
int fontSize();
int textAlignment();
int keepSourceSize();
void setTargetWidth(int value);
void setTargetHeight(int value);
void setRedAdjust(int value);
void setGreenAdjust(int value);
void setBlueAdjust(int value);
void setBrightnessAdjust(int value);
void setTextOpacity(int value);
void setFontSize(int value);
void setTextAlignment(int value);
void setKeepSourceSize(int value);

// The text fields themselves, read and written in place (inside a SettingsEdit, so that
// no copy sees half a text); each holds settingsTextSize bytes.
char* outputFormat();
char* watermarkText();
char* sourcePath();

// The chosen picture or directory, any character. The record's sourcePath holds it in the ANSI
// code page, for older copies of the program, which read only the record; a path that text no
// longer spells (rewritten in place) gives way to it.
std::wstring sourcePathText();
// `path` (its first settingsTextSize units) with its ANSI spelling in the record, cut to whole
// characters, the rest of the field zero-filled.
void setSourcePath(std::wstring_view path);
// An ANSI path, as setSourcePath takes it in UTF-16.
void setSourcePath(const char* text);

// Each copies at most settingsTextSize bytes of `text` and zero-fills the rest of the field.
void setOutputFormat(const char* text);
void setWatermarkText(const char* text);

// Holds off copySettings on other threads while a text field is rewritten in place.
class SettingsEdit {
public:
    SettingsEdit();
    ~SettingsEdit();
    SettingsEdit(const SettingsEdit&) = delete;
    SettingsEdit& operator=(const SettingsEdit&) = delete;
};

// The whole record at one moment, every field whole: what one picture is made with.
WatermarkSettings copySettings();

// Whether two records are the same byte for byte, so that what was made for one holds for the other.
bool sameSettings(const WatermarkSettings& one, const WatermarkSettings& other);

// Every field to its default; sourcePath is "<current directory>\Demo.jpg". As with every
// text written in place, the bytes after a text's terminator keep what was there.
void resetDefaults();

// Reads up to 3112 bytes of "settings.dat" in the current directory into a zeroed record
// (a shorter file leaves the rest zero), and the source path in UTF-16 after them when there is
// one; a file that cannot be opened gives the defaults.
void loadSettings();

// Writes the record, then the source path in UTF-16 and a zero unit, to a temporary file beside
// "settings.dat" and then puts it in place of the old one in one step. Returns false, leaving any
// old file as it was, on failure.
bool saveSettings();
