#include "pipeline/sources.h"

#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "settings/settings.h"

#include <windows.h>

#include <string>

namespace {

SourceList sources;
// Files a directory search found after the list was full.
int leftOut = 0;

constexpr wchar_t sourceExtensions[][10] = {L"jpg", L"jpeg", L"gif", L"png", L"bmp", L"tiff", L"webp"};

void addEntry(const std::wstring& path)
{
    if (copyWhole(path, sources.entries[sources.count], sourceEntrySize)) ++sources.count;
}

bool full() { return sources.count >= sourceListCapacity; }

// Lists the matching files while there is room, and counts those beyond it.
void searchDirectory(const std::wstring& directory)
{
    for (const wchar_t* extension : sourceExtensions) {
        WIN32_FIND_DATAW found;
        const std::wstring pattern = directory + L"\\*." + extension;
        SearchHandle search(FindFirstFileW(pattern.c_str(), &found));
        if (!search) continue;
        do {
            if (!hasExtension(found.cFileName, extension)) continue;
            if (full())
                ++leftOut;
            else
                addEntry(directory + L"\\" + found.cFileName);
        } while (FindNextFileW(search.get(), &found));
    }
}

// A path longer than MAX_PATH cannot be queried, as on Windows for a program that does not ask
// for long paths (Wine answers for it).
DWORD attributesOf(const std::wstring& path)
{
    return path.size() >= MAX_PATH ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
}

}  // namespace

ScanReport scanSources(const std::function<void(const std::wstring& directory)>& searching)
{
    sources.count = 0;
    leftOut = 0;
    // One copy, so that the report, the patterns and the entries name the same path.
    const std::wstring path = sourcePathText();
    if (attributesOf(path) & FILE_ATTRIBUTE_DIRECTORY) {
        if (searching) searching(path);
        searchDirectory(path);
        return {true, path, sources.count, leftOut};
    }
    addEntry(path);
    return {false, L"", sources.count};
}

bool hasExtension(std::wstring_view name, std::wstring_view extension)
{
    if (name.size() <= extension.size() || name[name.size() - extension.size() - 1] != L'.') return false;
    const std::wstring_view ending = name.substr(name.size() - extension.size());
    for (std::size_t at = 0; at < ending.size(); ++at)
        if (asciiLower(ending[at]) != extension[at]) return false;
    return true;
}

int sourceCount() { return sources.count; }

int sourcesLeftOut() { return leftOut; }

const wchar_t* sourceEntry(int index) { return sources.entries[index]; }
