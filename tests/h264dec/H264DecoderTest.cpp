// The libavcodec H.264 decoder element, in real pipelines on clips encoded
// here: decodebin picks it for 8-bit 4:2:0 H.264 and its pictures are those
// of GStreamer's libav decoder, frame for frame; the frames held back come
// out at the end; a seek gives the same frames again; damaged data costs
// frames, not the stream; other chroma formats and depths go elsewhere.
// Where the sink reads video meta the pictures are libav's own, lent without
// a copy: they keep their content for as long as anyone holds them, and a
// consumer that writes gets a copy of its own.

#include "h264dec/H264Decoder.h"
#include "gstkit/GstKit.h"
#include "gstkit/VideoMetaReader.h"
#include "h264dec/PictureOutput.h"
#include "tests/LoadedLibraries.h"
#include "tests/support/GstTestUtil.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

struct TPicture {
    GstClockTime Pts = GST_CLOCK_TIME_NONE;
    std::string Pixels;  // the planes without their row padding
    std::string Colours; // the colorimetry the caps give
    bool Lent = false;   // libav's own planes rather than a copy
};

struct TDecoded {
    std::vector<TPicture> Pictures;
    std::set<std::string> Decoders; // the factories of the decoders used
    std::string Error;              // the pipeline's error, if any
};

bool HasFactory(const char* name) {
    const TGstPtr<GstElementFactory> factory(gst_element_factory_find(name));
    return factory != nullptr;
}

// Encodes `frames` frames of a moving pattern in the raw format `format`
// (I420, Y444, I420_10LE) with B-frames, so that pictures come out reordered.
std::string EncodeClip(const std::string& folder, const char* format, int frames,
                       const std::string& size = "width=320,height=180") {
    const std::string path = folder + "/clip-" + format + ".mp4";
    TGstPtr<GstElement> pipeline =
        LaunchPipeline("videotestsrc num-buffers=" + std::to_string(frames) +
                       " pattern=ball ! video/x-raw,format=" + format + "," + size +
                       ",framerate=30/1 ! x264enc speed-preset=ultrafast bframes=2 "
                       "key-int-max=12 ! h264parse ! mp4mux ! filesink location=" +
                       path);
    RunToEos(pipeline.get(), 120);
    return path;
}

bool IsLent(GstBuffer* buffer) {
    return gst_buffer_n_memory(buffer) == 3 &&
           GST_MEMORY_IS_READONLY(gst_buffer_peek_memory(buffer, 0)) &&
           gst_buffer_get_video_meta(buffer) != nullptr;
}

TPicture Unpadded(GstSample* sample) {
    TPicture picture;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    picture.Pts = GST_BUFFER_PTS(buffer);
    picture.Lent = IsLent(buffer);
    GstVideoFrame frame;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        return picture;
    }
    picture.Colours = TakeString(gst_video_colorimetry_to_string(&info.colorimetry));
    for (guint plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(&frame); ++plane) {
        const auto* data = static_cast<const char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
        const int bytes =
            GST_VIDEO_FRAME_COMP_WIDTH(&frame, plane) * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, plane);
        for (int row = 0; row < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, plane); ++row) {
            picture.Pixels.append(data + std::ptrdiff_t(row) * stride, std::size_t(bytes));
        }
    }
    gst_video_frame_unmap(&frame);
    return picture;
}

void NoteDecoders(GstElement* pipeline, std::set<std::string>& decoders) {
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory != nullptr && !GST_IS_BIN(element) &&
            gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_DECODER)) {
            decoders.insert(GST_OBJECT_NAME(factory));
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
}

// How the sink takes the frames: as the program's sinks do (reading video
// meta, so that the decoder lends its pictures) or as a plain appsink.
enum class TSinkReads { VideoMeta, CapsLayout };

class TDecoding {
public:
    // `decode` turns the file into raw video ("decodebin", "qtdemux ! h264parse ! avdec_h264").
    TDecoding(const std::string& path, const std::string& decode,
              TSinkReads reads = TSinkReads::VideoMeta)
        : Pipeline(LaunchPipeline("filesrc location=" + path + " ! " + decode +
                                  " ! appsink name=sink sync=false max-buffers=4")),
          Sink(gst_bin_get_by_name(GST_BIN(Pipeline.get()), "sink")) {
        if (reads == TSinkReads::VideoMeta) {
            ReadsVideoMeta(Sink.get());
        }
        SetState(Pipeline.get(), GST_STATE_PLAYING);
    }

