#pragma once
// How one file is converted, decided once from what its bytes tell and the settings: which way it
// goes, how much of it is decoded, the target's geometry and the format it is written in. Every
// step after takes the plan and decides nothing of it again.
#include "core/geometry.h"
#include "core/source.h"
#include "settings/settings.h"

#include <string_view>

// The encoders the program has: its own for JPEG and WebP, GDI+'s for the rest, of which GIF
// needs an 8-bit copy and PNG has its metadata put in afterwards.
enum class OutputFormat { jpeg, webp, png, gif, other };

// The format a lower-case MIME subtype ("jpeg", "png", ...) names.
OutputFormat outputFormatOf(std::string_view subtype);

enum class Route {
    streamed,   // a band of rows at a time, the size kept: a JPEG of colour or grey, stored upright
    cutRegion,  // reduced, with nothing shown from beyond the crop region's edge
    whole,      // the whole picture, at a reduction or not
};

struct ConversionPlan {
    Route route = Route::whole;
    ReducedView view;
    // For the upright size the plan was made for (0 x 0 before a picture GDI+ decodes is decoded).
    TargetGeometry geometry;
    OutputFormat format = OutputFormat::other;
    bool keepsSize = false;
};

// The plan for a source whose upright size is `upright` (its facts' own, until a picture whose
// size only its decoding tells has been decoded).
ConversionPlan planConversion(const SourceFacts& facts, const WatermarkSettings& settings, OutputFormat format,
                              ImageSize upright);
inline ConversionPlan planConversion(const SourceFacts& facts, const WatermarkSettings& settings, OutputFormat format)
{
    return planConversion(facts, settings, format, facts.uprightSize());
}
