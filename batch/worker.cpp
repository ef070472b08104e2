#include "batch/worker.h"

#include "app/dialog_helpers.h"
#include "common/handles.h"
#include "common/imaging.h"
#include "common/joined_thread.h"
#include "common/pooled_memory.h"
#include "common/text.h"
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
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>

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
// The first source as the last preview read it; only the worker thread touches it.
std::optional<PreviewSource> previewSource;

// What the pool may keep between previews: a photo's file and reduced decoding, so that the
// next new source costs no fresh pages; a conversion's blocks all go when it ends.
constexpr std::size_t keptAfterPreview = std::size_t{32} << 20;

constexpr const char* warningTitle = "警告";
constexpr const char* doneTitle = "完成";

bool stopRequestedFor(int ticket) { return stoppedTicket.load() >= ticket; }

void rescanIfPending()
{
    if (!rescanPending.exchange(false)) return;
    previewSource.reset();
    rescanSources();
}

// Once the dialog is closing nothing more is shown: every question counts as answered No.
int showMessage(const std::string& text, const char* title, UINT buttons)
{
    if (quitting) return IDNO;
    return MessageBoxA(dialogWindow(), text.c_str(), title, buttons);
}

bool ask(const std::string& text, const char* title) { return showMessage(text, title, MB_YESNO) == IDYES; }

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

DirectoryOutcome prepareDirectory(const std::string& directory)
{
    if (quitting) return DirectoryOutcome::closing;
    if (!directory.empty() && CreateDirectoryA(directory.c_str(), nullptr)) return DirectoryOutcome::ready;
    const DWORD attributes = directory.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(directory.c_str());
    const bool isDirectory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!isDirectory) {
        showMessage("无法创建转换目录“" + directory + "”，没有转换任何图片", warningTitle, MB_OK | MB_ICONWARNING);
        return DirectoryOutcome::failed;
    }
    const bool reuse = ask("转换目录“" + directory + "”已经存在，是否覆盖原目录中的图片", warningTitle);
    if (quitting) return DirectoryOutcome::closing;
    return reuse ? DirectoryOutcome::ready : DirectoryOutcome::declined;
}

std::string foldedCase(std::string path)
{
    if (!path.empty()) CharLowerBuffA(path.data(), static_cast<DWORD>(path.size()));
    return path;
}

// Two sources of one conversion may name the same output: the later one takes the
// alternative name. False when even that is taken or does not fit: the file is not
// written rather than overwrite our own.
bool claimOutputName(OutputTarget& target, const char* sourcePath, std::set<std::string>& claimed)
{
    if (claimed.insert(foldedCase(target.outputPath)).second) return true;
    const std::string alternative = alternativeOutputPath(target.outputPath, sourcePath);
    return claimed.insert(foldedCase(alternative)).second &&
           copyWhole(alternative, target.outputPath, sizeof target.outputPath);
}

void runPreview()
{
    rescanIfPending();
    if (sourceCount() == 0) return;
    try {
        previewFileInPanes(previewSource, sourceEntry(0), copySettings());
    } catch (const std::exception&) {
        // Short of memory for this picture: the panes keep what they showed.
        previewSource.reset();
    }
    invalidateDialog();
}

// What a conversion with these settings needs of a picture: all of it, or for a fixed size, the
// crop region at the smallest reduction that still has the target's resolution.
ReducedView conversionView(const SourceFacts& facts, const WatermarkSettings& settings)
{
    if (settings.keepSourceSize != 0) return {};
    const ImageSize upright = facts.uprightSize();
    const TargetGeometry geometry = targetGeometryFor(upright.width, upright.height, settings);
    return decodingView(facts, {geometry.width, geometry.height}, {geometry.cropWidth, geometry.cropHeight});
}

// A source decoded for a conversion with `settings`, and reduced for the panes, on a thread of its
// own from the moment it is made: during a conversion, while the file before it is rendered and
// saved.
class DecodedFile {
public:
    DecodedFile(SourceFile source, const WatermarkSettings& settings)
        : source_(std::move(source)), settings_(settings), thread_([this] { decode(); })
    {
    }
    DecodedFile(const DecodedFile&) = delete;
    DecodedFile& operator=(const DecodedFile&) = delete;

