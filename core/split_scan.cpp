#include <cstdio>

#include <jpeglib.h>

#include "common/task_pool.h"
#include "core/cut_blocks.h"
#include "core/split_scan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace {

constexpr int zigzagToNatural[DCTSIZE2] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// libjpeg's mask for indexing its inverse DCT's range-limit table, which clamps the values
// within largestUnwrapped either side of zero and wraps those beyond.
constexpr int rangeMask = MAXJSAMPLE * 4 + 3;
constexpr int largestUnwrapped = (MAXJSAMPLE + 1) * 2;

// The largest magnitudes a well-formed 8-bit file holds: DC differences of 11 bits, AC values
// of 10, dequantized coefficients well within 12. Beyond them libjpeg's 16-bit SIMD and 32-bit C
// arithmetic may part ways, so such a file goes to libjpeg.
constexpr int largestDcSize = 11;
constexpr int largestAcSize = 10;
constexpr int largestDequantized = 1 << 12;
// The 2 x 2 inverse DCT's values between its passes, DC left out, stay within 16 bits with it.
constexpr int64_t largestWorkspace = 1 << 14;

// MCUs the second thread records before the first may look for one of them; a scan of fewer
// than a few windows' MCUs is not worth a second thread.
constexpr int meetingWindow = 1024;
constexpr int fewestMcus = 8 * meetingWindow;

// MCUs decoded between two looks at whether the decoding is still wanted.
constexpr int cancelCheckSpacing = 1024;

constexpr int lookaheadBits = 9;

struct HuffmanTable {
    std::array<uint16_t, 1 << lookaheadBits> lookahead{};  // (length << 8) | symbol; 0 when longer
    std::array<int32_t, 17> largestCode{};                 // of each length; -1 for none
    std::array<int32_t, 17> symbolOffset{};
    std::array<uint8_t, 256> symbols{};
};

std::optional<HuffmanTable> canonicalTable(const JHUFF_TBL* source, bool dc)
{
    if (source == nullptr) return std::nullopt;
    HuffmanTable table;
    int count = 0;
    int32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        const int codes = source->bits[length];
        table.symbolOffset[length] = count - code;
        for (int i = 0; i < codes; ++i, ++count, ++code) {
            if (count >= 256) return std::nullopt;
            const uint8_t symbol = source->huffval[count];
            if (dc && symbol > largestDcSize) return std::nullopt;
            table.symbols[count] = symbol;
            if (length <= lookaheadBits) {
                const int shift = lookaheadBits - length;
                for (int32_t low = 0; low < (1 << shift); ++low)
                    table.lookahead[(code << shift) | low] = static_cast<uint16_t>((length << 8) | symbol);
            }
        }
        if (code > (1 << length)) return std::nullopt;
        table.largestCode[length] = codes > 0 ? code - 1 : -1;
        code <<= 1;
    }
    return table;
}

uint32_t bigEndian(uint32_t word)
{
#if defined(_MSC_VER)
    return _byteswap_ulong(word);
#else
    return __builtin_bswap32(word);
#endif
}

// The entropy-coded bytes as bits, their stuffed zero bytes skipped. At a marker, or the end of
// the bytes, it goes on with zero bits, as libjpeg does, and counts them. The bits are held in 32
// bits, not 64: the 32-bit build, where each 64-bit shift takes several instructions, then
// decodes about a tenth faster.
class BitReader {
public:
    BitReader(const uint8_t* begin, const uint8_t* end, const uint8_t* at) : begin_(begin), end_(end), next_(at) {}

    // At least 25 bits in hand: a code and its value may take 26, so a value asks for its own.
    void fill()
    {
        if (bits_ < 25) refill();
    }
    void need(int count)
    {
        if (bits_ < count) refill();
    }
    uint32_t peek(int count) const { return acc_ >> (32 - count); }
    void drop(int count)
    {
        acc_ <<= count;
        bits_ -= count;
    }
    int receive(int size)
    {
        need(size);
        const int value = static_cast<int>(peek(size));
        drop(size);
        return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
    }

    // Whether a bit past the data was taken.
    bool overran() const { return bits_ < 8 * padding_; }
    // Whether only the bits that round the data up to a byte are left.
    bool atEnd() const { return padding_ > 0 && bits_ - 8 * padding_ < 8; }
    bool endsAtImageEnd() const { return next_ + 1 < end_ && next_[0] == 0xFF && next_[1] == JPEG_EOI; }
    const uint8_t* loadedUpTo() const { return next_; }

