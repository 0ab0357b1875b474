#include "settings/DetectionOptions.h"

void TDetectionOptions::Apply(const TDetectionSettings& settings, TEngineOptions& options) {
    options.SpeckleNeighbours = settings.SpeckleNeighbours;
    options.LightGuardPercent = settings.LightGuard ? settings.LightGuardPercent : 0;
    if (settings.Mask != FMaskText || (!FMask && !settings.Mask.empty())) {
        FMask.reset();
        FMaskText = settings.Mask;
        if (!FMaskText.empty()) {
            FMask = std::make_shared<const TDetectionMask>(ParseMask(FMaskText));
        }
    }
    options.Mask = FMask;
}
