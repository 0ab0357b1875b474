#include "scan/FileScan.h"

#include "scan/ScanDetector.h"

TFileScan ScanFile(const std::string& path, const TScanSettings& settings,
                   TScanProgress& progress) {
    TFileScan scan;
    progress.Started = true;
    try {
        TVideoDecoder decoder(path, settings.StepNs);
        TScanDetector detector(settings.PixelTolerance, settings.MinimalMovement);
        TDecodedFrame frame;
        bool first = true;
        try {
            while (decoder.NextFrame(frame)) {
                if (first) {
                    detector.TakeReference(frame);
                    first = false;
                } else {
                    const TStepMeasure measure = detector.Step(frame);
                    scan.Steps.push_back(
                        {frame.TimeNs, measure.ChangedPixels, measure.Percent, measure.Movement});
                }
                progress.Fraction = decoder.Progress();
                progress.FramesSeen = decoder.FramesSeen();
            }
        } catch (const EScanFileError& error) {
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
