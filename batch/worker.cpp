#include "batch/worker.h"

#include "batch/conversion.h"
#include "batch/dialog_link.h"
#include "batch/job_state.h"
#include "batch/reports.h"
#include "batch/conversion_panes.h"
#include "common/joined_thread.h"
#include "common/pooled_memory.h"
#include "common/task_line.h"
#include "common/task_pool.h"
#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "pipeline/output.h"
#include "pipeline/sources.h"
#include "preview/pane_pictures.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <string>

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

// What the pool may keep between jobs: a photo's file and reduced decoding, two streamed files'
// bands, or the reduced decodings of two 24 MP photos converted to a fixed size (50 MiB with the
// rest), so that the next job costs no fresh pages, which come slowly on some systems.
constexpr std::size_t keptBetweenJobs = std::size_t{64} << 20;

}  // namespace

bool stopRequestedFor(int ticket) { return stoppedTicket.load() >= ticket; }

std::function<bool()> givenUpFor(int ticket, int index)
{
    return [ticket, index] { return quitting.load() || (stopRequestedFor(ticket) && turn.load() < index); };
}

bool closing() { return quitting.load(); }

void setTurn(int index) { turn = index; }

namespace {

// The kept preview source stays: the next preview takes it only if it is of the same file, as
// unchanged, so that a conversion's rescan does not have its first file decoded once more after it.
void rescanIfPending()
{
    if (rescanPending.exchange(false)) rescanSources();
}

// The panes show a conversion's last file before a preview draws over them. A conversion asked
// for meanwhile does not wait for the preview's decoding.
void runPreview(ConversionPanes& panes)
{
    panes.finish();
    rescanIfPending();
    if (sourceCount() == 0) return;
    try {
        const int ticket = conversionTicket.load();
        const Cancellation givenUp([ticket] { return quitting.load() || conversionTicket.load() != ticket; });
        previewFileInPanes(previewSource, sourceEntry(0), copySettings(), givenUp);
    } catch (const std::exception&) {
        // Short of memory for this picture: the panes keep what they showed.
        previewSource.reset();
    }
    repaintDialog();
}

void runConversion(int ticket, TaskLine& decodingLine, ConversionPanes& panes)
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
    // The preview is asked for before the dialog hears of the end: asked for after, it would take
    // the place of a Start pressed in between.
    if (!quitting) requestJob(1, 0);
    tellConversionEnded();
}

void workerLoop()
{
    workerThreadId = GetCurrentThreadId();
    // Started once for every job to come: a thread start costs a small file's share of a batch.
    TaskPool pool(processorCount());
    const SharedTaskPool sharing(pool);
    TaskLine decodingLine;
    ConversionPanes panes;
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
            dismissMessageBoxesOf(workerThreadId);
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
