#include "core/conversion_plan.h"

OutputFormat outputFormatOf(std::string_view subtype)
{
    if (subtype == "jpeg") return OutputFormat::jpeg;
    if (subtype == "webp") return OutputFormat::webp;
    if (subtype == "png") return OutputFormat::png;
    if (subtype == "gif") return OutputFormat::gif;
    return OutputFormat::other;
}

ConversionPlan planConversion(const SourceFacts& facts, const WatermarkSettings& settings, OutputFormat format,
                              ImageSize upright)
{
    ConversionPlan plan;
    plan.format = format;
    plan.keepsSize = settings.keepSourceSize != 0;
    plan.geometry = targetGeometryFor(upright.width, upright.height, settings);
    const bool sized = facts.kind == SourceKind::jpeg && upright.width > 0 && upright.height > 0;
    if (plan.keepsSize) {
        plan.route = sized && !facts.turned() && !facts.header.inks ? Route::streamed : Route::whole;
        return plan;
    }
    if (!sized) return plan;
    // For a fixed size: the crop region at the smallest reduction that still has the target's
    // resolution. A region is kept only where the decoding can keep it: a picture stored turned has
    // it elsewhere, an ink picture has no cut blocks, so those are decoded whole at full size.
    const TargetGeometry& geometry = plan.geometry;
    const ImageSize needed{geometry.width, geometry.height};
    const bool cropsAll = geometry.cropWidth >= upright.width && geometry.cropHeight >= upright.height;
    if (cropsAll) {
        plan.view = decodingView(facts, needed);
        return plan;
    }
    if (facts.turned() || facts.header.inks) return plan;
    const ImageSize region{geometry.cropWidth > 0 ? geometry.cropWidth : upright.width,
                           geometry.cropHeight > 0 ? geometry.cropHeight : upright.height};
    const int reduction = reductionFor(region, needed);
    if (reduction == 1) return plan;
    plan.route = Route::cutRegion;
    plan.view = {reduction, {geometry.cropWidth, geometry.cropHeight}};
    return plan;
}
