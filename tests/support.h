#pragma once
// What the tests share: a temporary directory per test, the imaging library started once
// per test program, and small bitmaps read back pixel by pixel.
#include "common/imaging.h"

#include <string>
#include <vector>

// A new empty directory under the system's temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Makes `directory` the current one for its lifetime.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& directory);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::string previous_;
};

std::vector<unsigned char> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
bool fileExists(const std::string& path);

// A 32-bit ARGB bitmap of one colour.
void makeSolidBitmap(imaging::GdiBitmap& bitmap, int width, int height, imaging::ARGB colour);
imaging::ARGB pixelAt(imaging::GpBitmap* bitmap, int x, int y);

struct Channels {
    int alpha, red, green, blue;
};
Channels channels(imaging::ARGB colour);

// Whether every channel of `actual` lies within `tolerance` of `expected`.
bool nearColour(imaging::ARGB actual, imaging::ARGB expected, int tolerance);
