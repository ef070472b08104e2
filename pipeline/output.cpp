#include "pipeline/output.h"

#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "core/conversion_plan.h"
#include "pipeline/jpeg.h"
#include "pipeline/profile.h"
#include "pipeline/webp.h"
#include "settings/vocabulary.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <vector>

using namespace imaging;

namespace {

// Where the extension's point stands in `path`: after the last backslash, never the first
// character of the whole text; npos when the final component has none.
std::size_t extensionPoint(std::wstring_view path)
{
    const std::size_t separator = path.rfind(L'\\');
    const std::size_t componentStart = separator == std::wstring_view::npos ? 0 : separator + 1;
    const std::size_t point = path.rfind(L'.');
    if (point == std::wstring_view::npos || point < componentStart || point == 0) return std::wstring_view::npos;
    return point;
}

std::string mimeSubtype(std::string subtype)
{
    for (char& byte : subtype) byte = asciiLower(byte);
    return subtype == "jpg" ? "jpeg" : subtype;
}

// The source's full path split at the backslash before its final component.
bool splitFullPath(const wchar_t* sourcePath, std::wstring& directory, std::wstring& fileName)
{
    wchar_t fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameW(sourcePath, MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::wstring_view full(fullPath, length);
    const std::size_t separator = full.rfind(L'\\');
    if (separator == std::wstring_view::npos) return false;
    directory = full.substr(0, separator);
    fileName = full.substr(separator + 1);
    return true;
}

std::wstring base36(unsigned number)
{
    std::wstring digits;
    do {
        digits.insert(digits.begin(), L"0123456789abcdefghijklmnopqrstuvwxyz"[number % 36]);
        number /= 36;
    } while (number != 0);
    return digits;
}

// A new empty file beside `outputPath`, its path never longer than that one (so whatever
// fits the output fits it): "~" and base-36 digits in place of the file name, only the last
// digits where the name is short. Created exclusively: an existing file is never taken.
// Empty when none can be made.
std::wstring createTemporaryBeside(std::wstring_view outputPath)
{
    const std::size_t separator = outputPath.rfind(L'\\');
    const std::size_t nameStart = separator == std::wstring_view::npos ? 0 : separator + 1;
    const std::size_t room = outputPath.size() - nameStart;
    if (room == 0) return std::wstring();
    const std::wstring prefix = std::wstring(outputPath.substr(0, nameStart)) + (room > 1 ? L"~" : L"");
    const std::size_t digitRoom = room > 1 ? room - 1 : 1;

    static std::atomic<unsigned> nextNumber{GetTickCount() ^ GetCurrentProcessId() << 16};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring digits = base36(nextNumber++);
        if (digits.size() > digitRoom) digits.erase(0, digits.size() - digitRoom);
        const std::wstring path = prefix + digits;
        const KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return path;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return std::wstring();
}

// Less room than this left beside a file whose writing failed: the disk filled up.
constexpr ULONGLONG nearlyFull = ULONGLONG{1} << 20;

bool diskNearlyFull(const wchar_t* path)
{
    ULARGE_INTEGER available{};
    const std::wstring directory = parentDirectory(path);
    const std::wstring root = directory + L"\\";
    return GetDiskFreeSpaceExW(directory.empty() ? nullptr : root.c_str(), &available, nullptr, nullptr) &&
           available.QuadPart < nearlyFull;
}

Outcome statusOutcome(GpStatus status)
{
    if (status == Ok) return Outcome::done;
    return status == OutOfMemory ? Outcome::outOfMemory : Outcome::notWritten;
}

}  // namespace

std::wstring parentDirectory(std::wstring_view path)
{
    const std::size_t separator = path.rfind(L'\\');
    return separator == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, separator));
}

std::wstring fileName(std::wstring_view path)
{
    const std::size_t separator = path.rfind(L'\\');
    return std::wstring(separator == std::wstring_view::npos ? path : path.substr(separator + 1));
}

std::wstring fileExtension(std::wstring_view path)
{
    const std::size_t point = extensionPoint(path);
    return point == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(point + 1));
}

std::wstring replaceExtension(std::wstring_view newExtension, std::wstring_view path)
{
    const std::size_t point = extensionPoint(path);
    if (point == std::wstring_view::npos) return std::wstring(path);
    return std::wstring(path.substr(0, point + 1)).append(newExtension);
}

std::wstring outputDirectory(const wchar_t* sourcePath)
{
    std::wstring directory, fileName;
    return splitFullPath(sourcePath, directory, fileName) ? directory + L"\\converted" : std::wstring();
}

std::wstring alternativeOutputPath(std::wstring_view outputPath, std::wstring_view sourcePath)
{
    return parentDirectory(outputPath) + L"\\" + fileName(sourcePath) + L"." + fileExtension(outputPath);
}

