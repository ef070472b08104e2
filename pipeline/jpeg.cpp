#include "pipeline/jpeg.h"

#include "common/handles.h"

#include <windows.h>

#include <turbojpeg.h>

#include <cstring>
#include <limits>
#include <memory>
#include <new>

using namespace imaging;

namespace {

// Owner of a TurboJPEG compressor or decompressor.
class TurboHandle {
public:
    explicit TurboHandle(tjhandle handle) : handle_(handle) {}
    ~TurboHandle()
    {
        if (handle_ != nullptr) tjDestroy(handle_);
    }
    TurboHandle(const TurboHandle&) = delete;
    TurboHandle& operator=(const TurboHandle&) = delete;

    tjhandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    tjhandle handle_;
};

struct TurboFree {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

constexpr int jpegQuality = 100;
// Application segments looked through for one; cameras and editors write a few at most.
constexpr int segmentsLookedAt = 16;

bool isJpeg(const std::vector<uint8_t>& file) { return file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8; }

// Inks to colours in place, four bytes a pixel. Adobe's files store the inks inverted.
void inksToColours(const BitmapData& pixels, bool inverted)
{
    const uint8_t flip = inverted ? 0xFF : 0x00;
    for (UINT y = 0; y < pixels.Height; ++y) {
        uint8_t* pixel = static_cast<uint8_t*>(pixels.Scan0) + static_cast<std::ptrdiff_t>(y) * pixels.Stride;
        for (UINT x = 0; x < pixels.Width; ++x, pixel += 4) {
            const int cyan = pixel[0] ^ flip, magenta = pixel[1] ^ flip, yellow = pixel[2] ^ flip;
            const int black = pixel[3] ^ flip;
            pixel[0] = static_cast<uint8_t>((255 - yellow) * (255 - black) / 255);
            pixel[1] = static_cast<uint8_t>((255 - magenta) * (255 - black) / 255);
            pixel[2] = static_cast<uint8_t>((255 - cyan) * (255 - black) / 255);
            pixel[3] = 0xFF;
        }
    }
}

bool writeFile(const char* path, const unsigned char* bytes, unsigned long size)
{
    const KernelHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && writeWhole(file.get(), bytes, size);
}

}  // namespace

std::vector<uint8_t> readJpegFile(const char* path)
{
    const KernelHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > std::numeric_limits<DWORD>::max() ||
        static_cast<unsigned long long>(size.QuadPart) > std::numeric_limits<std::size_t>::max() / 2)
        return {};
    std::vector<uint8_t> bytes(2);
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), 2, &read, nullptr) || read != 2 || !isJpeg(bytes)) return {};
    try {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return {};
    }
    const DWORD rest = static_cast<DWORD>(bytes.size() - 2);
    if (!ReadFile(file.get(), bytes.data() + 2, rest, &read, nullptr) || read != rest) return {};
    return bytes;
}

ByteRange applicationSegment(const std::vector<uint8_t>& file, uint8_t marker, std::string_view signature)
{
    if (!isJpeg(file)) return {};
    std::size_t at = 2;
    for (int segment = 0; segment < segmentsLookedAt && file.size() - at >= 4; ++segment) {
        const uint8_t kind = file[at + 1];
        const std::size_t length = static_cast<std::size_t>(file[at + 2]) << 8 | file[at + 3];
        if (file[at] != 0xFF || kind < 0xE0 || kind > 0xEF || length < 2 || file.size() - at - 2 < length)
            return {};
        const ByteRange contents{file.data() + at + 4, length - 2};
        if (kind == marker && contents.size >= signature.size() &&
            std::memcmp(contents.data, signature.data(), signature.size()) == 0)
            return contents;
        at += 2 + length;
    }
    return {};
}

bool decodeJpeg(const std::vector<uint8_t>& file, GdiBitmap& result)
{
    result.reset();
    const TurboHandle decoder(isJpeg(file) ? tjInitDecompress() : nullptr);
    int width = 0, height = 0, subsampling = 0, colourSpace = 0;
    if (!decoder || file.size() > std::numeric_limits<unsigned long>::max() ||
        tjDecompressHeader3(decoder.get(), file.data(), static_cast<unsigned long>(file.size()), &width, &height,
                            &subsampling, &colourSpace) != 0)
        return false;
    const bool inks = colourSpace == TJCS_CMYK || colourSpace == TJCS_YCCK;
    const PixelFormat format = inks ? PixelFormat32bppRGB : PixelFormat24bppRGB;
    if (!result.track(GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, result.receive()))) return false;
    {
        const BitmapLock pixels(result.get(), Rect(0, 0, width, height), ImageLockModeWrite, format);
        const bool decoded =
            pixels &&
            (tjDecompress2(decoder.get(), file.data(), static_cast<unsigned long>(file.size()),
                           static_cast<unsigned char*>(pixels.data().Scan0), width, pixels.data().Stride, height,
                           inks ? TJPF_CMYK : TJPF_BGR, 0) == 0 ||
             tjGetErrorCode(decoder.get()) == TJERR_WARNING);
        if (decoded) {
            if (inks) inksToColours(pixels.data(), applicationSegment(file, 0xEE, "Adobe").data != nullptr);
            return true;
        }
    }
    result.reset();
    return false;
}

bool writeJpeg(GpBitmap* picture, const char* path)
{
    const ImageSize size = imageSize(picture);
    PixelFormat format = 0;
    if (size.width <= 0 || size.height <= 0 || GdipGetImagePixelFormat(picture, &format) != Ok) return false;
    const bool rgb = format == PixelFormat24bppRGB;
    const BitmapLock pixels(picture, Rect(0, 0, size.width, size.height), ImageLockModeRead,
                            rgb ? PixelFormat24bppRGB : PixelFormat32bppARGB);
    const TurboHandle encoder(tjInitCompress());
    if (!pixels || !encoder) return false;
    unsigned char* bytes = nullptr;
    unsigned long byteCount = 0;
    const int status = tjCompress2(encoder.get(), static_cast<const unsigned char*>(pixels.data().Scan0), size.width,
                                   pixels.data().Stride, size.height, rgb ? TJPF_BGR : TJPF_BGRX, &bytes,
                                   &byteCount, TJSAMP_420, jpegQuality, 0);
    const std::unique_ptr<unsigned char, TurboFree> owned(bytes);
    return status == 0 && writeFile(path, owned.get(), byteCount);
}
