#include "tests/support.h"

#include "common/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>

using namespace imaging;

namespace {

class ImagingEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

const auto* const imagingEnvironment = ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);

void removeTree(const std::string& directory)
{
    WIN32_FIND_DATAA entry;
    SearchHandle search(FindFirstFileA((directory + "\\*").c_str(), &entry));
    if (search) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = directory + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search.get(), &entry));
    }
    SetFileAttributesA(directory.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(directory.c_str());
}

}  // namespace

TempDir::TempDir()
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%sinkveil-%lu-%u", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
    }
}

TempDir::~TempDir() { removeTree(path_); }

CurrentDirectory::CurrentDirectory(const std::string& directory)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    previous_ = previous;
    SetCurrentDirectoryA(directory.c_str());
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryA(previous_.c_str()); }

std::vector<unsigned char> readFile(const std::string& path)
{
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<unsigned char> bytes;
    if (!file) return bytes;
    bytes.resize(GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ASSERT_EQ(written, bytes.size());
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void makeSolidBitmap(GdiBitmap& bitmap, int width, int height, ARGB colour)
{
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, bitmap.receive()), Ok);
    GdiGraphics graphics;
    ASSERT_EQ(GdipGetImageGraphicsContext(bitmap.get(), graphics.receive()), Ok);
    ASSERT_EQ(GdipGraphicsClear(graphics.get(), colour), Ok);
}

ARGB pixelAt(GpBitmap* bitmap, int x, int y)
{
    ARGB colour = 0;
    EXPECT_EQ(GdipBitmapGetPixel(bitmap, x, y, &colour), Ok) << x << "," << y;
    return colour;
}

Channels channels(ARGB colour)
{
    return {static_cast<int>(colour >> 24), static_cast<int>(colour >> 16 & 0xFF),
            static_cast<int>(colour >> 8 & 0xFF), static_cast<int>(colour & 0xFF)};
}

bool nearColour(ARGB actual, ARGB expected, int tolerance)
{
    const Channels a = channels(actual);
    const Channels e = channels(expected);
    return std::abs(a.alpha - e.alpha) <= tolerance && std::abs(a.red - e.red) <= tolerance &&
           std::abs(a.green - e.green) <= tolerance && std::abs(a.blue - e.blue) <= tolerance;
}