bool makeOutputTarget(const wchar_t* sourcePath, std::string_view outputFormat, OutputTarget& target)
{
    target.outputPath[0] = L'\0';
    target.subtype[0] = '\0';

    std::wstring directory, fileName;
    if (!splitFullPath(sourcePath, directory, fileName)) return false;
    std::wstring outputPath = directory + L"\\converted\\" + fileName;

    std::string subtype;
    if (outputFormat != keepFormatName) {
        outputPath = replaceExtension(wideText(outputFormat), outputPath);
        subtype = std::string(outputFormat);
    } else {
        subtype = ansiText(fileExtension(sourcePath));
    }
    subtype = mimeSubtype(std::move(subtype));

    if (!copyWhole(outputPath, target.outputPath, outputPathSize)) return false;
    if (copyWhole(subtype, target.subtype, subtypeSize)) return true;
    target.outputPath[0] = L'\0';
    return false;
}

int findEncoder(const wchar_t* mimeType, CLSID* encoder)
{
    UINT count = 0;
    UINT size = 0;
    if (GdipGetImageEncodersSize(&count, &size) != Ok || size == 0) return -1;
    std::vector<BYTE> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    if (GdipGetImageEncoders(count, size, codecs) != Ok) return -1;
    for (UINT index = 0; index < count; ++index) {
        if (wcscmp(codecs[index].MimeType, mimeType) == 0) {
            *encoder = codecs[index].Clsid;
            return static_cast<int>(index);
        }
    }
    return -1;
}

EncoderParameters saveParameters()
{
    static ULONG quality = 100;
    EncoderParameters parameters = {};
    parameters.Count = 1;
    parameters.Parameter[0].Guid = EncoderQuality;
    parameters.Parameter[0].NumberOfValues = 1;
    parameters.Parameter[0].Type = EncoderParameterValueTypeLong;
    parameters.Parameter[0].Value = &quality;
    return parameters;
}

Outcome saveThroughTemporary(const wchar_t* outputPath,
                             const std::function<Outcome(const wchar_t* temporaryPath)>& encode)
{
    // Encoded beside its final name, then put in its place in one step: a failed save leaves
    // neither a broken file nor the loss of an older file of that name.
    const std::wstring temporary = createTemporaryBeside(outputPath);
    if (temporary.empty()) return diskNearlyFull(outputPath) ? Outcome::diskFull : Outcome::notWritten;
    Outcome encoded = Outcome::notWritten;
    try {
        encoded = encode(temporary.c_str());
    } catch (...) {
        DeleteFileW(temporary.c_str());
        throw;
    }
    if (encoded == Outcome::notWritten && diskNearlyFull(temporary.c_str())) encoded = Outcome::diskFull;
    if (encoded == Outcome::done &&
        !MoveFileExW(temporary.c_str(), outputPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        encoded = Outcome::notWritten;
    if (encoded != Outcome::done) DeleteFileW(temporary.c_str());
    return encoded;
}

Outcome saveImage(GpBitmap* target, const wchar_t* outputPath, const char* subtype, const CarriedMetadata& carried)
{
    char mimeType[sizeof "image/" + subtypeSize];
    std::snprintf(mimeType, sizeof mimeType, "image/%s", subtype);
    const OutputFormat format = outputFormatOf(subtype);
    // JPEGs through libjpeg-turbo: Wine's GDI+ encoder writes every quality as about 75.
    if (format == OutputFormat::jpeg)
        return saveThroughTemporary(outputPath, [&](const wchar_t* temporary) { return writeJpeg(target, temporary, carried); });
    // GDI+ has no WebP codec.
    if (format == OutputFormat::webp)
        return saveThroughTemporary(outputPath, [&](const wchar_t* temporary) { return writeWebp(target, temporary, carried); });
    CLSID encoder;
    if (findEncoder(toWide(mimeType), &encoder) < 0) return Outcome::noEncoder;

    GdiBitmap indexedCopy;
    GpBitmap* encodable = target;
    // Wine's GIF encoder writes no picture from 32-bit ARGB; Windows' makes this 8-bit copy itself.
    if (format == OutputFormat::gif) {
        // Without its 8-bit copy the picture would be written as no picture.
        const ImageSize size = imageSize(target);
        const GpStatus copied =
            GdipCloneBitmapAreaI(0, 0, size.width, size.height, PixelFormat8bppIndexed, target, indexedCopy.receive());
        if (copied != Ok) return statusOutcome(copied);
        encodable = indexedCopy.get();
    }
    const EncoderParameters parameters = saveParameters();
    const auto encodeInto = [&](const wchar_t* path) {
        return statusOutcome(GdipSaveImageToFile(encodable, path, &encoder, &parameters));
    };
    if (format != OutputFormat::png || (carried.colourProfile.empty() && carried.exif.empty()))
        return saveThroughTemporary(outputPath, encodeInto);
    // GDI+ writes no profile: its PNG is copied with one put in.
    return saveThroughTemporary(outputPath, [&](const wchar_t* temporary) {
        const std::wstring plain = createTemporaryBeside(temporary);
        if (plain.empty()) return Outcome::notWritten;
        Outcome saved = encodeInto(plain.c_str());
        if (saved == Outcome::done && !copyPngWithMetadata(plain.c_str(), temporary, carried))
            saved = Outcome::notWritten;
        DeleteFileW(plain.c_str());
        return saved;
    });
}