    // Where the reader stands, cheaply: what position() works out from it.
    uint64_t mark() const
    {
        return static_cast<uint64_t>(next_ - begin_) << 7 | static_cast<uint64_t>(bits_ - 8 * padding_);
    }
    // The position of the next bit, counted in bits from the start of the bytes: the same for
    // every reader that has taken the same bits, whenever each loaded them.
    static uint64_t position(const uint8_t* begin, uint64_t mark)
    {
        const uint8_t* byte = begin + (mark >> 7);
        const int inHand = static_cast<int>(mark & 127);
        for (int back = (inHand + 7) / 8; back > 0; --back)
            byte -= byte - begin >= 2 && byte[-1] == 0 && byte[-2] == 0xFF ? 2 : 1;
        return static_cast<uint64_t>(byte - begin) * 8 + static_cast<uint64_t>((8 - inHand % 8) % 8);
    }
    uint64_t position() const { return position(begin_, mark()); }

    // A reader whose next bit is at `position`, as position() gives it.
    static BitReader at(const uint8_t* begin, const uint8_t* end, uint64_t position)
    {
        BitReader reader(begin, end, begin + position / 8);
        reader.fill();
        reader.drop(static_cast<int>(position % 8));
        return reader;
    }

private:
    void refill()
    {
        if (end_ - next_ >= 4) {
            uint32_t word;
            std::memcpy(&word, next_, sizeof word);
            constexpr uint32_t ones = 0x01010101, highs = 0x80808080;
            if ((((~word) - ones) & word & highs) == 0) {
                // The bytes after those taken now are the same whichever way they come in next.
                acc_ |= bigEndian(word) >> bits_;
                const int bytes = (32 - bits_) >> 3;
                next_ += bytes;
                bits_ += bytes * 8;
                return;
            }
        }
        while (bits_ <= 24) {
            acc_ |= static_cast<uint32_t>(nextByte()) << (24 - bits_);
            bits_ += 8;
        }
    }

    uint8_t nextByte()
    {
        if (next_ < end_) {
            const uint8_t byte = *next_;
            if (byte != 0xFF) {
                ++next_;
                return byte;
            }
            if (next_ + 1 < end_ && next_[1] == 0) {
                next_ += 2;
                return 0xFF;
            }
        }
        ++padding_;
        return 0;
    }

    const uint8_t* begin_;
    const uint8_t* end_;
    const uint8_t* next_;
    uint32_t acc_ = 0;  // the bits in hand from the top, then bits loaded again later
    int bits_ = 0;
    int padding_ = 0;  // zero bytes loaded past the data
};

int decodeSymbol(BitReader& reader, const HuffmanTable& table)
{
    const uint16_t entry = table.lookahead[reader.peek(lookaheadBits)];
    if (entry != 0) {
        reader.drop(entry >> 8);
        return entry & 0xFF;
    }
    for (int length = lookaheadBits + 1; length <= 16; ++length) {
        const auto code = static_cast<int32_t>(reader.peek(length));
        if (code > table.largestCode[length]) continue;
        reader.drop(length);
        return table.symbols[code + table.symbolOffset[length]];
    }
    return -1;
}

// Bits looked at by one step over up to two AC codes, each with its value.
constexpr int stepBits = 12;
using AcSteps = std::array<uint32_t, 1 << stepBits>;

// The bits an AC code at the top of `pattern` takes with its value, and (<< 5) how far it moves
// along the block, 0 at its end; 0 when they are not all among the first `usable` bits.
uint32_t acStepAt(const HuffmanTable& table, uint32_t pattern, int usable)
{
    const uint16_t entry = table.lookahead[pattern >> (stepBits - lookaheadBits)];
    const int length = entry >> 8;
    const int symbol = entry & 0xFF, run = symbol >> 4, valueSize = symbol & 15;
    const int bits = length + valueSize;
    if (length == 0 || bits > usable || valueSize > largestAcSize) return 0;
    const int advance = valueSize == 0 && run != 15 ? 0 : run + 1;
    return static_cast<uint32_t>(bits | (advance << 5));
}

// A step's fields: the bits of its first code with its value (0-4), of both codes (5-9), how
// far the first moves along the block (10-16; endOfBlock for the block's end), how far both do
// (17-23), and whether the second ends the block (24). A step of one code counts it as both.
constexpr uint32_t endOfBlock = 127;

// For each pattern of stepBits bits: its first code and, when a second follows within the
// pattern, that one too; 0 where the first is not all within the pattern.
AcSteps acStepsOf(const HuffmanTable& table)
{
    constexpr uint32_t patternMask = (1u << stepBits) - 1;
    AcSteps steps{};
    for (uint32_t pattern = 0; pattern <= patternMask; ++pattern) {
        const uint32_t first = acStepAt(table, pattern, stepBits);
        if (first == 0) continue;
        const uint32_t firstBits = first & 31, firstAdvance = first >> 5;
        if (firstAdvance == 0) {
            steps[pattern] = firstBits | firstBits << 5 | endOfBlock << 10;
            continue;
        }
        uint32_t bits = firstBits, advance = firstAdvance, ends = 0;
        const uint32_t second = acStepAt(table, (pattern << firstBits) & patternMask, stepBits - static_cast<int>(firstBits));
        if (second != 0) {
            bits += second & 31;
            advance += second >> 5;
            ends = (second >> 5) == 0 ? 1 : 0;
        }
        steps[pattern] = firstBits | bits << 5 | firstAdvance << 10 | advance << 17 | ends << 24;
    }
    return steps;
}

