#include "batch/worker.h"

#include "batch/dialog_link.h"
#include "common/win32/handles.h"
#include "common/win32/imaging.h"
#include "common/joined_thread.h"
#include "common/pooled_memory.h"
#include "common/task_line.h"
#include "common/task_pool.h"
#include "common/win32/text.h"
#include "pipeline/codec_bitmaps.h"
#include "pipeline/geometry.h"
#include "pipeline/orientation.h"
#include "pipeline/output.h"
#include "pipeline/source_file.h"
#include "pipeline/render.h"
#include "pipeline/sources.h"
#include "pipeline/stream.h"
#include "preview/canvas.h"
#include "preview/pane_pictures.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace imaging;

namespace {

KernelHandle wakeEvent;
std::optional<JoinedThread> workerThread;
std::atomic<DWORD> workerThreadId{0};
std::atomic<bool> previewMode{true};
std::atomic<bool> rescanPending{true};
std::atomic<bool> quitting{false};
// Every requested conversion takes the next ticket; a stop covers all tickets up to the
// one it saw, so a stop pressed before the first file counts, and a stale one does not.
std::atomic<int> conversionTicket{0};
std::atomic<int> stoppedTicket{0};
std::atomic<int> jobRequests{0};
// The file of the running conversion whose turn it is; those after it are worked on ahead.
std::atomic<int> turn{0};
// The first source as the last preview read it; only the worker thread touches it.
std::optional<PreviewSource> previewSource;

// What the pool may keep between jobs: a photo's file and reduced decoding, or two streamed files'
// bands, so that the next job costs no fresh pages, which come slowly on some systems.
constexpr std::size_t keptBetweenJobs = std::size_t{32} << 20;

constexpr const char* warningTitle = "警告";
constexpr const char* doneTitle = "完成";

bool stopRequestedFor(int ticket) { return stoppedTicket.load() >= ticket; }

// When work on file `index` of the conversion `ticket` is given up: at the close, and at a stop
// while it is ahead of its turn (the file whose turn it is ends as it would have).
std::function<bool()> givenUpFor(int ticket, int index)
{
    return [ticket, index] { return quitting.load() || (stopRequestedFor(ticket) && turn.load() < index); };
}

bool closing() { return quitting.load(); }

// A file that failed, and why.
struct FailedFile {
    std::wstring name;
    Outcome reason;
};

// The short reason the completion box gives for a file.
const char* reasonText(Outcome reason)
{
    switch (reason) {
    case Outcome::damaged: return "文件已损坏";
    case Outcome::incomplete: return "文件不完整";
    case Outcome::unreadable: return "无法读取";
    case Outcome::notPicture: return "不是图片文件";
    case Outcome::tooLarge: return "图片太大";
    case Outcome::noTargetSize: return "目标尺寸无效";
    case Outcome::outOfMemory: return "内存不足";
    case Outcome::diskFull: return "磁盘已满";
    case Outcome::notWritten: return "无法写入";
    case Outcome::noEncoder: return "不支持该格式";
    case Outcome::nameTooLong: return "路径太长";
    case Outcome::nameTaken: return "与其他文件重名";
    case Outcome::done:
    case Outcome::cancelled: break;
    }
    return "";
}

void rescanIfPending()
{
    if (!rescanPending.exchange(false)) return;
    previewSource.reset();
    rescanSources();
}

// Once the dialog is closing nothing more is shown: every question counts as answered No.
int showMessage(const std::wstring& text, const char* title, UINT buttons)
{
    if (quitting) return IDNO;
    return MessageBoxW(dialogOwner(), text.c_str(), wideText(title).c_str(), buttons);
}

bool ask(const std::wstring& text, const char* title) { return showMessage(text, title, MB_YESNO) == IDYES; }

// A message box the worker put up before it saw the close, answered No (or OK) for the user.
BOOL CALLBACK dismissMessageBox(HWND window, LPARAM)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::string_view(className) != "#32770") return TRUE;
    const int button = GetDlgItem(window, IDNO) != nullptr ? IDNO : IDOK;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    return TRUE;
}

// `closing`: the dialog closed before the first file, so the conversion does not start.
enum class DirectoryOutcome { ready, declined, failed, closing };

