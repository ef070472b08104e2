#include "core/webp.h"

#include "core/exif.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

template <typename Object, void (*release)(Object*)>
struct Releaser {
    void operator()(Object* object) const { release(object); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, Releaser<WebPDemuxer, WebPDemuxDelete>>;
using AnimationDecoder = std::unique_ptr<WebPAnimDecoder, Releaser<WebPAnimDecoder, WebPAnimDecoderDelete>>;
using Mux = std::unique_ptr<WebPMux, Releaser<WebPMux, WebPMuxDelete>>;
using IncrementalDecoder = std::unique_ptr<WebPIDecoder, Releaser<WebPIDecoder, WebPIDelete>>;

// A libwebp structure that holds buffers of libwebp's own, freed with it.
template <typename Value, void (*initialise)(Value*), void (*clear)(Value*)>
class Buffers {
public:
    Buffers() { initialise(&value_); }
    ~Buffers() { clear(&value_); }
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;

    Value* get() { return &value_; }

private:
    Value value_;
};
using EncodedPicture = Buffers<WebPMemoryWriter, WebPMemoryWriterInit, WebPMemoryWriterClear>;
using AssembledData = Buffers<WebPData, WebPDataInit, WebPDataClear>;

class Picture {
public:
    Picture() { ready_ = WebPPictureInit(&picture_) != 0; }
    ~Picture() { WebPPictureFree(&picture_); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    bool ready() const { return ready_; }
    WebPPicture* get() { return &picture_; }

private:
    WebPPicture picture_;
    bool ready_ = false;
};

Demuxer demuxed(ByteSpan file)
{
    const WebPData data{file.data(), file.size()};
    return Demuxer(WebPDemux(&data));
}

// The contents of the first chunk of that name; empty when there is none.
ByteSpan chunkOf(const WebPDemuxer* demuxer, const char* name)
{
    WebPChunkIterator chunk;
    if (!WebPDemuxGetChunk(demuxer, name, 1, &chunk)) return {};
    const ByteSpan contents(chunk.chunk.bytes, chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    return contents;
}

Outcome outcomeOf(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OK: return Outcome::done;
    case VP8_STATUS_OUT_OF_MEMORY: return Outcome::outOfMemory;
    case VP8_STATUS_NOT_ENOUGH_DATA: return Outcome::incomplete;
    default: return Outcome::damaged;
    }
}

// Why the container cannot be read: cut short, or damaged.
Outcome unreadableContainer(ByteSpan file)
{
    const WebPData data{file.data(), file.size()};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    const Demuxer partial(WebPDemuxPartial(&data, &state));
    return partial && state != WEBP_DEMUX_DONE ? Outcome::incomplete : Outcome::damaged;
}

// Pieces of the file handed to the decoder at a time: few enough looks at the cancellation.
constexpr std::size_t decodingPiece = std::size_t{1} << 20;

Outcome decodeStill(ByteSpan file, const PixelRows& rows, const Cancellation& cancellation)
{
    const IncrementalDecoder decoder(
        WebPINewRGB(MODE_BGRA, rows.pixels, static_cast<std::size_t>(rows.stride) * rows.height, rows.stride));
    if (!decoder) return Outcome::outOfMemory;
    for (std::size_t given = 0; given < file.size();) {
        if (cancellation.cancelled()) return Outcome::cancelled;
        given += std::min(decodingPiece, file.size() - given);
        const VP8StatusCode status = WebPIUpdate(decoder.get(), file.data(), given);
        if (status != VP8_STATUS_SUSPENDED) return outcomeOf(status);
    }
    return Outcome::incomplete;
}

Outcome decodeFirstFrame(ByteSpan file, const PixelRows& rows)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return Outcome::damaged;
    options.color_mode = MODE_BGRA;
    const WebPData data{file.data(), file.size()};
    const AnimationDecoder decoder(WebPAnimDecoderNew(&data, &options));
    // The demuxer took this file already: a decoder that cannot start lacks the memory for its own
    // two canvases (beyond a 32-bit process for a canvas of 16000 x 16000).
    if (!decoder) return Outcome::outOfMemory;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp)) return Outcome::damaged;
    const std::size_t rowBytes = static_cast<std::size_t>(rows.width) * 4;
    for (int y = 0; y < rows.height; ++y) std::memcpy(rows.row(y), canvas + rowBytes * y, rowBytes);
    return Outcome::done;
}

}  // namespace

