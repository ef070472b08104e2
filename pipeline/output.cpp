#include "pipeline/output.h"

#include "common/handles.h"
#include "common/text.h"
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
// byte of the whole text; npos when the final component has none.
std::size_t extensionPoint(std::string_view path)
{
    const std::size_t separator = lastSingleByte(path, '\\');
    const std::size_t componentStart = separator == std::string_view::npos ? 0 : separator + 1;
    const std::size_t point = lastSingleByte(path.substr(componentStart), '.');
    if (point == std::string_view::npos) return point;
    const std::size_t at = componentStart + point;
    return at == 0 ? std::string_view::npos : at;
}

std::string mimeSubtype(std::string subtype)
{
    for (char& byte : subtype) byte = asciiLower(byte);
    return subtype == "jpg" ? "jpeg" : subtype;
}

// The source's full path split at the backslash before its final component.
bool splitFullPath(const char* sourcePath, std::string& directory, std::string& fileName)
{
    char fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameA(sourcePath, MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::string_view full(fullPath, length);
    const std::size_t separator = lastSingleByte(full, '\\');
    if (separator == std::string_view::npos) return false;
    directory = full.substr(0, separator);
    fileName = full.substr(separator + 1);
    return true;
}

// Wine's GIF encoder writes no picture from 32-bit ARGB; Windows' makes this 8-bit copy itself.
bool needsIndexedCopy(const char* subtype) { return std::string_view(subtype) == "gif"; }

std::string base36(unsigned number)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[number % 36]);
        number /= 36;
    } while (number != 0);
    return digits;
}

// A new empty file beside `outputPath`, its path never longer than that one (so whatever
// fits the output fits it): "~" and base-36 digits in place of the file name, only the last
// digits where the name is short. Created exclusively: an existing file is never taken.
// Empty when none can be made.
std::string createTemporaryBeside(std::string_view outputPath)
{
    const std::size_t separator = lastSingleByte(outputPath, '\\');
    const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    const std::size_t room = outputPath.size() - nameStart;
    if (room == 0) return std::string();
    const std::string prefix = std::string(outputPath.substr(0, nameStart)) + (room > 1 ? "~" : "");
    const std::size_t digitRoom = room > 1 ? room - 1 : 1;

    static std::atomic<unsigned> nextNumber{GetTickCount() ^ GetCurrentProcessId() << 16};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string digits = base36(nextNumber++);
        if (digits.size() > digitRoom) digits.erase(0, digits.size() - digitRoom);
        const std::string path = prefix + digits;
        const KernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return path;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return std::string();
}

// Less room than this left beside a file whose writing failed: the disk filled up.
constexpr ULONGLONG nearlyFull = ULONGLONG{1} << 20;

bool diskNearlyFull(const char* path)
{
    ULARGE_INTEGER available{};
    const std::string directory = parentDirectory(path);
    const std::string root = directory + "\\";
    return GetDiskFreeSpaceExA(directory.empty() ? nullptr : root.c_str(), &available, nullptr, nullptr) &&
           available.QuadPart < nearlyFull;
}

Outcome statusOutcome(GpStatus status)
{
    if (status == Ok) return Outcome::done;
    return status == OutOfMemory ? Outcome::outOfMemory : Outcome::notWritten;
}

}  // namespace

std::string parentDirectory(std::string_view path)
{
    const std::size_t separator = lastSingleByte(path, '\\');
    return separator == std::string_view::npos ? std::string() : std::string(path.substr(0, separator));
}