// One component of the scan, as its blocks are laid out in each MCU.
struct ScanComponent {
    jpeg_component_info* info = nullptr;
    HuffmanTable dc;
    HuffmanTable ac;
    AcSteps acSteps;
    const UINT16* quantization = nullptr;  // natural order
    int across = 1;                        // blocks of an MCU
    int down = 1;
    int side = 1;        // of a block's reduced samples: 1 or 2
    int firstBlock = 0;  // in the MCU
    int firstSum = 0;    // in an MCU's sums, for a block of side 2
    int channel = 0;     // of the pixels' samples: 0 luma, 1 Cb, 2 Cr
};

struct Layout {
    std::array<ScanComponent, 3> components;
    int componentCount = 0;
    int blocksInMcu = 0;
    int sumCount = 0;    // of an MCU: 4 for each block of side 2
    int mcusAcross = 0;
    int mcusDown = 0;
    int mcuWidth = 0;  // in output pixels
    int mcuHeight = 0;
    int outputWidth = 0;
    int outputHeight = 0;
    const JSAMPLE* rangeLimit = nullptr;
    const YccTables* ycc = &yccTables();
    bool colour = false;
    int total() const { return mcusAcross * mcusDown; }
};

std::optional<Layout> layoutOf(jpeg_decompress_struct& info)
{
    const bool colour = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3 &&
                        info.out_color_space == JCS_EXT_BGR;
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1 &&
                      info.out_color_space == JCS_EXT_BGR;
    if (!(colour || grey) || info.progressive_mode || info.arith_code || jpeg_has_multiple_scans(&info) ||
        info.comps_in_scan != info.num_components || info.restart_interval != 0 || info.data_precision != 8 ||
        info.Ss != 0 || info.Se != DCTSIZE2 - 1 || info.Ah != 0 || info.Al != 0 || info.sample_range_limit == nullptr)
        return std::nullopt;
    Layout layout;
    layout.colour = colour;
    layout.componentCount = info.comps_in_scan;
    layout.mcusAcross = static_cast<int>(info.MCUs_per_row);
    layout.mcusDown = info.comps_in_scan == 1 ? static_cast<int>(info.cur_comp_info[0]->height_in_blocks)
                                              : static_cast<int>(info.total_iMCU_rows);
    layout.outputWidth = static_cast<int>(info.output_width);
    layout.outputHeight = static_cast<int>(info.output_height);
    layout.rangeLimit = info.sample_range_limit + CENTERJSAMPLE;
    for (int i = 0; i < layout.componentCount; ++i) {
        jpeg_component_info* component = info.cur_comp_info[i];
        ScanComponent& own = layout.components[i];
        own.info = component;
        own.across = component->MCU_width;
        own.down = component->MCU_height;
        own.side = reducedWidth(*component);
        const bool oneBlock = own.across == 1 && own.down == 1;
        if (reducedHeight(*component) != own.side || !(own.side == 1 || (own.side == 2 && oneBlock)) ||
            component->MCU_blocks != own.across * own.down)
            return std::nullopt;
        const int width = own.across * own.side, height = own.down * own.side;
        if (i == 0) {
            layout.mcuWidth = width;
            layout.mcuHeight = height;
        }
        if (width != layout.mcuWidth || height != layout.mcuHeight || width > 2 || height > 2) return std::nullopt;
        const auto dc = canonicalTable(info.dc_huff_tbl_ptrs[component->dc_tbl_no], true);
        const auto ac = canonicalTable(info.ac_huff_tbl_ptrs[component->ac_tbl_no], false);
        if (!dc || !ac || component->quant_table == nullptr) return std::nullopt;
        own.dc = *dc;
        own.ac = *ac;
        own.acSteps = acStepsOf(own.ac);
        own.quantization = component->quant_table->quantval;
        own.firstBlock = layout.blocksInMcu;
        own.channel = colour ? component->component_index : 0;
        layout.blocksInMcu += own.across * own.down;
    }
    for (int i = 0; i < layout.componentCount; ++i) {
        ScanComponent& own = layout.components[i];
        if (own.side != 2) continue;
        own.firstSum = layout.sumCount;
        layout.sumCount += 4;
    }
    if (layout.blocksInMcu > D_MAX_BLOCKS_IN_MCU || layout.mcusAcross <= 0 || layout.mcusDown <= 0) return std::nullopt;
    return layout;
}

