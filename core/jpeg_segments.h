#pragma once
// The segments of a JPEG's header, found by walking its markers.
#include "common/bytes.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Whether the bytes open with a JPEG's start-of-image marker.
bool isJpeg(ByteSpan file);

// The contents (after its length) of the first application segment of that marker (0xE0 to
// 0xEF) whose contents begin with `signature`, among all the segments before the JPEG's frame
// header; empty when there is none, or the file does not hold it whole.
ByteSpan applicationSegment(ByteSpan file, uint8_t marker, std::string_view signature);

// The first `most` such segments before the frame header, in the file's order, up to any that
// the file does not hold whole.
std::vector<ByteSpan> applicationSegments(ByteSpan file, uint8_t marker, std::string_view signature,
                                          std::size_t most);