    // The next frame, or null at the end (or after a minute without one).
    TSamplePtr Pull() {
        return TSamplePtr(gst_app_sink_try_pull_sample(GST_APP_SINK(Sink.get()), 60 * GST_SECOND));
    }
    ~TDecoding() { SetState(Pipeline.get(), GST_STATE_NULL); }
    TDecoding(const TDecoding&) = delete;
    TDecoding& operator=(const TDecoding&) = delete;

    // Takes `count` pictures at most (all to the end by default).
    void Take(TDecoded& decoded, std::size_t count = SIZE_MAX) {
        while (decoded.Pictures.size() < count) {
            const TSamplePtr sample = Pull();
            if (!sample) {
                break;
            }
            decoded.Pictures.push_back(Unpadded(sample.get()));
        }
        NoteDecoders(Pipeline.get(), decoded.Decoders);
        if (const TMessagePtr error =
                WaitForMessage(Pipeline.get(), GST_MESSAGE_ERROR, std::chrono::milliseconds(0))) {
            decoded.Error = ErrorText(error.get());
        }
    }

    void SeekToStart() {
        ASSERT_TRUE(gst_element_seek_simple(Pipeline.get(), GST_FORMAT_TIME,
                                            GstSeekFlags(GST_SEEK_FLAG_FLUSH), 0));
    }

private:
    TGstPtr<GstElement> Pipeline;
    TGstPtr<GstElement> Sink;
};

TDecoded Decode(const std::string& path, const std::string& decode,
                TSinkReads reads = TSinkReads::VideoMeta) {
    TDecoded decoded;
    TDecoding(path, decode, reads).Take(decoded);
    return decoded;
}

std::size_t LentCount(const std::vector<TPicture>& pictures) {
    return std::size_t(
        std::count_if(pictures.begin(), pictures.end(), [](const TPicture& p) { return p.Lent; }));
}

class H264DecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(EnsureGStreamer());
        ASSERT_TRUE(RegisterH264Decoder());
        LibavcodecAtStart = LibraryMapped("/libavcodec.so");
    }

    // Whether libavcodec was in the process once the decoder was registered.
    static inline bool LibavcodecAtStart = false;
    void SetUp() override {
        if (!HasFactory("x264enc") || !HasFactory("avdec_h264") || !HasFactory("mp4mux")) {
            GTEST_SKIP() << "x264enc, mp4mux or avdec_h264 is not installed";
        }
        gchar* folder = g_dir_make_tmp("h264dec-XXXXXX", nullptr);
        ASSERT_NE(folder, nullptr);
        Folder = TakeString(folder);
    }
    void TearDown() override {
        if (!Folder.empty()) {
            std::filesystem::remove_all(Folder);
        }
    }

    std::string Folder;
};

void ExpectSamePictures(const std::vector<TPicture>& got, const std::vector<TPicture>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].Pts, expected[i].Pts) << "frame " << i;
        EXPECT_EQ(got[i].Colours, expected[i].Colours) << "frame " << i;
        ASSERT_TRUE(got[i].Pixels == expected[i].Pixels) << "frame " << i << " differs";
    }
}

// Lent or copied (for a sink that reads the caps' layout only), the pictures
// are the same.
TEST_F(H264DecoderTest, DecodesEveryFrameAsGStreamersLibavDecoderDoes) {
    constexpr int Frames = 45;
    const std::string clip = EncodeClip(Folder, "I420", Frames);
    const TDecoded lent = Decode(clip, "decodebin");
    const TDecoded copied = Decode(clip, "decodebin", TSinkReads::CapsLayout);
    const TDecoded libav = Decode(clip, "qtdemux ! h264parse ! avdec_h264");
    EXPECT_EQ(lent.Error, "");
    EXPECT_EQ(copied.Error, "");
    EXPECT_EQ(lent.Decoders, std::set<std::string>{H264DecoderName});
    EXPECT_EQ(libav.Decoders, std::set<std::string>{"avdec_h264"});
    // The frames held back for reordering come out at the end of the stream.
    EXPECT_EQ(lent.Pictures.size(), std::size_t(Frames));
    EXPECT_EQ(LentCount(lent.Pictures), std::size_t(Frames));
    EXPECT_EQ(LentCount(copied.Pictures), 0u);
    ExpectSamePictures(lent.Pictures, libav.Pictures);
    ExpectSamePictures(copied.Pictures, libav.Pictures);
}

