#include "pipeline/sources.h"

#include "app/dialog_helpers.h"
#include "common/handles.h"
#include "common/text.h"
#include "settings/settings.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

SourceList sources;

constexpr char sourceExtensions[][10] = {"jpg", "jpeg", "gif", "png", "bmp", "tiff"};

std::string formatted(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, arguments);
    va_end(arguments);
    return text;
}

void addEntry(const std::string& path)
{
    if (copyWhole(path, sources.entries[sources.count], sourceEntrySize)) ++sources.count;
}

bool full() { return sources.count >= sourceListCapacity; }

void searchDirectory(const std::string& directory)
{
    setStatusText(formatted("正在目录%s中查找图片文件...", directory.c_str()).c_str());
    for (const char* extension : sourceExtensions) {
        if (full()) break;
        WIN32_FIND_DATAA found;
        const std::string pattern = directory + "\\*." + extension;
        SearchHandle search(FindFirstFileA(pattern.c_str(), &found));
        if (!search) continue;
        do {
            if (hasExtension(found.cFileName, extension)) addEntry(directory + "\\" + found.cFileName);
        } while (!full() && FindNextFileA(search.get(), &found));
    }
    setStatusText(formatted("找到%d个待转换文件", sources.count).c_str());
}

}  // namespace

void scanSources()
{
    sources.count = 0;
    // One copy, so that the status text, the patterns and the entries name the same path.
    const WatermarkSettings settings = copySettings();
    const std::string path(fieldText(settings.sourcePath));
    if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
        searchDirectory(path);
        return;
    }
    addEntry(path);
    setStatusText(formatted("有%d个待转换文件", sources.count).c_str());
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

const char* sourceEntry(int index) { return sources.entries[index]; }