    void wait()
    {
        try {
            thread_.join();
        } catch (const std::bad_alloc&) {
            failWith(DecodeOutcome::outOfMemory);
        } catch (const std::exception&) {
            failWith(DecodeOutcome::failed);
        }
    }
    // Empty unless the outcome is `decoded`. Only after wait().
    GdiBitmap& picture() { return decoding_.picture; }
    DecodeOutcome outcome() const { return decoding_.outcome; }
    ImageSize uprightSize() const { return decoding_.uprightSize; }
    int reduction() const { return decoding_.scaleDenominator; }
    const PreviewSource* reduced() const { return reduced_ ? &*reduced_ : nullptr; }
    const ColourProfile& colourProfile() const { return source_.facts.colourProfile; }
    // Whether a reduced picture was decoded for a view that `settings` do not make.
    bool reducedForOther(const WatermarkSettings& settings) const
    {
        if (decoding_.scaleDenominator == 1) return false;
        const ReducedView wanted = conversionView(source_.facts, settings);
        const ReducedView made = conversionView(source_.facts, settings_);
        return wanted.scaleDenominator != made.scaleDenominator || wanted.kept.width != made.kept.width ||
               wanted.kept.height != made.kept.height;
    }
    // The opened file, for a decoding of its own. Only after wait().
    SourceFile takeSource() { return std::move(source_); }

private:
    void decode()
    {
        decoding_ = decodeUpright(source_, conversionView(source_.facts, settings_));
        reduced_ = reduceForPanes(decoding_.picture.get(), decoding_.uprightSize);
    }
    void failWith(DecodeOutcome outcome)
    {
        decoding_ = {outcome, {}, {}, 1};
        reduced_.reset();
    }

    SourceFile source_;
    WatermarkSettings settings_;
    UprightDecoding decoding_;
    std::optional<PreviewSource> reduced_;
    // Last: the decoding starts once everything it writes is there.
    JoinedThread thread_;
};

// Shows the file in the panes, renders it with `settings` and, unless previewOnly, saves it;
// the decoded picture is released before the save. Returns whether a file was written: a
// step that fails, or runs short of memory, fails the file.
bool convertDecoded(DecodedFile& file, const char* outputPath, const char* subtype, bool previewOnly,
                    const WatermarkSettings& settings)
{
    file.wait();
    try {
        GdiBitmap& source = file.picture();
        const bool decoded = static_cast<bool>(source);
        renderIntoPanes(file.reduced(), settings);
        const ImageSize size = file.uprightSize();
        const TargetGeometry geometry = decoded ? targetGeometryFor(size.width, size.height, settings)
                                                : computeTargetGeometry(nullptr, settings);
        GdiBitmap target;
        target.track(createBitmap(geometry.width, geometry.height, targetFormatFor(source.get(), subtype), target));
        const bool rendered =
            renderWatermarked(source.get(), target.get(), geometry, settings, watermarkFontFamily, file.reduction());
        // Not needed while the target is encoded, which is when the next file is decoding.
        source.reset();
        return !previewOnly && decoded && rendered && saveImage(target.get(), outputPath, subtype, file.colourProfile());
    } catch (const std::exception&) {
        return false;
    }
}

// Shows a streamed file in the panes on a thread of its own while the next file streams: a
// streamed file keeps both processors busy, and the panes cost a sixth of a small one. One
// at a time, in order; the last has been shown once finish() returns.
class BackgroundPanes {
public:
    BackgroundPanes() = default;
    ~BackgroundPanes() { finish(); }
    BackgroundPanes(const BackgroundPanes&) = delete;
    BackgroundPanes& operator=(const BackgroundPanes&) = delete;

    void show(GdiBitmap paneCopy, ImageSize size, const WatermarkSettings& settings)
    {
        finish();
        // Without a thread this file is not shown.
        thread_.emplace([copy = std::make_shared<GdiBitmap>(std::move(paneCopy)), size, settings] {
            showStreamed(copy->get(), size, settings);
        }, JoinedThread::WithoutThread::skip);
    }
    void finish()
    {
        if (!thread_) return;
        try {
            thread_->join();
        } catch (const std::exception&) {
            // Short of memory for the panes: they keep what they showed.
        }
        thread_.reset();
    }

