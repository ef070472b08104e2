#include "batch/conversion.h"

#include "batch/dialog_link.h"
#include "batch/job_state.h"
#include "common/pooled_memory.h"
#include "common/task_pool.h"
#include "common/win32/imaging.h"
#include "common/win32/text.h"
#include "pipeline/codec_bitmaps.h"
#include "pipeline/orientation.h"
#include "pipeline/output.h"
#include "pipeline/render.h"
#include "pipeline/source_file.h"
#include "pipeline/sources.h"
#include "pipeline/stream.h"
#include "preview/canvas.h"
#include "preview/pane_pictures.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>

using namespace imaging;

namespace {

std::wstring foldedCase(std::wstring path)
{
    if (!path.empty()) CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
    return path;
}

// Two sources of one conversion may name the same output: the later one takes the
// alternative name. nameTaken when even that is taken, nameTooLong when it does not fit: the
// file is not written rather than overwrite our own.
Outcome claimOutputName(OutputTarget& target, const wchar_t* sourcePath, std::set<std::wstring>& claimed)
{
    if (claimed.insert(foldedCase(target.outputPath)).second) return Outcome::done;
    const std::wstring alternative = alternativeOutputPath(target.outputPath, sourcePath);
    if (!claimed.insert(foldedCase(alternative)).second) return Outcome::nameTaken;
    return copyWhole(alternative, target.outputPath, outputPathSize) ? Outcome::done : Outcome::nameTooLong;
}

// A source decoded as its plan for a conversion with `settings` says, and reduced for the panes,
// handed aside from the moment it is made: during a conversion, while the file before it is
// rendered and saved. The decoding ends early when `givenUpWhen` says so, or once the file is
// dropped.
class DecodedFile {
public:
    DecodedFile(SourceFile source, const WatermarkSettings& settings, const ConversionPlan& plan,
                std::function<bool()> givenUpWhen)
        : source_(std::move(source)), settings_(settings), plan_(plan), cancellation_(std::move(givenUpWhen)),
          task_(runAside([this] { decode(); }))
    {
    }
    ~DecodedFile() { cancellation_.cancel(); }
    DecodedFile(const DecodedFile&) = delete;
    DecodedFile& operator=(const DecodedFile&) = delete;

    void wait()
    {
        try {
            task_.wait();
        } catch (const std::bad_alloc&) {
            failWith(Outcome::outOfMemory);
        } catch (const std::exception&) {
            failWith(Outcome::damaged);
        }
    }
    // Empty unless the outcome is `done`. Only after wait().
    GdiBitmap& picture() { return decoding_.picture; }
    Outcome outcome() const { return decoding_.outcome; }
    ImageSize uprightSize() const { return decoding_.uprightSize; }
    int reduction() const { return decoding_.scaleDenominator; }
    // The plan for `settings` and `format` now, for the upright size the decoding found (for a
    // picture GDI+ decodes, the first word on its size). Only after wait().
    ConversionPlan planFor(const WatermarkSettings& settings, OutputFormat format) const
    {
        const bool decoded = decoding_.outcome == Outcome::done;
        return planConversion(source_.facts, settings, format,
                              decoded ? decoding_.uprightSize : source_.facts.uprightSize());
    }
    const PreviewSource* reduced() const { return reduced_ ? &*reduced_ : nullptr; }
    std::optional<PreviewSource> takeReduced() { return std::exchange(reduced_, std::nullopt); }
    // What the output carries of the source: the Exif the file holds, or else what GDI+ listed.
    CarriedMetadata carriedFor(ImageSize outputSize) const
    {
        return carriedMetadata(source_.facts.colourProfile, listedExif_.empty() ? source_.facts.exif : listedExif_,
                               outputSize);
    }
    // Whether a reduced picture was decoded for a view that `plan` does not make.
    bool reducedForOther(const ConversionPlan& plan) const
    {
        if (decoding_.scaleDenominator == 1) return false;
        const ReducedView& made = plan_.view;
        return plan.view.scaleDenominator != made.scaleDenominator || plan.view.kept.width != made.kept.width ||
               plan.view.kept.height != made.kept.height;
    }
    // The opened file, for a decoding of its own. Only after wait().
    SourceFile takeSource() { return std::move(source_); }

private:
    void decode()
    {
        decoding_ = decodeUpright(source_, plan_.view, cancellation_);
        // Only a picture GDI+ decoded lists properties: a conversion's, not a preview's, to carry.
        if (source_.facts.exif.empty() && decoding_.picture) listedExif_ = exifOfProperties(decoding_.picture.get());
        reduced_ = reduceForPanes(decoding_.picture.get(), decoding_.uprightSize);
    }
    void failWith(Outcome outcome)
    {
        decoding_ = {outcome, {}, {}, 1};
        listedExif_.clear();
        reduced_.reset();
    }