DirectoryOutcome prepareDirectory(const std::wstring& directory)
{
    if (quitting) return DirectoryOutcome::closing;
    if (!directory.empty() && CreateDirectoryW(directory.c_str(), nullptr)) return DirectoryOutcome::ready;
    const DWORD attributes = directory.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(directory.c_str());
    const bool isDirectory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!isDirectory) {
        showMessage(wideText("无法创建转换目录“") + directory + wideText("”，没有转换任何图片"), warningTitle,
                    MB_OK | MB_ICONWARNING);
        return DirectoryOutcome::failed;
    }
    const bool reuse =
        ask(wideText("转换目录“") + directory + wideText("”已经存在，是否覆盖原目录中的图片"), warningTitle);
    if (quitting) return DirectoryOutcome::closing;
    return reuse ? DirectoryOutcome::ready : DirectoryOutcome::declined;
}

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

// Shows the decoded file in the panes, renders it with `settings` as `plan` says and, unless
// previewOnly, saves it; the decoded picture is released before the save. `done` once the file is
// written (or for a preview, rendered), else why not.
Outcome convertDecoded(DecodedFile& file, const ConversionPlan& plan, const wchar_t* outputPath, const char* subtype,
                       bool previewOnly, const WatermarkSettings& settings)
{
    renderIntoPanes(file.reduced(), settings);
    GdiBitmap& source = file.picture();
    if (!source) return file.outcome();
    const TargetGeometry& geometry = plan.geometry;
    if (geometry.width <= 0 || geometry.height <= 0) return Outcome::noTargetSize;
    GdiBitmap target;
    const GpStatus created =
        createBitmap(geometry.width, geometry.height, targetFormatFor(source.get(), plan.format), target);
    const bool rendered =
        renderWatermarked(source.get(), target.get(), geometry, settings, watermarkFontFamily, file.reduction());
    // Not needed while the target is encoded, which is when the next file is decoding.
    source.reset();
    if (created != Ok) return created == ValueOverflow ? Outcome::tooLarge : Outcome::outOfMemory;
    if (!rendered) return Outcome::outOfMemory;
    return previewOnly ? Outcome::done : saveImage(target.get(), outputPath, subtype,
                                                    file.carriedFor({geometry.width, geometry.height}));
}

// Shows streamed files in the panes on a line of their own while the conversion goes on, the
// latest one each time: a drawing and the dialog's paint cost a small file's conversion, so the
// panes draw at most ten pictures a second, and files that come meanwhile replace each other.
class StreamedPanes {
public:
    StreamedPanes() = default;
    ~StreamedPanes() { finish(); }
    StreamedPanes(const StreamedPanes&) = delete;
    StreamedPanes& operator=(const StreamedPanes&) = delete;

    void show(StreamedConversion conversion, const WatermarkSettings& settings)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            hurry_ = false;
            latest_.emplace(Shown{std::move(conversion.paneReduction), conversion.size, settings});
            if (std::exchange(drawing_, true)) return;
        }
        // Without a thread for the panes, drawn here and at once.
        if (!line_.post([this] { drawWhileFilesCome(true); })) drawWhileFilesCome(false);
    }
    // The last file given is drawn without a pause before it.
    void hurry()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            hurry_ = true;
        }
        woken_.notify_all();
    }
    // Returns once the last file given is drawn.
    void finish()
    {
        hurry();
        line_.finish();
    }

    // Both panes from a streamed file's reduction (none: it was not decoded whole).
    static void showStreamed(const std::optional<BoxReduction>& reduction, ImageSize size,
                             const WatermarkSettings& settings)
    {
        try {
            const GdiBitmap paneCopy = reduction ? bitmapOf(*reduction) : GdiBitmap{};
            const std::optional<PreviewSource> reduced = reduceForPanes(paneCopy.get(), size);
            renderIntoPanes(reduced ? &*reduced : nullptr, settings);
        } catch (const std::exception&) {
            // Short of memory for the panes: they keep what they showed.
        }
        repaintDialog();
    }

private:
    static constexpr std::chrono::milliseconds drawingInterval{100};

    struct Shown {
        std::optional<BoxReduction> reduction;
        ImageSize size;
        WatermarkSettings settings;
    };

    void drawWhileFilesCome(bool pausing)
    {
        for (;;) {
            std::optional<Shown> shown;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                shown.swap(latest_);
                if (!shown) {
                    drawing_ = false;
                    return;
                }
            }
            const auto drawn = std::chrono::steady_clock::now();
            showStreamed(shown->reduction, shown->size, shown->settings);
            if (!pausing) continue;
            std::unique_lock<std::mutex> lock(mutex_);
            woken_.wait_until(lock, drawn + drawingInterval, [&] { return hurry_; });
        }
    }

    std::mutex mutex_;
    std::condition_variable woken_;
    std::optional<Shown> latest_;  // given, not yet taken for drawing
    bool drawing_ = false;         // a drawing task is posted or running
    bool hurry_ = false;
    TaskLine line_;
};

