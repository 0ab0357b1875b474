#include "scan/ScanClips.h"

#include "events/EventCodec.h"
#include "scan/ClipPipelines.h"
#include "scan/VideoDecoder.h"

#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace {

// A key frame further than this before a clip's start is not used: the clip
// is encoded again instead of starting that much early (and the packets
// since the key frame held that long).
constexpr std::int64_t MaxKeyFrameLeadNs = 10'000'000'000;

struct TContainer {
    const char* Extension;
    const char* Muxer;
};
constexpr TContainer Containers[] = {{".mp4", "mp4mux"},   {".m4v", "mp4mux"},
                                     {".mov", "qtmux"},    {".mkv", "matroskamux"},
                                     {".webm", "webmmux"}, {".avi", "avimux"}};
constexpr TContainer AnyCodec{".mkv", "matroskamux"};

// How the clips of one pass are written: the file extension and the chain
// from the buffers to the file.
struct TClipFormat {
    std::string Extension;
    std::string Chain;
};

bool MuxerTakes(const char* muxer, GstCaps* caps) {
    GstElementFactory* factory = gst_element_factory_find(muxer);
    if (factory == nullptr) {
        return false;
    }
    bool takes = false;
    for (const GList* item = gst_element_factory_get_static_pad_templates(factory);
         item != nullptr && !takes; item = item->next) {
        auto* pad = static_cast<GstStaticPadTemplate*>(item->data);
        if (pad->direction != GST_PAD_SINK || !g_str_has_prefix(pad->name_template, "video")) {
            continue;
        }
        GstCaps* accepted = gst_static_pad_template_get_caps(pad);
        takes = gst_caps_can_intersect(accepted, caps) != 0;
        gst_caps_unref(accepted);
    }
    gst_object_unref(factory);
    return takes;
}

std::string LowerExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

// The recording's own container when its muxer takes the stream, else
// Matroska; none when neither does.
std::optional<TContainer> CopyContainer(const std::string& recording, GstCaps* caps) {
    const std::string extension = LowerExtension(recording);
    for (const TContainer& container : Containers) {
        if (extension == container.Extension && MuxerTakes(container.Muxer, caps)) {
            return container;
        }
    }
    if (MuxerTakes(AnyCodec.Muxer, caps)) {
        return AnyCodec;
    }
    return std::nullopt;
}

// The event clips' encoder for frames of these caps.
TClipFormat EncodedFormat(GstCaps* caps) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) {
        throw EScanFileError("the decoded frames cannot be read");
    }
    const double fps = info.fps_d > 0 && info.fps_n > 0 ? double(info.fps_n) / info.fps_d : 30.0;
    TEventCodec codec;
    try {
        codec = ChooseEventCodec(int(std::lround(fps * 2)),
                                 EventBitrateKbps(info.width, info.height, fps));
    } catch (const std::exception& error) {
        throw EScanFileError(error.what());
    }
    return {codec.Extension, "videoconvert ! video/x-raw,format=I420 ! " + codec.Encoder + " ! " +
                                 codec.EncodedCaps + " ! " + codec.Muxer};
}

const char* CapsName(GstCaps* caps) {
    if (caps == nullptr || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) {
        return "an unknown stream";
    }
    return gst_structure_get_name(gst_caps_get_structure(caps, 0));
}

[[noreturn]] void CannotWrite(const std::string& path, int error) {
    throw EScanFileError("cannot write " + path + ": " + std::strerror(error));
}

// The file a clip is written into, under a name of its own; it gets the
// clip's name only when complete, and is removed when it is not.
class TClipFile {
public:
    explicit TClipFile(const std::string& base) {
        static std::atomic<int> serial{0};
        for (;;) {
            Partial =
                base + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
            const int fd = open(Partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                close(fd);
                return;
            }
            if (errno != EEXIST) {
                const int error = errno;
                Partial.clear();
                CannotWrite(base, error);
            }
        }
    }
    ~TClipFile() {
        if (!Partial.empty()) {
            unlink(Partial.c_str());
        }
    }
    TClipFile(const TClipFile&) = delete;
    TClipFile& operator=(const TClipFile&) = delete;

    const std::string& Path() const { return Partial; }

    // Gives the file the first free one of "<base><extension>",
    // "<base>_2<extension>"...; a file of that name is never replaced.
    std::string Keep(const std::string& base, const std::string& extension) {
        for (int serial = 1;; ++serial) {
            std::string name = base + (serial > 1 ? "_" + std::to_string(serial) : "") + extension;
            if (link(Partial.c_str(), name.c_str()) == 0) {
                unlink(Partial.c_str());
                Partial.clear();
                return name;
            }
            if (errno == EEXIST) {
                continue;
            }
            // A file system without hard links: a rename after a look.
            std::error_code error;
            if ((errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) &&
                !std::filesystem::exists(name, error) && !error &&
                std::rename(Partial.c_str(), name.c_str()) == 0) {
                Partial.clear();
                return name;
            }
            CannotWrite(name, errno);
        }
    }

private:
    std::string Partial;
};

