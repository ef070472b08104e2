#include "pipeline/codec_bitmaps.h"

#include "common/win32/handles.h"

#include <windows.h>

#include <memory>
#include <new>
#include <vector>

using namespace imaging;

namespace {

PixelFormat bitmapFormatOf(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::bgr: return PixelFormat24bppRGB;
    case PixelLayout::bgrUnused: return PixelFormat32bppRGB;
    case PixelLayout::bgraStraight: return PixelFormat32bppARGB;
    case PixelLayout::bgraPremultiplied: return PixelFormat32bppPARGB;
    }
    return PixelFormat32bppARGB;
}

}  // namespace

ByteSink fileSink(const wchar_t* path)
{
    // Truncated only when it held anything: the paths given are new empty temporaries, and under
    // Wine on ext4 a file cut to nothing and written again has all of it written out to the disk
    // as it is closed, 40-70 ms for a 140 MB picture.
    auto file = std::make_shared<KernelHandle>(
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!*file) return {};
    LARGE_INTEGER held{};
    if (!GetFileSizeEx(file->get(), &held) || (held.QuadPart != 0 && !SetEndOfFile(file->get()))) return {};
    return [file](const uint8_t* bytes, std::size_t size) {
        return size <= MAXDWORD && writeWhole(file->get(), bytes, static_cast<DWORD>(size));
    };
}

ExifBlock exifOfProperties(GpBitmap* picture)
{
    UINT totalSize = 0;
    UINT count = 0;
    if (GdipGetPropertySize(picture, &totalSize, &count) != Ok || count == 0 || totalSize > largestExifBlock) return {};
    // Held as PropertyItem records, aligned as they are.
    std::vector<uint64_t> buffer((totalSize + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    auto* items = reinterpret_cast<PropertyItem*>(buffer.data());
    if (GdipGetAllPropertyItems(picture, totalSize, count, items) != Ok) return {};
    std::vector<ExifProperty> properties;
    for (UINT index = 0; index < count; ++index) {
        const PropertyItem& item = items[index];
        if (item.id > 0xFFFF || item.value == nullptr) continue;
        properties.push_back({static_cast<uint16_t>(item.id), item.type,
                              ByteSpan(static_cast<const uint8_t*>(item.value), item.length)});
    }
    return exifBlockOfProperties(properties);
}

Outcome decodeIntoBitmap(const std::function<Outcome(const PixelsFor& target)>& decode, GdiBitmap& result)
{
    result.reset();
    GpStatus created = Ok;
    std::optional<BitmapLock> lock;
    const auto target = [&](ImageSize size, PixelLayout layout) {
        const PixelFormat format = bitmapFormatOf(layout);
        created = createBitmap(size.width, size.height, format, result);
        if (created != Ok) return PixelRows{};
        lock.emplace(result.get(), Rect(0, 0, size.width, size.height), ImageLockModeWrite, format);
        if (!*lock) return PixelRows{};
        return PixelRows{static_cast<uint8_t*>(lock->data().Scan0), lock->data().Stride, size.width, size.height,
                         bytesPerPixelOf(layout)};
    };
    Outcome outcome = Outcome::damaged;
    try {
        outcome = decode(target);
    } catch (const std::bad_alloc&) {
        outcome = Outcome::outOfMemory;
    } catch (const std::exception&) {
        outcome = Outcome::damaged;
    }
    // Only once the pixels are unlocked.
    lock.reset();
    if (outcome == Outcome::done) return outcome;
    result.reset();
    if (created == ValueOverflow) return Outcome::tooLarge;
    return created == OutOfMemory ? Outcome::outOfMemory : outcome;
}

EncoderPixels::EncoderPixels(GpBitmap* picture) : size_(imageSize(picture))
{
    if (size_.width <= 0 || size_.height <= 0 || GdipGetImagePixelFormat(picture, &format_) != Ok) return;
    lock_.emplace(picture, Rect(0, 0, size_.width, size_.height), ImageLockModeRead,
                  format_ == PixelFormat24bppRGB ? PixelFormat24bppRGB : PixelFormat32bppARGB);
}

PixelRows EncoderPixels::rows() const
{
    return {static_cast<uint8_t*>(lock_->data().Scan0), lock_->data().Stride, size_.width, size_.height,
            format_ == PixelFormat24bppRGB ? 3 : 4};
}
