#pragma once
// Pictures encoded as baseline JPEGs at quality 100 with 4:2:0 chroma through libjpeg-turbo,
// a band of rows at a time, into whatever takes the bytes.
#include "common/bytes.h"
#include "core/exif.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct JpegWriter;

// A new file given to `sink`, from rows given in order a band at a time: 3 bytes a pixel (blue,
// green, red), or 4 with the fourth unused; with `exif` (a TIFF block) in an APP1 "Exif" segment
// and then `colourProfile` (ICC) in APP2 chunks after the header, each unless it is empty or too
// large for them.
class JpegRowWriter {
public:
    JpegRowWriter(ByteSink sink, int width, int height, int bytesPerPixel = 3,
                  const std::vector<uint8_t>& colourProfile = {}, const ExifBlock& exif = {});
    ~JpegRowWriter();
    JpegRowWriter(const JpegRowWriter&) = delete;
    JpegRowWriter& operator=(const JpegRowWriter&) = delete;

    // False when the encoding could not start or any step failed, then and for every later call.
    bool write(const uint8_t* pixels, int stride, int count);
    // Ends the picture, which must have every row; false when it or anything before failed.
    bool finish();

private:
    std::unique_ptr<JpegWriter> writer_;
    bool started_ = false;
};