// Cuts the clips of the given events from one pass over the recording's
// packets (or frames: then every one can start a clip).
class TClipCutter {
public:
    TClipCutter(const std::vector<TScanEvent>& events, std::vector<TEventClip>& clips,
                std::vector<std::size_t> wanted, std::string stem, TClipFormat format,
                bool everyFrameStarts)
        : Events(events), Clips(clips), Wanted(std::move(wanted)), Stem(std::move(stem)),
          Format(std::move(format)), EveryFrameStarts(everyFrameStarts) {}

    // Events whose clip needs another way (no key frame close enough).
    std::vector<std::size_t> Reencode;

    bool Done() const { return Next >= Wanted.size() && !Writer; }

    void Take(TSamplePtr sample) {
        std::int64_t time = SampleTimeNs(sample.get());
        time = time < 0 ? LastTime : time;
        LastTime = time;
        const bool key = EveryFrameStarts || IsKeyFrame(sample.get());
        if (Writer && time > Event().EndNs) {
            Close();
        }
        if (Writer) {
            Push(sample.get(), time);
        } else {
            StartWhenDue(sample.get(), time, key);
        }
        if (key) {
            Held.clear();
            HeldFrom = time;
        }
        if (key || !Held.empty()) {
            Held.emplace_back(gst_sample_ref(sample.get()));
        }
        if (!Held.empty() && Next < Wanted.size() &&
            Event().StartNs - HeldFrom > MaxKeyFrameLeadNs) {
            Held.clear();
        }
        SeenAny = true;
    }

    // The end of the recording.
    void Finish() {
        if (Writer) {
            Close();
        }
        for (; Next < Wanted.size(); ++Next) {
            Clip().Path.clear();
            Clip().Why = "the recording ends before the event";
        }
    }

private:
    const TScanEvent& Event() const { return Events[Wanted[Next]]; }
    TEventClip& Clip() { return Clips[Wanted[Next]]; }

    void StartWhenDue(GstSample* sample, std::int64_t time, bool key) {
        while (Next < Wanted.size() && time >= Event().StartNs) {
            if (key && (time == Event().StartNs || !SeenAny)) {
                Held.clear(); // the clip starts right here
            } else if (Held.empty()) {
                Clip().Why = "no key frame within " +
                             std::to_string(MaxKeyFrameLeadNs / 1000000000) + " s before the event";
                Reencode.push_back(Wanted[Next++]);
                continue;
            }
            Open(gst_sample_get_caps(Held.empty() ? sample : Held.front().get()));
            for (const TSamplePtr& held : Held) {
                Push(held.get(), std::max<std::int64_t>(0, SampleTimeNs(held.get())));
            }
            Push(sample, time);
            return;
        }
    }

    void Open(GstCaps* caps) {
        try {
            File = std::make_unique<TClipFile>(ClipBase());
            Writer = std::make_unique<TClipWriter>(File->Path(), caps, Format.Chain);
            Clip().Copied = !EveryFrameStarts;
            Clip().StartNs = -1;
            Clip().EndNs = 0;
        } catch (const EScanFileError& error) {
            Fail(error.what());
        }
    }

    void Push(GstSample* sample, std::int64_t time) {
        if (!Writer || Next >= Wanted.size()) {
            return;
        }
        try {
            if (Clip().StartNs < 0) {
                Clip().StartNs = time;
                Offset = EarliestTime(sample);
            }
            Writer->Push(sample, Offset);
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            const std::int64_t length = GST_BUFFER_DURATION_IS_VALID(buffer)
                                            ? std::int64_t(GST_BUFFER_DURATION(buffer))
                                            : 0;
            Clip().EndNs = std::max(Clip().EndNs, time + length);
        } catch (const EScanFileError& error) {
            Fail(error.what());
        }
    }

    void Close() {
        try {
            Writer->Finish();
            Writer.reset();
            Clip().Path = File->Keep(ClipBase(), Format.Extension);
            File.reset();
            ++Next;
        } catch (const EScanFileError& error) {
            Fail(error.what());
        }
    }

    // The clip is lost; the pass goes on with the next one. A copy that
    // failed is encoded again in the next pass.
    void Fail(const std::string& why) {
        Writer.reset();
        File.reset();
        Clip().Path.clear();
        Clip().Why = EveryFrameStarts ? why : "the copy failed: " + why;
        if (!EveryFrameStarts) {
            Reencode.push_back(Wanted[Next]);
        }
        ++Next;
    }