std::string fileName(std::string_view path)
{
    const std::size_t separator = lastSingleByte(path, '\\');
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

std::string fileExtension(std::string_view path)
{
    const std::size_t point = extensionPoint(path);
    return point == std::string_view::npos ? std::string() : std::string(path.substr(point + 1));
}

std::string replaceExtension(std::string_view newExtension, std::string_view path)
{
    const std::size_t point = extensionPoint(path);
    if (point == std::string_view::npos) return std::string(path);
    return std::string(path.substr(0, point + 1)).append(newExtension);
}

std::string outputDirectory(const char* sourcePath)
{
    std::string directory, fileName;
    return splitFullPath(sourcePath, directory, fileName) ? directory + "\\converted" : std::string();
}

std::string alternativeOutputPath(std::string_view outputPath, std::string_view sourcePath)
{
    const std::string_view sourceName = sourcePath.substr(lastSingleByte(sourcePath, '\\') + 1);
    return parentDirectory(outputPath) + "\\" + std::string(sourceName) + "." + fileExtension(outputPath);
}

bool makeOutputTarget(const char* sourcePath, std::string_view outputFormat, OutputTarget& target)
{
    target.outputPath[0] = '\0';
    target.subtype[0] = '\0';

    std::string directory, fileName;
    if (!splitFullPath(sourcePath, directory, fileName)) return false;
    std::string outputPath = directory + "\\converted\\" + fileName;

    std::string subtype;
    if (outputFormat != keepFormatName) {
        outputPath = replaceExtension(outputFormat, outputPath);
        subtype = std::string(outputFormat);
    } else {
        subtype = fileExtension(sourcePath);
    }
    subtype = mimeSubtype(std::move(subtype));

    if (!copyWhole(outputPath, target.outputPath, sizeof target.outputPath)) return false;
    if (copyWhole(subtype, target.subtype, sizeof target.subtype)) return true;
    target.outputPath[0] = '\0';
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

Outcome saveThroughTemporary(const char* outputPath, const std::function<Outcome(const char* temporaryPath)>& encode)
{
    // Encoded beside its final name, then put in its place in one step: a failed save leaves
    // neither a broken file nor the loss of an older file of that name.
    const std::string temporary = createTemporaryBeside(outputPath);
    if (temporary.empty()) return diskNearlyFull(outputPath) ? Outcome::diskFull : Outcome::notWritten;
    Outcome encoded = Outcome::notWritten;
    try {
        encoded = encode(temporary.c_str());
    } catch (...) {
        DeleteFileA(temporary.c_str());
        throw;
    }
    if (encoded == Outcome::notWritten && diskNearlyFull(temporary.c_str())) encoded = Outcome::diskFull;
    if (encoded == Outcome::done &&
        !MoveFileExA(temporary.c_str(), outputPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        encoded = Outcome::notWritten;
    if (encoded != Outcome::done) DeleteFileA(temporary.c_str());
    return encoded;
}

Outcome saveImage(GpBitmap* target, const char* outputPath, const char* subtype, const ColourProfile& colourProfile)
{
    char mimeType[sizeof "image/" + subtypeSize];
    std::snprintf(mimeType, sizeof mimeType, "image/%s", subtype);
    const std::string_view format(subtype);
    // JPEGs through libjpeg-turbo: Wine's GDI+ encoder writes every quality as about 75.
    if (format == "jpeg")
        return saveThroughTemporary(outputPath, [&](const char* temporary) { return writeJpeg(target, temporary, colourProfile); });
    // GDI+ has no WebP codec.
    if (format == "webp")
        return saveThroughTemporary(outputPath, [&](const char* temporary) { return writeWebp(target, temporary, colourProfile); });
    CLSID encoder;
    if (findEncoder(toWide(mimeType), &encoder) < 0) return Outcome::noEncoder;

    GdiBitmap indexedCopy;
    GpBitmap* encodable = target;
    if (needsIndexedCopy(subtype)) {
        // Without its 8-bit copy the picture would be written as no picture.
        const ImageSize size = imageSize(target);
        const GpStatus copied =
            GdipCloneBitmapAreaI(0, 0, size.width, size.height, PixelFormat8bppIndexed, target, indexedCopy.receive());
        if (copied != Ok) return statusOutcome(copied);
        encodable = indexedCopy.get();
    }
    const EncoderParameters parameters = saveParameters();
    const auto encodeInto = [&](const char* path) {
        return statusOutcome(GdipSaveImageToFile(encodable, toWide(path), &encoder, &parameters));
    };
    if (format != "png" || colourProfile.empty()) return saveThroughTemporary(outputPath, encodeInto);
    // GDI+ writes no profile: its PNG is copied with one put in.
    return saveThroughTemporary(outputPath, [&](const char* temporary) {
        const std::string plain = createTemporaryBeside(temporary);
        if (plain.empty()) return Outcome::notWritten;
        Outcome saved = encodeInto(plain.c_str());
        if (saved == Outcome::done && !copyPngWithColourProfile(plain.c_str(), temporary, colourProfile))
            saved = Outcome::notWritten;
        DeleteFileA(plain.c_str());
        return saved;
    });
}