bool isWebp(ByteSpan file)
{
    return file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 && std::memcmp(file.data() + 8, "WEBP", 4) == 0;
}

WebpFacts webpFacts(ByteSpan file)
{
    WebpFacts facts;
    const Demuxer demuxer = demuxed(file);
    if (!demuxer) return facts;
    facts.size = {static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH)),
                  static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT))};
    // Writers put the EXIF chunk's TIFF block there alone, or after an APP1 segment's header.
    facts.exif = withoutExifHeader(chunkOf(demuxer.get(), "EXIF"));
    facts.orientation = tiffOrientation(facts.exif.data(), facts.exif.size());
    const ByteSpan profile = chunkOf(demuxer.get(), "ICCP");
    if (profile.data() != nullptr && profile.size() <= largestColourProfile)
        facts.colourProfile = forRgbOutputs(ColourProfile(profile.data(), profile.data() + profile.size()));
    return facts;
}

Outcome decodeWebpPixels(ByteSpan file, const PixelsFor& target, const Cancellation& cancellation)
{
    const Demuxer demuxer = demuxed(file);
    if (!demuxer) return unreadableContainer(file);
    const ImageSize size{static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH)),
                         static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT))};
    if (size.width <= 0 || size.height <= 0) return Outcome::damaged;
    const PixelRows rows = target(size, PixelLayout::bgraStraight);
    if (rows.pixels == nullptr) return Outcome::outOfMemory;
    const bool animated = (WebPDemuxGetI(demuxer.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) != 0;
    return animated ? decodeFirstFrame(file, rows) : decodeStill(file, rows, cancellation);
}

bool encodeWebp(const PixelRows& picture, bool alpha, const ColourProfile& colourProfile, const ByteSink& output,
                const ExifBlock& exif)
{
    WebPConfig config;
    Picture source;
    if (!output || !source.ready() || !WebPConfigInit(&config)) return false;
    config.quality = 100.0f;
    config.lossless = 0;
    config.thread_level = 1;
    source.get()->width = picture.width;
    source.get()->height = picture.height;
    const int imported = picture.bytesPerPixel == 3 ? WebPPictureImportBGR(source.get(), picture.pixels, picture.stride)
                         : alpha                    ? WebPPictureImportBGRA(source.get(), picture.pixels, picture.stride)
                                                    : WebPPictureImportBGRX(source.get(), picture.pixels, picture.stride);
    EncodedPicture encoded;
    source.get()->writer = WebPMemoryWrite;
    source.get()->custom_ptr = encoded.get();
    if (!imported || !WebPEncode(&config, source.get())) return false;
    const WebPData image{encoded.get()->mem, encoded.get()->size};
    if (colourProfile.empty() && exif.empty()) return output(image.bytes, image.size);
    const Mux mux(WebPMuxCreate(&image, 0));
    const WebPData profile{colourProfile.data(), colourProfile.size()}, metadata{exif.data(), exif.size()};
    AssembledData assembled;
    if (!mux || (!colourProfile.empty() && WebPMuxSetChunk(mux.get(), "ICCP", &profile, 0) != WEBP_MUX_OK) ||
        (!exif.empty() && WebPMuxSetChunk(mux.get(), "EXIF", &metadata, 0) != WEBP_MUX_OK) ||
        WebPMuxAssemble(mux.get(), assembled.get()) != WEBP_MUX_OK)
        return false;
    return output(assembled.get()->bytes, assembled.get()->size);
}
