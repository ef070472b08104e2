#pragma once
// The pictures and file pieces the tests and the fuzz seeds are made of, in memory and without
// any platform call: photo-like samples, JPEGs written through libjpeg's own interface, JPEG
// segments (Exif, ICC) and PNG chunks.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// What photos have: smooth shading, a sharp-edged disc and, when `grain` is not 0, grain of up to
// that much either way. Component 0 to 3 (blue, green, red, and a fourth for inks) at (x, y) of a
// picture of `width` x `height`.
uint8_t photoSample(int x, int y, int component, int width, int height, int grain = 4);

// Colour spaces, as libjpeg names them (J_COLOR_SPACE), that a test picture is given in and
// stored as.
enum class Space { bgr, grey, cmyk, ycbcr, ycck };

// How a test picture is written through libjpeg's own interface.
struct Encoding {
    Space input = Space::bgr;
    Space stored = Space::ycbcr;
    bool progressive = false;
    bool arithmetic = false;
    bool halfChroma = false;       // 4:2:0, upsampled by every decoder in its own way
    bool lumaBelowChroma = false;  // legal, but of no subsampling TurboJPEG knows
    int quality = 90;
    int grain = 0;
    int restartRows = 0;  // MCU rows between restart markers; 0 for none
};

// A photo-like picture of width x height as a JPEG file.
Bytes encodePicture(int width, int height, const Encoding& encoding = {});

// A JPEG of `width` x `height` whose pixels `sample(x, y, component)` gives.
Bytes encodeSamples(int width, int height, const Encoding& encoding,
                    const std::function<uint8_t(int x, int y, int component)>& sample);

// A 4:2:0 file of 2048 x 1024 pixels of flat grey but for one Cr block whose 2 x 2 reduction lies
// past libjpeg's clamping table: DC 1023 at a quantization of 4.
Bytes chromaPastClampingTable();

// A progressive grey JPEG of flat grey whose one AC scan, a run of end-of-band codes over every
// block, comes `acScans` times: libjpeg takes every repeat, and walks every block for each.
Bytes scanHeavyJpeg(int width, int height, int acScans);

// `jpeg` with the size its frame header declares changed, and nothing else: the data then holds
// far fewer MCUs than the header asks for.
Bytes withDeclaredSize(Bytes jpeg, uint16_t width, uint16_t height);

// Where each scan header (SOS marker) of a JPEG begins.
std::vector<std::size_t> scanStarts(const Bytes& jpeg);

// One segment: the marker (0xE0 to 0xEF for application segments), the length it states
// (its contents' length plus 2 unless given) and the contents.
Bytes jpegSegment(uint8_t marker, const Bytes& contents, std::size_t statedLength = 0);

// `jpeg` with the segments put right after its start-of-image marker.
Bytes withSegments(const Bytes& jpeg, const std::vector<Bytes>& segments);

// An Exif block as a camera writes it: "Exif", the TIFF header and IFD0 holding one Orientation
// entry, every part of which a test may spoil.
struct OrientationExif {
    bool bigEndian = false;
    uint16_t orientation = 6;
    uint32_t directoryOffset = 8;
    uint16_t entries = 1;
    uint32_t valueCount = 1;
};
Bytes exifContents(const OrientationExif& block);

// A camera's TIFF block as its APP1 segment holds it after "Exif\0\0": IFD0 (make, model,
// orientation 6, resolution, software, date, artist, copyright), the Exif IFD (exposure, version,
// dates, lens, maker's notes, serial numbers, colour space, pixel dimensions and an
// Interoperability IFD), a GPS IFD and IFD1 with a thumbnail. `looped` points the Exif IFD and
// IFD1 back at IFD0; `mistyped` gives the make, a resolution, the version and the f-number types
// or counts the standard does not allow, a second model, and an artist of 3000 letters without a
// NUL.
struct CameraTiff {
    bool bigEndian = false;
    bool looped = false;
    bool mistyped = false;
};
Bytes cameraTiff(const CameraTiff& options = {});

// The contents of an APP2 "ICC_PROFILE" segment: chunk `number` of `count`, holding `data`.
Bytes iccContents(int number, int count, const Bytes& data);

// A stand-in profile of RGB values (a header naming them), then bytes that do not repeat.
Bytes rgbProfileOf(std::size_t size);

// The photo-like picture as a WebP by libwebp itself: lossy and opaque, or lossless with an alpha
// that falls from opaque at the left edge to clear at the right one.
Bytes encodeWebpPicture(int width, int height, bool lossless);

// `webp` in an extended container with an EXIF chunk of `exif` (the TIFF block alone, as writers
// put it there) and an ICCP chunk of `profile`, each when not empty.
Bytes webpWithChunks(const Bytes& webp, const Bytes& exif, const Bytes& profile);
// `frame`, a still WebP, as the one frame of an animation at the top left of a canvas of that size.
Bytes animatedWebp(const Bytes& frame, int canvasWidth, int canvasHeight);

// One PNG chunk with its length and CRC.
Bytes pngChunk(std::string_view type, const Bytes& data);

// A PNG's chunks up to IDAT with an iCCP chunk of `compressed` (a zlib stream) after the header.
Bytes pngWithProfileStream(const Bytes& compressed);

// `data` as a zlib stream.
Bytes zlibCompressed(const Bytes& data);