    SourceFile source_;
    WatermarkSettings settings_;
    ConversionPlan plan_;
    Cancellation cancellation_;
    UprightDecoding decoding_;
    ExifBlock listedExif_;
    std::optional<PreviewSource> reduced_;
    // Last: the decoding starts once everything it writes is there.
    Task task_;
};

// Shows the decoded file in the panes (by `panes` or, without them, here), renders it with
// `settings` as `plan` says and, unless previewOnly, saves it. `done` once the file is written (or
// for a preview, rendered), else why not.
Outcome convertDecoded(DecodedFile& file, const ConversionPlan& plan, const wchar_t* outputPath, const char* subtype,
                       bool previewOnly, const WatermarkSettings& settings, ConversionPanes* panes)
{
    if (panes != nullptr)
        panes->show(file.takeReduced(), settings);
    else
        renderIntoPanes(file.reduced(), settings);
    GdiBitmap& source = file.picture();
    if (!source) return file.outcome();
    const TargetGeometry& geometry = plan.geometry;
    if (geometry.width <= 0 || geometry.height <= 0) return Outcome::noTargetSize;
    const PixelFormat targetFormat = targetFormatFor(source.get(), plan.format);
    if (!previewOnly && targetFormat == PixelFormat24bppRGB)
        return renderJpegInBands(source.get(), geometry, settings, file.reduction(), outputPath,
                                 file.carriedFor({geometry.width, geometry.height}));
    GdiBitmap target;
    const GpStatus created = createBitmap(geometry.width, geometry.height, targetFormat, target);
    const bool rendered =
        renderWatermarked(source.get(), target.get(), geometry, settings, watermarkFontFamily, file.reduction());
    // Not needed while the target is encoded, which is when the next file is decoding.
    source.reset();
    if (created != Ok) return created == ValueOverflow ? Outcome::tooLarge : Outcome::outOfMemory;
    if (!rendered) return Outcome::outOfMemory;
    return previewOnly ? Outcome::done : saveImage(target.get(), outputPath, subtype,
                                                    file.carriedFor({geometry.width, geometry.height}));
}

// The streamed file written, then shown in the panes, by `panes` or, without them, here.
Outcome writeStreamed(StreamedFile& file, const wchar_t* outputPath, const WatermarkSettings& settings,
                      ConversionPanes* panes)
{
    StreamedConversion streamed = file.writeTo(outputPath);
    const Outcome outcome = streamed.outcome;
    if (panes != nullptr)
        panes->show(std::move(streamed), settings);
    else
        ConversionPanes::showStreamed(std::move(streamed.paneReduction), streamed.size, settings);
    return outcome;
}

// A file of the list as far as it was made ready before its turn: opened (and perhaps planned),
// streaming on the decoding line, or decoding aside.
struct ReadiedFile {
    std::optional<SourceFile> opened;
    std::unique_ptr<StreamedFile> streamed;
    std::unique_ptr<DecodedFile> decoded;
    // The opened file's plan, with the settings and output subtype it was made for.
    std::optional<ConversionPlan> plan;
    WatermarkSettings plannedSettings = {};
    std::string plannedSubtype;

