#pragma once
#include "batch/dialog_link.h"
#include "common/task_line.h"
#include "pipeline/bitmap_resample.h"
#include "pipeline/stream.h"
#include "preview/pane_pictures.h"
#include "settings/settings.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

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
    static void showStreamed(const std::optional<BoxReduction>& reduction, imaging::ImageSize size,
                             const WatermarkSettings& settings)
    {
        try {
            const imaging::GdiBitmap paneCopy = reduction ? bitmapOf(*reduction) : imaging::GdiBitmap{};
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