// The panes show a conversion's last file before a preview draws over them.
void runPreview(StreamedPanes& panes)
{
    panes.finish();
    rescanIfPending();
    if (sourceCount() == 0) return;
    try {
        const Cancellation givenUp(closing);
        previewFileInPanes(previewSource, sourceEntry(0), copySettings(), givenUp);
    } catch (const std::exception&) {
        // Short of memory for this picture: the panes keep what they showed.
        previewSource.reset();
    }
    repaintDialog();
}

// The streamed file written, then shown in the panes, by `panes` or, without them, here.
Outcome writeStreamed(StreamedFile& file, const wchar_t* outputPath, const WatermarkSettings& settings,
                      StreamedPanes* panes)
{
    StreamedConversion streamed = file.writeTo(outputPath);
    const Outcome outcome = streamed.outcome;
    if (panes != nullptr)
        panes->show(std::move(streamed), settings);
    else
        StreamedPanes::showStreamed(streamed.paneReduction, streamed.size, settings);
    return outcome;
}

struct ConversionCounts {
    int written = 0;
    std::vector<FailedFile> failed;
    int left = 0;  // not reached before a stop
};

// A file of the list as far as it was made ready before its turn: opened, streaming on the
// decoding line, or decoding aside.
struct ReadiedFile {
    std::optional<SourceFile> opened;
    std::unique_ptr<StreamedFile> streamed;
    std::unique_ptr<DecodedFile> decoded;