using Predictors = std::array<int32_t, 3>;
using Coefficients = std::array<JCOEF, DCTSIZE2>;

int decodeDcDifference(BitReader& reader, const ScanComponent& component, bool& decoded)
{
    reader.fill();
    const int size = decodeSymbol(reader, component.dc);
    decoded = size >= 0;
    return size > 0 ? reader.receive(size) : 0;
}

// A block's AC values into `coefficients` in natural order (the caller zeroes it), or only passed
// over, most codes in one step with their values; false on a code of no table, a value out of
// the ordinary or a run past the block's end.
template <bool keepValues>
bool readAc(BitReader& reader, const ScanComponent& component, JCOEF* coefficients)
{
    for (int k = 1; k < DCTSIZE2;) {
        reader.fill();
        if constexpr (!keepValues) {
            const uint32_t step = component.acSteps[reader.peek(stepBits)];
            if (step != 0) {
                const int firstAdvance = static_cast<int>((step >> 10) & 127);
                // The block's end, or a block filled by the first code: the second is the next block's.
                if (k + firstAdvance >= DCTSIZE2) {
                    if (firstAdvance != static_cast<int>(endOfBlock) && k + firstAdvance > DCTSIZE2) return false;
                    reader.drop(step & 31);
                    break;
                }
                reader.drop((step >> 5) & 31);
                k += static_cast<int>((step >> 17) & 127);
                if ((step >> 24) != 0) break;
                if (k > DCTSIZE2) return false;
                continue;
            }
        }
        const int symbol = decodeSymbol(reader, component.ac);
        if (symbol < 0) return false;
        const int run = symbol >> 4, valueSize = symbol & 15;
        if (valueSize == 0 && run != 15) break;
        k += run;
        if (k >= DCTSIZE2 || valueSize > largestAcSize) return false;
        if constexpr (keepValues) {
            if (valueSize > 0) coefficients[zigzagToNatural[k]] = static_cast<JCOEF>(reader.receive(valueSize));
        } else {
            reader.need(valueSize);
            reader.drop(valueSize);
        }
        ++k;
    }
    return true;
}