    // Both panes from a streamed file's copy (null: none could be made).
    static void showStreamed(GpBitmap* paneCopy, ImageSize size, const WatermarkSettings& settings)
    {
        try {
            const std::optional<PreviewSource> reduced = reduceForPanes(paneCopy, size);
            renderIntoPanes(reduced ? &*reduced : nullptr, settings);
        } catch (const std::exception&) {
            // Short of memory for the panes: they keep what they showed.
        }
        invalidateDialog();
    }

private:
    std::optional<JoinedThread> thread_;
};

// The file converted band by band when it can be, then shown in the panes, by `panes` or, without
// them, here: the written outcome, or none when it goes the whole-picture way.
std::optional<bool> convertByStreaming(const SourceFile& source, const char* outputPath, const char* subtype,
                                       const WatermarkSettings& settings, BackgroundPanes* panes)
{
    try {
        StreamedConversion streamed = convertStreamed(source, outputPath, subtype, settings, workingSize);
        if (streamed.outcome == StreamOutcome::notStreamed) return std::nullopt;
        if (panes != nullptr)
            panes->show(std::move(streamed.paneCopy), streamed.size, settings);
        else
            BackgroundPanes::showStreamed(streamed.paneCopy.get(), streamed.size, settings);
        return streamed.outcome == StreamOutcome::written;
    } catch (const std::exception&) {
        return false;
    }
}

// Whether a file is worth decoding ahead of its turn: not when it is likely to be streamed,
// which keeps both processors busy itself.
bool worthDecodingAhead(const SourceFacts& facts, const WatermarkSettings& settings)
{
    return settings.keepSourceSize == 0 || facts.kind != SourceKind::jpeg;
}

struct ConversionCounts {
    int written = 0;
    int failed = 0;
    int left = 0;  // not reached before a stop
};

// Converts the list in order, each next file decoding while the current one is rendered
// and saved, until a stop covers `ticket`; every decoding has ended when it returns.
ConversionCounts convertEach(int ticket)
{
    ConversionCounts counts;
    std::set<std::string> claimed;
    // The next file, opened early when it was looked at, and decoded ahead when that pays.
    std::optional<SourceFile> opened;
    std::unique_ptr<DecodedFile> next;
    BackgroundPanes panes;
    for (int index = 0; index < sourceCount() && !stopRequestedFor(ticket); ++index) {
        setStatusText(("正在转换第" + std::to_string(index + 1) + "个图片文件").c_str());
        const WatermarkSettings settings = copySettings();
        const char* sourcePath = sourceEntry(index);
        OutputTarget target;
        const bool named = makeOutputTarget(sourcePath, fieldText(settings.outputFormat), target) &&
                           claimOutputName(target, sourcePath, claimed);
        const bool decodedAhead = next != nullptr;
        SourceFile source = decodedAhead ? SourceFile{} : opened ? std::move(*opened) : openSource(sourcePath);
        opened.reset();
        std::optional<bool> written;
        if (!decodedAhead && named) written = convertByStreaming(source, target.outputPath, target.subtype, settings, &panes);
        // A streamed file's panes invalidate the window once they are drawn.
        const bool shownInBackground = written.has_value();
        if (!written) {
            // The panes show the files in order.
            panes.finish();
            std::unique_ptr<DecodedFile> current =
                decodedAhead ? std::move(next) : std::make_unique<DecodedFile>(std::move(source), settings);
            if (index + 1 < sourceCount()) opened.emplace(openSource(sourceEntry(index + 1)));
            const bool nextAhead = opened && worthDecodingAhead(opened->facts, settings);
            const auto decodeNextAhead = [&] {
                next = std::make_unique<DecodedFile>(std::move(*opened), settings);
                opened.reset();
            };
            // For a fixed size, mostly reduced decodings that the pictures' entropy coding keeps on
            // one processor each: two at a time. Whole pictures, one at a time.
            if (nextAhead && settings.keepSourceSize == 0) decodeNextAhead();
            current->wait();
            // Decoded while the file before was held, it may have lacked only that file's memory;
            // or decoded reduced for settings changed since.
            if (decodedAhead && (current->outcome() == DecodeOutcome::outOfMemory || current->reducedForOther(settings))) {
                current = std::make_unique<DecodedFile>(current->takeSource(), settings);
                current->wait();
            }
            if (nextAhead && !next) decodeNextAhead();
            written = convertDecoded(*current, target.outputPath, target.subtype, !named, settings);
        }
        if (*written)
            ++counts.written;
        else
            ++counts.failed;
        if (!shownInBackground) invalidateDialog();
    }
    counts.left = sourceCount() - counts.written - counts.failed;
    return counts;
}