// Pictures held by a consumer while the decoder goes on (and reuses the
// storage of pictures released), and after the pipeline is gone, keep their
// content; past the limit of pictures lent at a time they are copied. An
// odd size gives libav's rows padding and the chroma rows an odd width.
TEST_F(H264DecoderTest, PicturesKeptByAConsumerOutliveTheDecoderUnchanged) {
    constexpr int Frames = 40;
    const std::string clip = EncodeClip(Folder, "I420", Frames, "width=330,height=186");
    const TDecoded libav = Decode(clip, "qtdemux ! h264parse ! avdec_h264");
    ASSERT_EQ(libav.Pictures.size(), std::size_t(Frames));
    std::vector<TSamplePtr> kept;
    {
        TDecoding decoding(clip, "decodebin");
        while (TSamplePtr sample = decoding.Pull()) {
            kept.push_back(std::move(sample));
        }
    }
    TDecoded held;
    for (const TSamplePtr& sample : kept) {
        held.Pictures.push_back(Unpadded(sample.get()));
    }
    EXPECT_EQ(LentCount(held.Pictures), TPictureOutput::LentPictures);
    EXPECT_TRUE(held.Pictures.front().Lent);
    EXPECT_FALSE(held.Pictures.back().Lent);
    const GstVideoMeta* meta = gst_buffer_get_video_meta(gst_sample_get_buffer(kept[0].get()));
    ASSERT_NE(meta, nullptr);
    EXPECT_GE(meta->stride[1], 165);
    ExpectSamePictures(held.Pictures, libav.Pictures);
}

// The event encoder takes the decoder's frames as they are, on an appsrc of
// its own: encoded without loss, lent frames come back as decoded.
TEST_F(H264DecoderTest, AnEncoderFedLentFramesEncodesThePicturesTheyHold) {
    constexpr int Frames = 20;
    const std::string clip = EncodeClip(Folder, "I420", Frames, "width=330,height=186");
    const TDecoded original = Decode(clip, "qtdemux ! h264parse ! avdec_h264");
    const std::string copy = Folder + "/lossless.mp4";
    TGstPtr<GstElement> encoding = LaunchPipeline(
        "appsrc name=src format=time ! videoconvert ! x264enc pass=quant quantizer=0 "
        "speed-preset=ultrafast ! h264parse ! mp4mux ! filesink location=" +
        copy);
    const TGstPtr<GstElement> source(gst_bin_get_by_name(GST_BIN(encoding.get()), "src"));
    SetState(encoding.get(), GST_STATE_PLAYING);
    std::size_t lent = 0;
    {
        TDecoding decoding(clip, "decodebin");
        while (const TSamplePtr sample = decoding.Pull()) {
            GstBuffer* buffer = gst_sample_get_buffer(sample.get());
            lent += IsLent(buffer) ? 1 : 0;
            g_object_set(source.get(), "caps", gst_sample_get_caps(sample.get()), nullptr);
            ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(source.get()), gst_buffer_copy(buffer)),
                      GST_FLOW_OK);
        }
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source.get()));
    ASSERT_TRUE(WaitForMessage(encoding.get(), GST_MESSAGE_EOS, std::chrono::seconds(60)));
    SetState(encoding.get(), GST_STATE_NULL);
    // The first pictures are always lent; later ones are copied while the
    // encoder holds as many as the decoder lends at a time.
    EXPECT_GE(lent, TPictureOutput::LentPictures);
    const TDecoded again = Decode(copy, "qtdemux ! h264parse ! avdec_h264");
    ASSERT_EQ(again.Pictures.size(), original.Pictures.size());
    for (std::size_t i = 0; i < again.Pictures.size(); ++i) {
        ASSERT_TRUE(again.Pictures[i].Pixels == original.Pictures[i].Pixels) << "frame " << i;
    }
}

// Writing into a frame maps a copy: the picture libav refers to for the
// frames after it stays as decoded.
TEST_F(H264DecoderTest, AConsumerThatWritesIntoAFrameWritesIntoItsOwnCopy) {
    const std::string clip = EncodeClip(Folder, "I420", 30);
    const TDecoded libav = Decode(clip, "qtdemux ! h264parse ! avdec_h264");
    TDecoding decoding(clip, "decodebin");
    TDecoded decoded;
    while (const TSamplePtr sample = decoding.Pull()) {
        decoded.Pictures.push_back(Unpadded(sample.get()));
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())));
        GstBuffer* written = gst_buffer_copy(gst_sample_get_buffer(sample.get()));
        GstVideoFrame frame;
        ASSERT_TRUE(gst_video_frame_map(&frame, &info, written, GST_MAP_WRITE));
        for (guint plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(&frame); ++plane) {
            std::memset(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane), 0x55,
                        std::size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane)) *
                            std::size_t(GST_VIDEO_FRAME_COMP_HEIGHT(&frame, plane)));
        }
        gst_video_frame_unmap(&frame);
        gst_buffer_unref(written);
        EXPECT_TRUE(Unpadded(sample.get()).Pixels == decoded.Pictures.back().Pixels);
    }
    EXPECT_EQ(LentCount(decoded.Pictures), decoded.Pictures.size());
    ExpectSamePictures(decoded.Pictures, libav.Pictures);
}

