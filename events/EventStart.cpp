#include "events/EventStart.h"

#include "events/EventWriter.h"
#include "events/EventsFolder.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace {

// Frames wait here while the file opens: however long the disk takes, the
// clip keeps its start, and they weigh at most what the pre-roll may.
constexpr GstClockTime Unbounded = GST_CLOCK_TIME_NONE;

std::string Megabytes(std::uint64_t bytes) {
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB"
                               : std::to_string(bytes >> 10) + " KB";
}

TEventStatus Refusal(TEventStatus::TKind kind, std::string text) {
    TEventStatus status;
    status.Kind = kind;
    status.Text = std::move(text);
    return status;
}

} // namespace

TEventStart::TEventStart(GstClockTime movement, const TEventSettings& settings,
                         const TEventCodec& codec, GstCaps* caps, const TEncodedRing& ring)
    : Movement(movement), Settings(settings), Codec(codec), Caps(RefCaps(caps)),
      Reserve(ring.Bytes()), Frames(Unbounded, TEventRecorder::MaxPreRollBytes) {
    const auto preRoll = static_cast<GstClockTime>(
        std::llround(std::max(0.0, settings.PreRollSeconds) * GST_SECOND));
    From = movement > preRoll ? movement - preRoll : 0;
    Origin = ring.ForEachFrom(From, [this](GstBuffer* buffer) { Frames.Push(buffer); });
    // A source whose times ran ahead of the arrival clock can put the first
    // frame a little after the movement.
    const auto ago = std::chrono::nanoseconds(static_cast<std::int64_t>(movement) -
                                              static_cast<std::int64_t>(Origin));
    StartTime = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - ago);
}

TPreparedEvent PrepareEvent(const TEventStart& start) {
    const std::string& folder = start.Settings.Folder;
    TPreparedEvent prepared;
    try {
        EnsureFolder(folder);
    } catch (const std::exception& error) {
        prepared.Refusal = Refusal(TEventStatus::Failed, error.what());
        return prepared;
    }
    const TDiskSpace space = DiskSpaceOf(folder);
    const std::uint64_t floor = FreeSpaceFloor(space.Total);
    if (space.Known && space.Free < floor) {
        prepared.Refusal =
            Refusal(TEventStatus::Refused, "No event recorded: only " + Megabytes(space.Free) +
                                               " free on the disk of the events folder (at least " +
                                               Megabytes(floor) + " needed)");
        return prepared;
    }
    EnforceFolderLimit(folder, start.Settings.LimitBytes, start.Reserve);
    // The wall-clock time of the file's first frame names the file.
    std::tm local{};
    localtime_r(&start.StartTime, &local);
    const std::string path = FreeEventPath(folder, local, start.Codec.Extension);
    try {
        prepared.Writer =
            std::make_unique<TEventWriter>(start.Codec, start.Caps.get(), path, start.Origin);
    } catch (const std::exception& error) {
        prepared.Refusal =
            Refusal(TEventStatus::Failed, std::string("Event recording failed: ") + error.what());
        prepared.RetryLater = true;
    }
    return prepared;
}