void reportCompletion(const std::string& directory, const ConversionCounts& counts)
{
    const std::string lookThere = "是否转到“" + directory + "”目录查看";
    std::string question;
    if (counts.left > 0) {
        question = "转换已停止，已转换" + std::to_string(counts.written) + "个图片文件";
        if (counts.failed > 0) question += "，有" + std::to_string(counts.failed) + "个没有转换成功";
        question += "，还有" + std::to_string(counts.left) + "个没有转换，" + lookThere;
    } else if (counts.failed > 0) {
        question = "转换完成，但有" + std::to_string(counts.failed) + "个图片文件没有转换成功，" + lookThere;
    } else {
        question = "转换成功完成，" + lookThere;
    }
    if (ask(question, doneTitle))
        ShellExecuteA(dialogWindow(), nullptr, directory.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void runConversion(int ticket)
{
    rescanIfPending();
    if (sourceCount() == 0) {
        setStatusText("没有找到待转换的图片文件");
        announceConversionEnded();
        return;
    }
    const std::string directory = outputDirectory(sourceEntry(0));
    switch (prepareDirectory(directory)) {
    case DirectoryOutcome::ready: break;
    case DirectoryOutcome::declined:
        // Nothing ran, yet the button stays "Stop" as users of this program know it: their next
        // press only sets a stop, which the next conversion clears before its first file.
        ResetEvent(wakeEvent.get());
        return;
    case DirectoryOutcome::failed:
        announceConversionEnded();
        return;
    case DirectoryOutcome::closing: return;
    }

    const ConversionCounts counts = convertEach(ticket);
    setStatusText("转换完毕！");
    reportCompletion(directory, counts);
    announceConversionEnded();
    if (!quitting) requestJob(1, 0);
}

void workerLoop()
{
    workerThreadId = GetCurrentThreadId();
    // Checked before each wait too: a job may have taken the close's wake-up for itself.
    while (!quitting && WaitForSingleObject(wakeEvent.get(), INFINITE) == WAIT_OBJECT_0 && !quitting) {
        const bool preview = previewMode;
        try {
            if (preview)
                runPreview();
            else
                runConversion(conversionTicket.load());
        } catch (const std::exception&) {
            // Short of memory outside any one file: the job ends, and the worker waits for the next.
            previewSource.reset();
            if (!preview) announceConversionEnded();
        }
        releaseKeptMemory(preview ? keptAfterPreview : 0);
    }
}

}  // namespace

void rescanSources()
{
    const ScanReport found = scanSources([](const std::string& directory) {
        setStatusText(("正在目录" + directory + "中查找图片文件...").c_str());
    });
    const char* verb = found.searchedDirectory ? "找到" : "有";
    setStatusText((verb + std::to_string(found.count) + "个待转换文件").c_str());
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
    // The worker is gone: the end it announced is shown now, and nothing of it arrives later.
    MSG ended;
    bool announced = false;
    while (PeekMessageA(&ended, dialogWindow(), conversionEndedMessage, conversionEndedMessage, PM_REMOVE)) announced = true;
    if (announced) restoreStartCaption();
    workerThread.reset();
    wakeEvent.reset();
    previewSource.reset();
    quitting = false;
    previewMode = true;
    rescanPending = true;
}

bool processFile(const char* sourcePath, const char* outputPath, const char* subtype, bool previewOnly,
                 const WatermarkSettings& settings)
{
    if (!imagingStarted()) return false;
    SourceFile source = openSource(sourcePath);
    if (!previewOnly) {
        const std::optional<bool> written = convertByStreaming(source, outputPath, subtype, settings, nullptr);
        if (written) return *written;
    }
    DecodedFile file(std::move(source), settings);
    return convertDecoded(file, outputPath, subtype, previewOnly, settings);
}