// A process that decodes no H.264 does not carry libavcodec.
TEST_F(H264DecoderTest, LibavcodecIsLoadedByTheFirstStreamDecoded) {
    EXPECT_FALSE(LibavcodecAtStart);
    const TDecoded own = Decode(EncodeClip(Folder, "I420", 5), "decodebin");
    EXPECT_EQ(own.Error, "");
    EXPECT_EQ(own.Pictures.size(), 5u);
    EXPECT_TRUE(LibraryMapped("/libavcodec.so"));
}

TEST_F(H264DecoderTest, SeekingBackGivesTheSameFramesAgain) {
    const std::string clip = EncodeClip(Folder, "I420", 40);
    const TDecoded whole = Decode(clip, "decodebin");
    ASSERT_EQ(whole.Pictures.size(), 40u);

    TDecoding decoding(clip, "decodebin");
    TDecoded first;
    decoding.Take(first, 17);
    ASSERT_EQ(first.Pictures.size(), 17u);
    EXPECT_EQ(first.Decoders, std::set<std::string>{H264DecoderName});
    decoding.SeekToStart();
    TDecoded again;
    decoding.Take(again);
    EXPECT_EQ(again.Error, "");
    // Frames already on their way when the seek came may still arrive; what
    // follows is the clip from its start, every frame.
    ASSERT_GE(again.Pictures.size(), whole.Pictures.size());
    const std::vector<TPicture> tail(again.Pictures.end() - std::ptrdiff_t(whole.Pictures.size()),
                                     again.Pictures.end());
    ExpectSamePictures(tail, whole.Pictures);
}

TEST_F(H264DecoderTest, DamagedDataCostsFramesNotTheStream) {
    const std::string clip = EncodeClip(Folder, "I420", 60);
    std::fstream file(clip, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(0, std::ios::end);
    const auto size = std::streamoff(file.tellg());
    // Garbage over the picture data in the middle and a third of the way in.
    for (const std::streamoff at : {size / 3, size / 2}) {
        file.seekp(at);
        for (int i = 0; i < 600; ++i) {
            file.put(char(i * 37 + 11));
        }
    }
    file.close();
    const TDecoded decoded = Decode(clip, "decodebin");
    EXPECT_EQ(decoded.Decoders, std::set<std::string>{H264DecoderName});
    EXPECT_GE(decoded.Pictures.size(), 30u) << decoded.Error;
}

TEST_F(H264DecoderTest, OtherChromaFormatsAndDepthsAreLeftToOtherDecoders) {
    int tried = 0;
    for (const char* format : {"Y444", "Y42B", "I420_10LE"}) {
        std::string clip;
        try {
            clip = EncodeClip(Folder, format, 10);
        } catch (const std::exception& error) {
            continue; // this x264 cannot encode the format
        }
        ++tried;
        const TDecoded decoded = Decode(clip, "decodebin");
        EXPECT_EQ(decoded.Decoders.count(H264DecoderName), 0u) << format;
        EXPECT_EQ(decoded.Pictures.size(), 10u) << format << ": " << decoded.Error;
    }
    if (tried == 0) {
        GTEST_SKIP() << "x264enc makes only 8-bit 4:2:0 here";
    }
}

// A length-prefixed stream without its configuration record cannot be
// decoded: the element says so instead of guessing.
TEST_F(H264DecoderTest, AStreamItCannotDecodeIsAnErrorThatSaysWhy) {
    std::string description = "appsrc name=source caps=video/x-h264,stream-format=avc,alignment=au";
    description.append(" ! ").append(H264DecoderName).append(" ! fakesink");
    TGstPtr<GstElement> pipeline = LaunchPipeline(description);
    const TGstPtr<GstElement> source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "source"));
    SetState(pipeline.get(), GST_STATE_PLAYING);
    gst_app_src_push_buffer(GST_APP_SRC(source.get()),
                            gst_buffer_new_allocate(nullptr, 64, nullptr));
    const TMessagePtr error =
        WaitForMessage(pipeline.get(), GST_MESSAGE_ERROR, std::chrono::seconds(30));
    SetState(pipeline.get(), GST_STATE_NULL);
    ASSERT_TRUE(error);
    EXPECT_NE(ErrorText(error.get()).find("H.264 stream without its decoder configuration"),
              std::string::npos)
        << ErrorText(error.get());
}

} // namespace