bool fitsJlong(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// libjpeg's 2 x 2 inverse DCT of a block without its DC term: the 4 sums its last step descales,
// to which DC * quantization << 17 adds exactly. False where libjpeg's arithmetic would not hold
// them, or its SIMD version could differ.
bool twoByTwoSums(const Coefficients& block, const UINT16* quantization, int32_t* sums)
{
    constexpr int64_t fix0720959822 = 5906, fix0850430095 = 6967, fix1272758580 = 10426, fix3624509785 = 29692;
    const auto odd = [&](int64_t z1, int64_t z3, int64_t z5, int64_t z7) {
        return z7 * -fix0720959822 + z5 * fix0850430095 + z3 * -fix1272758580 + z1 * fix3624509785;
    };
    int64_t workspace[2][DCTSIZE] = {};
    for (const int column : {0, 1, 3, 5, 7}) {
        int64_t dequantized[DCTSIZE];
        for (const int row : {0, 1, 3, 5, 7}) {
            dequantized[row] = static_cast<int64_t>(block[row * DCTSIZE + column]) * quantization[row * DCTSIZE + column];
            if (dequantized[row] <= -largestDequantized || dequantized[row] >= largestDequantized) return false;
        }
        const int64_t even = column == 0 ? 0 : dequantized[0] * (int64_t{1} << 15);
        const int64_t sum = odd(dequantized[1], dequantized[3], dequantized[5], dequantized[7]);
        workspace[0][column] = (even + sum + (1 << 12)) >> 13;
        workspace[1][column] = (even - sum + (1 << 12)) >> 13;
    }
    for (int row = 0; row < 2; ++row) {
        const int64_t* w = workspace[row];
        const int64_t even = w[0] * (int64_t{1} << 15), sum = odd(w[1], w[3], w[5], w[7]);
        for (int i = 0; i < DCTSIZE; ++i)
            if (w[i] <= -largestWorkspace || w[i] >= largestWorkspace) return false;
        if (!fitsJlong(even + sum) || !fitsJlong(even - sum)) return false;
        sums[row * 2] = static_cast<int32_t>(even + sum);
        sums[row * 2 + 1] = static_cast<int32_t>(even - sum);
    }
    return true;
}

// What an MCU's reduced samples are made from: each block's DC value, as libjpeg keeps it in 16
// bits, and the sums of the blocks of side 2.
struct McuRecord {
    JCOEF* dcs;
    int32_t* sums;
};

// Decodes one MCU into `record`, its DC values from `predictors`, which it moves on; with every
// block's coefficients in `whole` when given, DC included. False on anything out of the ordinary.
bool decodeMcu(BitReader& reader, const Layout& layout, Predictors& predictors, McuRecord record,
               std::array<Coefficients, D_MAX_BLOCKS_IN_MCU>* whole)
{
    Coefficients scratch;
    for (int i = 0; i < layout.componentCount; ++i) {
        const ScanComponent& component = layout.components[i];
        for (int b = component.firstBlock; b < component.firstBlock + component.across * component.down; ++b) {
            Coefficients* block = whole != nullptr ? &(*whole)[b] : component.side == 2 ? &scratch : nullptr;
            if (block != nullptr) block->fill(0);
            bool decoded = false;
            const int32_t difference = decodeDcDifference(reader, component, decoded);
            if (!decoded || !(block != nullptr ? readAc<true>(reader, component, block->data()) : readAc<false>(reader, component, nullptr)))
                return false;
            predictors[i] = static_cast<int32_t>(static_cast<uint32_t>(predictors[i]) + static_cast<uint32_t>(difference));
            record.dcs[b] = static_cast<JCOEF>(predictors[i]);
            // The sums leave the DC term out, which is still zero in the block.
            if (component.side == 2 && !twoByTwoSums(*block, component.quantization, record.sums + component.firstSum))
                return false;
            if (whole != nullptr) (*block)[0] = record.dcs[b];
        }
    }
    return true;
}

// A DC value decoded from other predictors moved by their difference, in libjpeg's 16 bits,
// where the sum wraps as it does.
JCOEF movedDc(JCOEF dc, int32_t offset)
{
    return static_cast<JCOEF>(static_cast<uint32_t>(dc) + static_cast<uint32_t>(offset));
}

// An MCU's column and row in the scan, moved along without a division for every MCU.
struct McuPlace {
    int column = 0;
    int row = 0;
};

McuPlace placeOf(const Layout& layout, int mcu) { return {mcu % layout.mcusAcross, mcu / layout.mcusAcross}; }

McuPlace following(const Layout& layout, McuPlace place)
{
    return place.column + 1 < layout.mcusAcross ? McuPlace{place.column + 1, place.row} : McuPlace{0, place.row + 1};
}

// The reduced samples of a decoded MCU to pixels, its DC values moved by `offsets`; false where a
// DC value is out of the ordinary.
bool putMcu(const Layout& layout, McuRecord record, const Predictors& offsets, McuPlace place, uint8_t* pixels,
            int stride)
{
    uint8_t samples[3][2][2];
    for (int i = 0; i < layout.componentCount; ++i) {
        const ScanComponent& component = layout.components[i];
        uint8_t (&own)[2][2] = samples[component.channel];
        const JCOEF* dcs = record.dcs + component.firstBlock;
        const int dcQuantization = component.quantization[0];
        if (component.side == 1) {
            for (int by = 0; by < component.down; ++by) {
                for (int bx = 0; bx < component.across; ++bx) {
                    const int dequantized = movedDc(dcs[by * component.across + bx], offsets[i]) * dcQuantization;
                    if (dequantized <= -largestDequantized || dequantized >= largestDequantized) return false;
                    own[by][bx] = layout.rangeLimit[((dequantized + 4) >> 3) & rangeMask];
                }
            }
            continue;
        }
        const int dequantized = movedDc(dcs[0], offsets[i]) * dcQuantization;
        if (dequantized <= -largestDequantized || dequantized >= largestDequantized) return false;
        const int32_t* sums = record.sums + component.firstSum;
        for (int s = 0; s < 4; ++s) {
            const int64_t sum = sums[s] + static_cast<int64_t>(dequantized) * (int64_t{1} << 17);
            if (!fitsJlong(sum + (1 << 19))) return false;
            const int64_t value = (sum + (1 << 19)) >> 20;
            // Where libjpeg's table wraps, its SIMD version saturates instead.
            if (value < -largestUnwrapped || value >= largestUnwrapped) return false;
            own[s / 2][s % 2] = layout.rangeLimit[value & rangeMask];
        }
    }
    const int left = place.column * layout.mcuWidth, top = place.row * layout.mcuHeight;
    const int width = std::min(layout.mcuWidth, layout.outputWidth - left);
    const int height = std::min(layout.mcuHeight, layout.outputHeight - top);
    for (int y = 0; y < height; ++y) {
        uint8_t* out = pixels + static_cast<std::ptrdiff_t>(top + y) * stride + static_cast<std::ptrdiff_t>(left) * 3;
        if (layout.colour) {
            for (int x = 0; x < width; ++x, out += 3)
                yccToBgr(*layout.ycc, samples[0][y][x], samples[1][y][x], samples[2][y][x], out);
        } else {
            for (int x = 0; x < width; ++x, out += 3)
                out[0] = out[1] = out[2] = samples[0][y][x];
        }
    }
    return true;
}

// Which MCUs hold blocks of the cut planes.
class CutMcus {
public:
    CutMcus(const Layout& layout, const CutBlocks* blocks) : columns_(layout.mcusAcross), rows_(layout.mcusDown)
    {
        if (blocks == nullptr) return;
        for (int i = 0; i < layout.componentCount; ++i) {
            const ScanComponent& component = layout.components[i];
            const CutBlocks::Component& own = blocks->components[component.info->component_index];
            for (std::size_t a = 0; a < own.planes.size(); ++a) {
                const BlockPlane& plane = own.planes[a];
                if (plane.columns <= 0 || plane.rows <= 0) continue;
                const unsigned bit = 1u << (i * 2 + a);
                for (int c = plane.firstColumn / component.across;
                     c <= (plane.firstColumn + plane.columns - 1) / component.across && c < layout.mcusAcross; ++c)
                    columns_[c] |= bit;
                for (int r = plane.firstRow / component.down;
                     r <= (plane.firstRow + plane.rows - 1) / component.down && r < layout.mcusDown; ++r)
                    rows_[r] |= bit;
            }
        }
    }
    bool holds(McuPlace place) const { return (columns_[place.column] & rows_[place.row]) != 0; }

private:
    std::vector<unsigned> columns_;
    std::vector<unsigned> rows_;
};

void putCutBlocks(const Layout& layout, CutBlocks& blocks, jpeg_decompress_struct& info, McuPlace place,
                  std::array<Coefficients, D_MAX_BLOCKS_IN_MCU>& whole)
{
    for (int i = 0; i < layout.componentCount; ++i) {
        const ScanComponent& component = layout.components[i];
        for (int by = 0; by < component.down; ++by)
            for (int bx = 0; bx < component.across; ++bx)
                decodeCutBlock(blocks, &info, component.info,
                               whole[component.firstBlock + by * component.across + bx].data(),
                               place.column * component.across + bx, place.row * component.down + by);
    }
}

// MCUs from one mark of the second thread's position to the next.
constexpr std::size_t markSpacing = 16;

// The MCUs the second thread decoded, and BitReader::mark() at the start of every
// markSpacing-th.
struct RecordedMcus {
    std::size_t count = 0;
    std::vector<JCOEF> dcs;
    std::vector<int32_t> sums;
    std::vector<uint64_t> marks;

    McuRecord at(const Layout& layout, std::size_t mcu)
    {
        return {dcs.data() + mcu * static_cast<std::size_t>(layout.blocksInMcu),
                sums.data() + mcu * static_cast<std::size_t>(layout.sumCount)};
    }
    void makeRoom(const Layout& layout, std::size_t mcus)
    {
        dcs.resize(mcus * static_cast<std::size_t>(layout.blocksInMcu));
        sums.resize(mcus * static_cast<std::size_t>(layout.sumCount));
    }
};

// What the second thread found, handed over under the lock.
struct Meeting {
    std::mutex mutex;
    std::condition_variable changed;
    bool windowReady = false;  // the window below is complete
    bool finished = false;     // the second thread has ended
    std::atomic<bool> cancelled{false};

    // The MCUs of the window: their positions, and the predictors each began with.
    std::vector<uint64_t> windowPositions;
    std::vector<Predictors> windowPredictors;
    RecordedMcus recorded;  // from the window's first MCU
    bool decodedToEnd = false;  // and recorded every MCU to there
};

// The second thread: from `start` to the end of the data, recording each MCU.
void decodeSecondPart(const Layout& layout, const uint8_t* begin, const uint8_t* end, const uint8_t* start,
                      Meeting& meeting, std::size_t expectedMcus, const Cancellation& cancellation)
{
    const auto totalMcus = static_cast<std::size_t>(layout.total());
    expectedMcus = std::min(expectedMcus, totalMcus);
    BitReader reader(begin, end, start);
    Predictors predictors{};
    RecordedMcus found;  // handed over at the end
    std::vector<uint64_t> windowMarks;
    std::vector<Predictors> windowPredictors;
    const auto publishWindow = [&] {
        const std::lock_guard<std::mutex> lock(meeting.mutex);
        try {
            // A mark whose predictors were not recorded is left out with them.
            windowMarks.resize(std::min(windowMarks.size(), windowPredictors.size()));
            for (const uint64_t mark : windowMarks) meeting.windowPositions.push_back(BitReader::position(begin, mark));
            meeting.windowPredictors = windowPredictors;
        } catch (const std::exception&) {
            // No window: the first thread decodes it all.
            meeting.windowPositions.clear();
            meeting.windowPredictors.clear();
        }
        meeting.windowReady = true;
        meeting.changed.notify_all();
    };
    bool windowPublished = false, decodedToEnd = false;
    try {
        found.makeRoom(layout, expectedMcus);
        found.marks.reserve(expectedMcus / markSpacing + 1);
        for (std::size_t attempt = 0;; ++attempt) {
            reader.fill();
            if (reader.atEnd()) {
                decodedToEnd = reader.endsAtImageEnd();
                break;
            }
            if (attempt % cancelCheckSpacing == 0 &&
                (meeting.cancelled.load(std::memory_order_relaxed) || cancellation.cancelled()))
                break;
            // More MCUs than the picture holds: not the scan's own.
            if (found.count == totalMcus) break;
            if (found.count == expectedMcus) {
                expectedMcus = std::min(totalMcus, expectedMcus + expectedMcus / 4);
                found.makeRoom(layout, expectedMcus);
            }
            const uint64_t mark = reader.mark();
            const Predictors before = predictors;
            if (!decodeMcu(reader, layout, predictors, found.at(layout, found.count), nullptr) || reader.overran()) {
                // Past the data there is no position to start afresh from.
                if (windowPublished || reader.overran()) break;
                // Not yet in step with the MCUs: start afresh from here, or from the next bit
                // where no code begins here.
                if (reader.position() == BitReader::position(begin, mark)) reader.drop(1);
                found.count = 0;
                found.marks.clear();
                windowMarks.clear();
                windowPredictors.clear();
                predictors = {};
                continue;
            }
            if (found.count++ % markSpacing == 0) found.marks.push_back(mark);
            if (windowPublished) continue;
            windowMarks.push_back(mark);
            windowPredictors.push_back(before);
            if (windowMarks.size() == meetingWindow) {
                publishWindow();
                windowPublished = true;
            }
        }
    } catch (const std::exception&) {
        // Whatever went wrong, the first thread decodes the rest alone.
        decodedToEnd = false;
    }
    if (!windowPublished) publishWindow();
    const std::lock_guard<std::mutex> lock(meeting.mutex);
    meeting.recorded = std::move(found);
    meeting.decodedToEnd = decodedToEnd;
    meeting.finished = true;
    meeting.changed.notify_all();
}

// The second part, handed aside, and stopped and waited for however the first one leaves.
class SecondPart {
public:
    SecondPart(const Layout& layout, const uint8_t* begin, const uint8_t* end, const uint8_t* start,
               std::size_t expectedMcus, const Cancellation& cancellation)
        : task_(runAside([this, &layout, begin, end, start, expectedMcus, &cancellation] {
              decodeSecondPart(layout, begin, end, start, meeting_, expectedMcus, cancellation);
          }))
    {
    }
    ~SecondPart() { meeting_.cancelled = true; }
    SecondPart(const SecondPart&) = delete;
    SecondPart& operator=(const SecondPart&) = delete;

    Meeting& meeting() { return meeting_; }
    void cancel() { meeting_.cancelled = true; }
    // Takes the part back when no thread has begun it: the first part then decodes alone.
    bool withdrawn() { return task_.withdraw(); }

private:
    Meeting meeting_;
    // Last: waited for before the meeting goes.
    Task task_;
};

// Where the second part's MCUs begin to be the true ones.
struct MeetingPoint {
    int mcu = -1;              // the true MCU
    std::size_t recorded = 0;  // the second thread's index of it
    Predictors offsets{};      // true predictors less the second thread's there
};

// The whole blocks of the second thread's MCU `recorded`, decoded again from its nearest mark,
// their DC values moved to the true ones.
bool decodeAgain(const Layout& layout, const uint8_t* begin, const uint8_t* end, RecordedMcus& mcus,
                 const MeetingPoint& point, std::size_t recorded, std::array<Coefficients, D_MAX_BLOCKS_IN_MCU>& whole)
{
    const std::size_t markIndex = recorded / markSpacing;
    if (markIndex >= mcus.marks.size()) return false;
    BitReader reader = BitReader::at(begin, end, BitReader::position(begin, mcus.marks[markIndex]));
    Predictors unused{};
    std::array<JCOEF, D_MAX_BLOCKS_IN_MCU> dcs;
    std::array<int32_t, 12> sums;
    for (std::size_t mcu = markIndex * markSpacing; mcu <= recorded; ++mcu)
        if (!decodeMcu(reader, layout, unused, {dcs.data(), sums.data()}, mcu == recorded ? &whole : nullptr)) return false;
    const McuRecord record = mcus.at(layout, recorded);
    for (int i = 0; i < layout.componentCount; ++i) {
        const ScanComponent& component = layout.components[i];
        for (int b = component.firstBlock; b < component.firstBlock + component.across * component.down; ++b)
            whole[b][0] = movedDc(record.dcs[b], point.offsets[i]);
    }
    return true;
}

}  // namespace