    std::string ClipBase() const {
        char serial[16];
        std::snprintf(serial, sizeof serial, "-event-%03zu", Wanted[Next] + 1);
        return Stem + serial;
    }

    // The buffer's earliest time (decoding time may come before presentation).
    static std::int64_t EarliestTime(GstSample* sample) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstClockTime earliest = GST_BUFFER_PTS(buffer);
        if (GST_BUFFER_DTS_IS_VALID(buffer) &&
            (!GST_BUFFER_PTS_IS_VALID(buffer) || GST_BUFFER_DTS(buffer) < earliest)) {
            earliest = GST_BUFFER_DTS(buffer);
        }
        return GST_CLOCK_TIME_IS_VALID(earliest) ? std::int64_t(earliest) : 0;
    }

    const std::vector<TScanEvent>& Events;
    std::vector<TEventClip>& Clips;
    std::vector<std::size_t> Wanted;
    std::string Stem;
    TClipFormat Format;
    bool EveryFrameStarts;

    std::size_t Next = 0;
    std::vector<TSamplePtr> Held;
    std::int64_t HeldFrom = 0;
    std::int64_t LastTime = 0;
    std::int64_t Offset = 0;
    bool SeenAny = false;
    std::unique_ptr<TClipFile> File;
    std::unique_ptr<TClipWriter> Writer;
};

} // namespace

namespace {

std::vector<std::size_t> AllOf(const std::vector<TScanEvent>& events) {
    std::vector<std::size_t> all(events.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = i;
    }
    return all;
}

void CutAll(TClipReader& reader, TSamplePtr first, TClipCutter& cutter) {
    for (TSamplePtr sample = std::move(first); sample && !cutter.Done(); sample = reader.Next()) {
        cutter.Take(std::move(sample));
    }
    cutter.Finish();
}

// Copies the clips where the stream allows; returns the events whose clips
// are to be encoded again.
std::vector<std::size_t> CopyClips(const std::string& recording,
                                   const std::vector<TScanEvent>& events, const std::string& stem,
                                   std::vector<TEventClip>& clips) {
    TClipReader reader(recording, TClipReader::TMode::Packets);
    TSamplePtr first = reader.Next();
    if (!first) {
        throw EScanFileError("the recording has no video stream");
    }
    GstCaps* caps = gst_sample_get_caps(first.get());
    std::string why;
    std::optional<TContainer> container;
    if (g_str_has_prefix(CapsName(caps), "video/x-raw")) {
        why = "raw video, whose copy would be uncompressed";
    } else if (container = CopyContainer(recording, caps); !container) {
        why = std::string("no muxer here takes ") + CapsName(caps);
    }
    if (!why.empty()) {
        for (TEventClip& clip : clips) {
            clip.Why = why;
        }
        return AllOf(events);
    }
    // The muxer's video pad is named: linked before the caps are set, an
    // unnamed pad could be an audio one.
    TClipCutter cutter(
        events, clips, AllOf(events), stem,
        {container->Extension, "mux.video_0 " + std::string(container->Muxer) + " name=mux"},
        false);
    CutAll(reader, std::move(first), cutter);
    return cutter.Reencode;
}

void EncodeClips(const std::string& recording, const std::vector<TScanEvent>& events,
                 const std::string& stem, std::vector<TEventClip>& clips,
                 const std::vector<std::size_t>& wanted) {
    TClipReader reader(recording, TClipReader::TMode::Frames);
    TSamplePtr first = reader.Next();
    if (!first) {
        throw EScanFileError("the recording has no video stream");
    }
    TClipCutter cutter(events, clips, wanted, stem, EncodedFormat(gst_sample_get_caps(first.get())),
                       true);
    CutAll(reader, std::move(first), cutter);
}

// A pass that stopped loses the clips it had not written.
template <class TPass>
void Guarded(TPass pass, const std::vector<std::size_t>& wanted, std::vector<TEventClip>& clips) {
    try {
        pass();
    } catch (const std::exception& error) {
        for (const std::size_t i : wanted) {
            if (clips[i].Path.empty()) {
                clips[i].Why = error.what();
            }
        }
    }
}

} // namespace

std::vector<TEventClip> CutEventClips(const std::string& recording,
                                      const std::vector<TScanEvent>& events,
                                      const std::string& clipStem) {
    std::vector<TEventClip> clips(events.size());
    if (events.empty()) {
        return clips;
    }
    std::vector<std::size_t> reencode;
    Guarded([&] { reencode = CopyClips(recording, events, clipStem, clips); }, AllOf(events),
            clips);
    if (!reencode.empty()) {
        Guarded([&] { EncodeClips(recording, events, clipStem, clips, reencode); }, reencode,
                clips);
    }
    return clips;
}
