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

// Shows a conversion's files in the panes on a line of their own while the conversion goes on,
// the latest one each time: a drawing and the dialog's paint cost a small file's conversion, so the
// panes draw at most ten pictures a second, and files that come meanwhile replace each other.
class ConversionPanes {
public:
    ConversionPanes() = default;
    ~ConversionPanes() { finish(); }
    ConversionPanes(const ConversionPanes&) = delete;
    ConversionPanes& operator=(const ConversionPanes&) = delete;

    // A streamed file, from its box reduction (none: it was not decoded whole).
    void show(StreamedConversion conversion, const WatermarkSettings& settings)
    {
        give(Shown{std::move(conversion.paneReduction), conversion.size, std::nullopt, settings});
    }
    // A decoded file, from what it was reduced to (none: it could not be decoded).
    void show(std::optional<PreviewSource> reduced, const WatermarkSettings& settings)
    {
        give(Shown{std::nullopt, {}, std::move(reduced), settings});
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

    // Both panes from a streamed file's box reduction, here and at once.
    static void showStreamed(std::optional<BoxReduction> reduction, imaging::ImageSize size,
                             const WatermarkSettings& settings)
    {
        draw(Shown{std::move(reduction), size, std::nullopt, settings});
    }

private:
    static constexpr std::chrono::milliseconds drawingInterval{100};

    struct Shown {
        std::optional<BoxReduction> reduction;
        imaging::ImageSize size;
        std::optional<PreviewSource> reduced;
        WatermarkSettings settings;
    };

    static void draw(Shown shown)
    {
        try {
            if (shown.reduction) {
                const imaging::GdiBitmap paneCopy = bitmapOf(*shown.reduction);
                shown.reduced = reduceForPanes(paneCopy.get(), shown.size);
            }
            renderIntoPanes(shown.reduced ? &*shown.reduced : nullptr, shown.settings);
        } catch (const std::exception&) {
            // Short of memory for the panes: they keep what they showed.
        }
        repaintDialog();
    }

    void give(Shown shown)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            hurry_ = false;
            latest_.emplace(std::move(shown));
            if (std::exchange(drawing_, true)) return;
        }
        // Without a thread for the panes, drawn here and at once.
        if (!line_.post([this] { drawWhileFilesCome(true); })) drawWhileFilesCome(false);
    }

    // Each drawing waits for an interval since the last one, the first since the first file came:
    // a batch that ends sooner has only its last file drawn, once the end hurries it.
    void drawWhileFilesCome(bool pausing)
    {
        auto due = std::chrono::steady_clock::now() + drawingInterval;
        for (;;) {
            std::optional<Shown> shown;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (pausing) woken_.wait_until(lock, due, [&] { return hurry_; });
                shown.swap(latest_);
                if (!shown) {
                    drawing_ = false;
                    return;
                }
            }
            due = std::chrono::steady_clock::now() + drawingInterval;
            draw(std::move(*shown));
        }
    }

    std::mutex mutex_;
    std::condition_variable woken_;
    std::optional<Shown> latest_;  // given, not yet taken for drawing
    bool drawing_ = false;         // a drawing task is posted or running
    bool hurry_ = false;
    TaskLine line_;
};