bool decodeScanSplit(jpeg_decompress_struct& info, ByteSpan data, uint8_t* pixels, int stride, CutBlocks* blocks,
                     const Cancellation& cancellation)
{
    const std::optional<Layout> found = layoutOf(info);
    if (!found || found->total() < fewestMcus) return false;
    const Layout& layout = *found;
    const uint8_t* begin = data.data();
    const uint8_t* end = begin + data.size();
    if (data.size() < 2) return false;
    const CutMcus cut(layout, blocks);

    // The first thread also puts its MCUs' pixels, which the second only records: the second
    // starts a little before the middle, so that both reach the meeting at about the same time.
    const uint8_t* middle = begin + data.size() / 64 * 31;
    while (middle > begin && middle < end && middle[-1] == 0xFF) ++middle;
    const auto expected = static_cast<std::size_t>(static_cast<double>(end - middle) / static_cast<double>(data.size()) *
                                                   layout.total() * 1.05) + meetingWindow;
    SecondPart second(layout, begin, end, middle, expected, cancellation);
    bool meeting = true;

    BitReader reader(begin, end, begin);
    Predictors predictors{};
    std::array<JCOEF, D_MAX_BLOCKS_IN_MCU> dcs;
    std::array<int32_t, 12> sums;
    const McuRecord record{dcs.data(), sums.data()};
    std::array<Coefficients, D_MAX_BLOCKS_IN_MCU> whole;
    MeetingPoint point;
    std::size_t nextRecorded = 0;
    const auto decodeNext = [&](McuPlace place) {
        const bool isCut = cut.holds(place);
        if (!decodeMcu(reader, layout, predictors, record, isCut ? &whole : nullptr) || reader.overran()) return false;
        if (isCut) putCutBlocks(layout, *blocks, info, place, whole);
        return putMcu(layout, record, Predictors{}, place, pixels, stride);
    };
    int mcu = 0;
    for (McuPlace place; mcu < layout.total(); ++mcu, place = following(layout, place)) {
        if (mcu % cancelCheckSpacing == 0 && cancellation.cancelled()) return false;
        if (meeting && reader.loadedUpTo() >= middle && second.withdrawn()) meeting = false;
        if (meeting && reader.loadedUpTo() >= middle) {
            Meeting& met = second.meeting();
            std::unique_lock<std::mutex> lock(met.mutex);
            met.changed.wait(lock, [&] { return met.windowReady; });
            const std::vector<uint64_t>& window = met.windowPositions;
            const uint64_t position = reader.position();
            while (nextRecorded < window.size() && window[nextRecorded] < position) ++nextRecorded;
            if (nextRecorded == window.size()) {
                meeting = false;
                second.cancel();
            } else if (window[nextRecorded] == position) {
                point.mcu = mcu;
                point.recorded = nextRecorded;
                for (int i = 0; i < layout.componentCount; ++i)
                    point.offsets[i] = static_cast<int32_t>(static_cast<uint32_t>(predictors[i]) -
                                                            static_cast<uint32_t>(met.windowPredictors[nextRecorded][i]));
                break;
            }
        }
        if (!decodeNext(place)) return false;
    }
    if (point.mcu >= 0) {
        Meeting& met = second.meeting();
        std::unique_lock<std::mutex> lock(met.mutex);
        met.changed.wait(lock, [&] { return met.finished; });
        // The second part's MCUs from `first` to `last`, moved to the true predictors, the cut
        // blocks among them decoded again.
        const auto putSecondPart = [&](int first, int last) {
            std::array<Coefficients, D_MAX_BLOCKS_IN_MCU> again;
            McuPlace place = placeOf(layout, first);
            for (int m = first; m < last; ++m, place = following(layout, place)) {
                const std::size_t recorded = point.recorded + static_cast<std::size_t>(m - point.mcu);
                if (cut.holds(place)) {
                    if (!decodeAgain(layout, begin, end, met.recorded, point, recorded, again)) return false;
                    putCutBlocks(layout, *blocks, info, place, again);
                }
                if (!putMcu(layout, met.recorded.at(layout, recorded), point.offsets, place, pixels, stride)) return false;
            }
            return true;
        };
        const int remaining = layout.total() - point.mcu;
        if (met.decodedToEnd && met.recorded.count - point.recorded == static_cast<std::size_t>(remaining)) {
            // The second thread is done: its MCUs are put on every processor again.
            std::atomic<bool> put{true};
            inParts(remaining, processorCount(), [&](int first, int end) {
                if (!putSecondPart(point.mcu + first, point.mcu + end)) put = false;
            });
            if (put) return true;
        }
        // The second part is not to be had: the first thread goes on from where they met.
        McuPlace place = placeOf(layout, point.mcu);
        for (mcu = point.mcu; mcu < layout.total(); ++mcu, place = following(layout, place)) {
            if (mcu % cancelCheckSpacing == 0 && cancellation.cancelled()) return false;
            if (!decodeNext(place)) return false;
        }
    }
    reader.fill();
    return reader.atEnd() && reader.endsAtImageEnd();
}
