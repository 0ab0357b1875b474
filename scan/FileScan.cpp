#include "scan/FileScan.h"

#include "engine/MotionEngine.h"
#include "types/Exception.h"

TFileScan ScanFile(const std::string& path, const TScanSettings& settings,
                   TScanProgress& progress) {
    TFileScan scan;
    progress.StartTicks = std::chrono::steady_clock::now().time_since_epoch().count();
    progress.Started = true;
    try {
        TVideoDecoder decoder(path, settings.StepNs, &progress);
        TMotionEngine engine;
        TEngineOptions options{settings.PixelTolerance, settings.MinimalMovement, false};
        options.SpeckleNeighbours = settings.SpeckleNeighbours;
        options.LightGuardPercent = settings.LightGuardPercent;
        options.Mask = settings.Mask;
        TDecodedFrame frame;
        bool first = true;
        try {
            while (decoder.NextFrame(frame)) {
                if (first) {
                    engine.TakeReference(frame.View);
                    first = false;
                } else {
                    const TStepResult result = engine.Step(frame.View, options);
                    scan.Steps.push_back(
                        {frame.TimeNs, result.ChangedPixels, result.Percent, result.Movement});
                }
            }
        } catch (const EScanFileError& error) {
            scan.Failure = error.what();
        } catch (const Exception& error) {
            scan.Failure = error.what();
        }
        scan.VideoEndNs = decoder.EndNs();
        scan.FramesSeen = decoder.FramesSeen();
        scan.Creation = decoder.CreationTime();
    } catch (const EScanFileError& error) {
        scan.Failure = error.what();
    }
    progress.FramesSeen = scan.FramesSeen;
    progress.Finished = true;
    return scan;
}