    bool empty() const { return !opened && !streamed && !decoded; }
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

// The opened file set to stream with `settings` into image/<subtype> when its plan says so; a file
// that cannot be made so stays opened, or, short of memory, goes and is opened again at its turn.
void streamIfPlanned(ReadiedFile& file, int ticket, int index, const WatermarkSettings& settings, const char* subtype,
                     TaskLine& line)
{
    if (!file.opened || file.opened->read != Outcome::done) return;
    const ConversionPlan plan = planFor(*file.opened, settings, subtype);
    if (plan.route != Route::streamed) return;
    SourceFile source = std::move(*file.opened);
    file.opened.reset();
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
    next.opened.emplace(openForConversion(ticket, index));
    const std::string subtype = outputSubtype(index, settings);
    if (!subtype.empty()) streamIfPlanned(next, ticket, index, settings, subtype.c_str(), line);
    return next;
}

// The file decoded whole (`current` holds it opened or decoded ahead), then rendered and saved
// unless it has no name; meanwhile the next file is opened into `next`, when given, and unless it
// streams, decoded ahead. `done` once it is written, else why not.
Outcome convertWhole(ReadiedFile& current, ReadiedFile* next, int ticket, int index, const OutputTarget& target,
                     Outcome naming, const WatermarkSettings& settings)
{
    const bool decodedAhead = current.decoded != nullptr;
    std::unique_ptr<DecodedFile> file = std::move(current.decoded);
    if (!decodedAhead) {
        const ConversionPlan plan = planFor(*current.opened, settings, target.subtype);
        file = std::make_unique<DecodedFile>(std::move(*current.opened), settings, plan, givenUpFor(ticket, index));
    }
    ReadiedFile none;
    ReadiedFile& readied = next != nullptr ? *next : none;
    if (next != nullptr && next->empty() && index + 1 < sourceCount())
        next->opened.emplace(openForConversion(ticket, index + 1));
    const std::string nextSubtype = readied.opened ? outputSubtype(index + 1, settings) : "";
    const ConversionPlan nextPlan =
        readied.opened ? planFor(*readied.opened, settings, nextSubtype.c_str()) : ConversionPlan{};
    // A streamed file keeps both processors busy itself.
    const bool nextAhead = readied.opened && nextPlan.route != Route::streamed;
    const auto decodeNextAhead = [&] {
        readied.decoded =
            std::make_unique<DecodedFile>(std::move(*readied.opened), settings, nextPlan, givenUpFor(ticket, index + 1));
        readied.opened.reset();
    };
    // For a fixed size, mostly reduced decodings that the pictures' entropy coding keeps on one
    // processor each: two at a time. Whole pictures, one at a time.
    if (nextAhead && !nextPlan.keepsSize) decodeNextAhead();
    file->wait();
    ConversionPlan plan = file->planFor(settings, outputFormatOf(target.subtype));
    // Decoded reduced for settings changed since, it is decoded again.
    if (decodedAhead && file->reducedForOther(plan)) {
        file = std::make_unique<DecodedFile>(file->takeSource(), settings, plan, givenUpFor(ticket, index));
        file->wait();
        plan = file->planFor(settings, plan.format);
    }
    if (nextAhead && !readied.decoded) decodeNextAhead();
    const Outcome converted =
        convertDecoded(*file, plan, target.outputPath, target.subtype, naming != Outcome::done, settings);
    return converted == Outcome::done ? naming : converted;
}

// File `index` converted in its turn, from what was readied for it in `next`, which then holds
// what is readied for the file after it. `done` once it is written, else why not.
Outcome convertInTurn(int ticket, int index, ReadiedFile& next, std::set<std::wstring>& claimed, TaskLine& decodingLine,
                      StreamedPanes& panes)
{
    const WatermarkSettings settings = copySettings();
    const wchar_t* sourcePath = sourceEntry(index);
    OutputTarget target;
    const Outcome naming = makeOutputTarget(sourcePath, fieldText(settings.outputFormat), target)
                               ? claimOutputName(target, sourcePath, claimed)
                               : Outcome::nameTooLong;
    const bool named = naming == Outcome::done;
    ReadiedFile current = std::exchange(next, {});
    // Streamed ahead for settings changed since, it starts again.
    if (current.streamed && !(named && current.streamed->beganFor(settings, target.subtype))) {
        current.opened.emplace(current.streamed->takeSource());
        current.streamed.reset();
    }
    if (current.empty()) current.opened.emplace(openForConversion(ticket, index));
    if (named && !current.streamed) streamIfPlanned(current, ticket, index, settings, target.subtype, decodingLine);
    if (current.streamed) {
        next = readyNextBehindStream(ticket, index + 1, settings, decodingLine);
        // A streamed file's panes invalidate the window once they are drawn.
        return writeStreamed(*current.streamed, target.outputPath, settings, &panes);
    }
    // The panes show the files in order.
    panes.finish();
    // Short of memory, a file may have gone before it was streamed.
    if (current.empty()) current.opened.emplace(openForConversion(ticket, index));
    Outcome converted = convertWhole(current, &next, ticket, index, target, naming, settings);
    if (converted == Outcome::outOfMemory) {
        // Perhaps short only of what other files held: once more, with nothing else held.
        next = {};
        releaseKeptMemory();
        ReadiedFile alone;
        alone.opened.emplace(openForConversion(ticket, index));
        converted = convertWhole(alone, nullptr, ticket, index, target, naming, settings);
    }
    repaintDialog();
    return converted;
}

// Converts the list in order, each next file decoding while the current one is written, until a
// stop covers `ticket` or the dialog closes; every decoding has ended when it returns.
ConversionCounts convertEach(int ticket, TaskLine& decodingLine, StreamedPanes& panes)
{
    ConversionCounts counts;
    std::set<std::wstring> claimed;
    ReadiedFile next;
    for (int index = 0; index < sourceCount() && !stopRequestedFor(ticket) && !closing(); ++index) {
        turn = index;
        showStatus(("正在转换第" + std::to_string(index + 1) + "个图片文件").c_str());
        Outcome outcome = Outcome::damaged;
        try {
            outcome = convertInTurn(ticket, index, next, claimed, decodingLine, panes);
        } catch (const std::exception&) {
            // Short of memory for what the file needs beside what it holds.
            outcome = Outcome::outOfMemory;
            next = {};
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

// The files that failed, the first few by name with their reasons, for the completion box.
std::wstring failureList(const std::vector<FailedFile>& failed)
{
    constexpr std::size_t named = 10;
    if (failed.empty()) return std::wstring();
    std::wstring list = wideText("\n\n没有转换成功的文件：");
    for (std::size_t index = 0; index < failed.size() && index < named; ++index)
        list += L"\n" + failed[index].name + wideText(std::string("：") + reasonText(failed[index].reason));
    if (failed.size() > named) list += wideText("\n另有" + std::to_string(failed.size() - named) + "个没有列出");
    return list;
}

// `leftOut`: files the list had no room for.
void reportCompletion(const std::wstring& directory, const ConversionCounts& counts, int leftOut)
{
    const std::wstring lookThere = wideText("是否转到“") + directory + wideText("”目录查看");
    const int failed = static_cast<int>(counts.failed.size());
    std::string question;
    if (counts.left > 0 || leftOut > 0) {
        question = std::string(counts.left > 0 ? "转换已停止" : "转换完成") + "，已转换" +
                   std::to_string(counts.written) + "个图片文件";
        if (failed > 0) question += "，有" + std::to_string(failed) + "个没有转换成功";
        if (counts.left > 0) question += "，还有" + std::to_string(counts.left) + "个没有转换";
        if (leftOut > 0)
            question += "，有" + std::to_string(leftOut) + "个超出" + std::to_string(sourceListCapacity) +
                        "个的上限没有转换";
        question += "，";
    } else if (failed > 0) {
        question = "转换完成，但有" + std::to_string(failed) + "个图片文件没有转换成功，";
    } else {
        question = "转换成功完成，";
    }
    if (ask(wideText(question) + lookThere + failureList(counts.failed), doneTitle))
        ShellExecuteW(dialogOwner(), nullptr, directory.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void runConversion(int ticket, TaskLine& decodingLine, StreamedPanes& panes)
{
    rescanIfPending();
    if (sourceCount() == 0) {
        showStatus("没有找到待转换的图片文件");
        tellConversionEnded();
        return;
    }
    const std::wstring directory = outputDirectory(sourceEntry(0));
    switch (prepareDirectory(directory)) {
    case DirectoryOutcome::ready: break;
    case DirectoryOutcome::declined:
        // Nothing ran, yet the button stays "Stop" as users of this program know it: their next
        // press only sets a stop, which the next conversion clears before its first file.
        ResetEvent(wakeEvent.get());
        return;
    case DirectoryOutcome::failed:
        tellConversionEnded();
        return;
    case DirectoryOutcome::closing: return;
    }

    const ConversionCounts counts = convertEach(ticket, decodingLine, panes);
    panes.hurry();
    showStatus("转换完毕！");
    reportCompletion(directory, counts, sourcesLeftOut());
    tellConversionEnded();
    if (!quitting) requestJob(1, 0);
}

void workerLoop()
{
    workerThreadId = GetCurrentThreadId();
    // Started once for every job to come: a thread start costs a small file's share of a batch.
    TaskPool pool(processorCount());
    const SharedTaskPool sharing(pool);
    TaskLine decodingLine;
    StreamedPanes panes;
    // Checked before each wait too: a job may have taken the close's wake-up for itself.
    while (!quitting && WaitForSingleObject(wakeEvent.get(), INFINITE) == WAIT_OBJECT_0 && !quitting) {
        const bool preview = previewMode;
        try {
            if (preview)
                runPreview(panes);
            else
                runConversion(conversionTicket.load(), decodingLine, panes);
        } catch (const std::exception&) {
            // Short of memory outside any one file: the job ends, and the worker waits for the next.
            previewSource.reset();
            if (!preview) tellConversionEnded();
        }
        releaseKeptMemory(keptBetweenJobs);
    }
}

}  // namespace

void rescanSources()
{
    const ScanReport found = scanSources([](const std::wstring& directory) {
        showStatus((wideText("正在目录") + directory + wideText("中查找图片文件...")).c_str());
    });
    const char* verb = found.searchedDirectory ? "找到" : "有";
    if (found.leftOut == 0) {
        showStatus((verb + std::to_string(found.count) + "个待转换文件").c_str());
        return;
    }
    showStatus(("找到" + std::to_string(found.count + found.leftOut) + "个图片文件，只转换前" +
                   std::to_string(found.count) + "个，其余" + std::to_string(found.leftOut) + "个不会转换")
                      .c_str());
}

void startWorker()
{
    wakeEvent.reset(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    workerThread.emplace(workerLoop);
}

void requestJob(int mode, int rescan)
{
    if (rescan != 0) rescanPending = true;
    if (mode == 0) ++conversionTicket;
    previewMode = mode != 0;
    ++jobRequests;
    SetEvent(wakeEvent.get());
}

int requestedJobs() { return jobRequests.load(); }

void requestStop() { stoppedTicket = conversionTicket.load(); }

void stopWorker()
{
    if (!workerThread) return;
    quitting = true;
    requestStop();
    SetEvent(wakeEvent.get());
    while (!workerThread->finished()) {
        // Woken by a status text the worker hands over and waits on, or to answer its question.
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE) == WAIT_TIMEOUT) {
            EnumThreadWindows(workerThreadId, dismissMessageBox, 0);
        } else {
            MSG message;
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    try {
        workerThread->join();
    } catch (const std::exception&) {
        // Its job failed: nothing is left of it to show.
    }
    showAnnouncedEnd();
    workerThread.reset();
    wakeEvent.reset();
    previewSource.reset();
    quitting = false;
    previewMode = true;
    rescanPending = true;
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
    return convertDecoded(file, file.planFor(settings, plan.format), outputPath, subtype, previewOnly, settings);
}