    bool empty() const { return !opened && !streamed && !decoded; }
    void open(SourceFile source)
    {
        opened.emplace(std::move(source));
        plan.reset();
    }
};

// File `index` of the conversion `ticket`, opened; its reading is given up as its work is.
SourceFile openForConversion(int ticket, int index)
{
    const Cancellation givenUp(givenUpFor(ticket, index));
    return openSource(sourceEntry(index), givenUp);
}

// The subtype of file `index`'s output with `settings`; empty when it has no output name.
std::string outputSubtype(int index, const WatermarkSettings& settings)
{
    OutputTarget target;
    return makeOutputTarget(sourceEntry(index), fieldText(settings.outputFormat), target) ? target.subtype : "";
}

ConversionPlan planFor(const SourceFile& source, const WatermarkSettings& settings, const char* subtype)
{
    return planConversion(source.facts, settings, outputFormatOf(subtype));
}

// The plan of the opened file for `settings` and `subtype`: made once for them.
ConversionPlan planOf(ReadiedFile& file, const WatermarkSettings& settings, const char* subtype)
{
    const bool planned = file.plan && sameSettings(file.plannedSettings, settings) && file.plannedSubtype == subtype;
    if (planned) return *file.plan;
    file.plan = planFor(*file.opened, settings, subtype);
    file.plannedSettings = settings;
    file.plannedSubtype = subtype;
    return *file.plan;
}

// The opened file set to stream with `settings` into image/<subtype> when its plan says so; a file
// that cannot be made so stays opened, or, short of memory, goes and is opened again at its turn.
void streamIfPlanned(ReadiedFile& file, int ticket, int index, const WatermarkSettings& settings, const char* subtype,
                     TaskLine& line)
{
    if (!file.opened || file.opened->read != Outcome::done) return;
    const ConversionPlan plan = planOf(file, settings, subtype);
    if (plan.route != Route::streamed) return;
    SourceFile source = std::move(*file.opened);
    file.opened.reset();
    file.plan.reset();
    try {
        file.streamed = std::make_unique<StreamedFile>(std::move(source), settings, plan, subtype, line, workingSize,
                                                       givenUpFor(ticket, index));
    } catch (const std::bad_alloc&) {
        // Nothing is held for it now.
    }
}

// The next file readied while the current one streams: its decoding follows the current one's on
// the line, so that it begins while the current file's last bands are encoded.
ReadiedFile readyNextBehindStream(int ticket, int index, const WatermarkSettings& settings, TaskLine& line)
{
    ReadiedFile next;
    if (index >= sourceCount()) return next;
    next.open(openForConversion(ticket, index));
    const std::string subtype = outputSubtype(index, settings);
    if (!subtype.empty()) streamIfPlanned(next, ticket, index, settings, subtype.c_str(), line);
    return next;
}

// The opened file decoding aside for `plan` from now on.
void decodeAhead(ReadiedFile& file, int ticket, int index, const WatermarkSettings& settings,
                 const ConversionPlan& plan)
{
    file.decoded = std::make_unique<DecodedFile>(std::move(*file.opened), settings, plan, givenUpFor(ticket, index));
    file.opened.reset();
    file.plan.reset();
}

// What a file decoded two turns ahead may hold, its bytes and its reduced picture together: a
// third file in memory beside the two of the other turns.
constexpr double afterNextMemory = 64.0 * (1 << 20);

// The file after the next one opened into `file`, when it is to be decoded reduced for a fixed
// size and holds little; else `file` stays empty.
void openAfterNext(ReadiedFile& file, int ticket, int index, const WatermarkSettings& settings)
{
    if (!file.empty() || index >= sourceCount()) return;
    file.open(openForConversion(ticket, index));
    const std::string subtype = outputSubtype(index, settings);
    const bool reduced = file.opened->read == Outcome::done && !subtype.empty() &&
                         planOf(file, settings, subtype.c_str()).view.scaleDenominator > 1;
    if (!reduced || file.plan->route == Route::streamed || file.plan->keepsSize) {
        file = {};
        return;
    }
    const ImageSize size = file.opened->facts.uprightSize();
    const double scale = file.plan->view.scaleDenominator;
    const double picture = 4.0 * (size.width / scale) * (size.height / scale);
    if (static_cast<double>(file.opened->bytes.size()) + picture > afterNextMemory) file = {};
}

// The file decoded whole (`current` holds it opened or decoded ahead), then rendered and saved
// unless it has no name; meanwhile the next file is opened into `next`, when given, and unless it
// streams, decoded ahead, and for reduced decodings, the one after it into `afterNext` too.
// `done` once it is written, else why not.
Outcome convertWhole(ReadiedFile& current, ReadiedFile* next, ReadiedFile* afterNext, int ticket, int index,
                     const OutputTarget& target, Outcome naming, const WatermarkSettings& settings,
                     ConversionPanes& panes)
{
    const bool decodedAhead = current.decoded != nullptr;
    std::unique_ptr<DecodedFile> file = std::move(current.decoded);
    if (!decodedAhead) {
        const ConversionPlan plan = planOf(current, settings, target.subtype);
        file = std::make_unique<DecodedFile>(std::move(*current.opened), settings, plan, givenUpFor(ticket, index));
    }
    ReadiedFile none;
    ReadiedFile& readied = next != nullptr ? *next : none;
    if (next != nullptr && next->empty() && index + 1 < sourceCount()) next->open(openForConversion(ticket, index + 1));
    const std::string nextSubtype = readied.opened ? outputSubtype(index + 1, settings) : "";
    const ConversionPlan nextPlan =
        readied.opened ? planOf(readied, settings, nextSubtype.c_str()) : ConversionPlan{};
    // A streamed file keeps both processors busy itself.
    const bool nextAhead = readied.opened && nextPlan.route != Route::streamed;
    const auto decodeNextAhead = [&] { decodeAhead(readied, ticket, index + 1, settings, nextPlan); };
    // For a fixed size, mostly reduced decodings that the pictures' entropy coding keeps on one
    // processor each: two at a time. Whole pictures, one at a time.
    if (nextAhead && !nextPlan.keepsSize) decodeNextAhead();
    // While this file renders, the next one's decoding may end, and a processor would wait for the
    // render: the file after it, when reduced, decodes meanwhile too.
    if (afterNext != nullptr && readied.decoded) {
        try {
            openAfterNext(*afterNext, ticket, index + 2, settings);
        } catch (const std::bad_alloc&) {
            // Short of memory for it now: it is opened at its turn.
            *afterNext = {};
        }
    }
    file->wait();
    ConversionPlan plan = file->planFor(settings, outputFormatOf(target.subtype));
    // Decoded reduced for settings changed since, it is decoded again.
    if (decodedAhead && file->reducedForOther(plan)) {
        file = std::make_unique<DecodedFile>(file->takeSource(), settings, plan, givenUpFor(ticket, index));
        file->wait();
        plan = file->planFor(settings, plan.format);
    }
    if (nextAhead && !readied.decoded) decodeNextAhead();
    if (afterNext != nullptr && afterNext->opened && afterNext->plan) {
        try {
            decodeAhead(*afterNext, ticket, index + 2, settings, *afterNext->plan);
        } catch (const std::bad_alloc&) {
            *afterNext = {};
        }
    }
    const Outcome converted =
        convertDecoded(*file, plan, target.outputPath, target.subtype, naming != Outcome::done, settings, &panes);
    return converted == Outcome::done ? naming : converted;
}

// File `index` converted in its turn, from what was readied for it in `next`; `next` and
// `afterNext` then hold what is readied for the two files after it. `done` once it is written,
// else why not.
Outcome convertInTurn(int ticket, int index, ReadiedFile& next, ReadiedFile& afterNext, std::set<std::wstring>& claimed,
                      TaskLine& decodingLine, ConversionPanes& panes)
{
    const WatermarkSettings settings = copySettings();
    const wchar_t* sourcePath = sourceEntry(index);
    OutputTarget target;
    const Outcome naming = makeOutputTarget(sourcePath, fieldText(settings.outputFormat), target)
                               ? claimOutputName(target, sourcePath, claimed)
                               : Outcome::nameTooLong;
    const bool named = naming == Outcome::done;
    ReadiedFile current = std::exchange(next, std::exchange(afterNext, {}));
    // Streamed ahead for settings changed since, it starts again.
    if (current.streamed && !(named && current.streamed->beganFor(settings, target.subtype))) {
        current.open(current.streamed->takeSource());
        current.streamed.reset();
    }
    if (current.empty()) current.open(openForConversion(ticket, index));
    if (named && !current.streamed) streamIfPlanned(current, ticket, index, settings, target.subtype, decodingLine);
    if (current.streamed) {
        // Readied aside, so that this thread's encoding does not wait for the next file's reading.
        Task readying = runAside([&] {
            try {
                next = readyNextBehindStream(ticket, index + 1, settings, decodingLine);
            } catch (const std::exception&) {
                // Short of memory for it now: it is opened at its turn.
                next = {};
            }
        });
        const Outcome written = writeStreamed(*current.streamed, target.outputPath, settings, &panes);
        readying.wait();
        return written;
    }
    // Short of memory, a file may have gone before it was streamed.
    if (current.empty()) current.open(openForConversion(ticket, index));
    Outcome converted = convertWhole(current, &next, &afterNext, ticket, index, target, naming, settings, panes);
    if (converted == Outcome::outOfMemory) {
        // Perhaps short only of what other files held: once more, with nothing else held.
        next = {};
        afterNext = {};
        releaseKeptMemory();
        ReadiedFile alone;
        alone.open(openForConversion(ticket, index));
        converted = convertWhole(alone, nullptr, nullptr, ticket, index, target, naming, settings, panes);
    }
    return converted;
}

}  // namespace

