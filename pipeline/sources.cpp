#include "pipeline/sources.h"

#include "common/handles.h"
#include "common/text.h"
#include "settings/settings.h"

#include <windows.h>

#include <string>

namespace {

SourceList sources;
// Files a directory search found after the list was full.
int leftOut = 0;

constexpr char sourceExtensions[][10] = {"jpg", "jpeg", "gif", "png", "bmp", "tiff", "webp"};

void addEntry(const std::string& path)
{
    if (copyWhole(path, sources.entries[sources.count], sourceEntrySize)) ++sources.count;
}

bool full() { return sources.count >= sourceListCapacity; }

// Lists the matching files while there is room, and counts those beyond it.
void searchDirectory(const std::string& directory)
{
    for (const char* extension : sourceExtensions) {
        WIN32_FIND_DATAA found;
        const std::string pattern = directory + "\\*." + extension;
        SearchHandle search(FindFirstFileA(pattern.c_str(), &found));
        if (!search) continue;
        do {
            if (!hasExtension(found.cFileName, extension)) continue;
            if (full())
                ++leftOut;
            else
                addEntry(directory + "\\" + found.cFileName);
        } while (FindNextFileA(search.get(), &found));
    }
}

}  // namespace

ScanReport scanSources(const std::function<void(const std::string& directory)>& searching)
{
    sources.count = 0;
    leftOut = 0;
    // One copy, so that the report, the patterns and the entries name the same path.
    const WatermarkSettings settings = copySettings();
    const std::string path(fieldText(settings.sourcePath));
    if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
        if (searching) searching(path);
        searchDirectory(path);
        return {true, path, sources.count, leftOut};
    }
    addEntry(path);
    return {false, "", sources.count};
}

bool hasExtension(std::string_view name, std::string_view extension)
{
    if (name.size() <= extension.size() || name[name.size() - extension.size() - 1] != '.') return false;
    const std::string_view ending = name.substr(name.size() - extension.size());
    for (std::size_t at = 0; at < ending.size(); ++at)
        if (asciiLower(ending[at]) != extension[at]) return false;
    return true;
}

int sourceCount() { return sources.count; }

int sourcesLeftOut() { return leftOut; }

const char* sourceEntry(int index) { return sources.entries[index]; }