ConversionCounts convertEach(int ticket, TaskLine& decodingLine, ConversionPanes& panes)
{
    ConversionCounts counts;
    std::set<std::wstring> claimed;
    ReadiedFile next, afterNext;
    for (int index = 0; index < sourceCount() && !stopRequestedFor(ticket) && !closing(); ++index) {
        setTurn(index);
        showStatus(("正在转换第" + std::to_string(index + 1) + "个图片文件").c_str());
        Outcome outcome = Outcome::damaged;
        try {
            outcome = convertInTurn(ticket, index, next, afterNext, claimed, decodingLine, panes);
        } catch (const std::exception&) {
            // Short of memory for what the file needs beside what it holds.
            outcome = Outcome::outOfMemory;
            next = {};
            afterNext = {};
        }
        // Given up at the close, or at a stop that came as its turn began: left, as the rest.
        if (outcome == Outcome::cancelled) break;
        if (outcome == Outcome::done)
            ++counts.written;
        else
            counts.failed.push_back({fileName(sourceEntry(index)), outcome});
    }
    counts.left = sourceCount() - counts.written - static_cast<int>(counts.failed.size());
    return counts;
}

Outcome processFile(const wchar_t* sourcePath, const wchar_t* outputPath, const char* subtype, bool previewOnly,
                    const WatermarkSettings& settings)
{
    if (!imagingStarted()) return Outcome::outOfMemory;
    SourceFile source = openSource(sourcePath);
    const ConversionPlan plan = planFor(source, settings, subtype);
    if (!previewOnly && source.read == Outcome::done && plan.route == Route::streamed) {
        TaskLine line;
        try {
            StreamedFile streamed(std::move(source), settings, plan, subtype, line, workingSize);
            return writeStreamed(streamed, outputPath, settings, nullptr);
        } catch (const std::bad_alloc&) {
            return Outcome::outOfMemory;
        }
    }
    DecodedFile file(std::move(source), settings, plan, closing);
    file.wait();
    return convertDecoded(file, file.planFor(settings, plan.format), outputPath, subtype, previewOnly, settings, nullptr);
}
