// The toolkit on real pipelines: what it builds, the error texts it gives,
// and that the "stirwatch" debug category tells what the pipelines did.

#include "gstkit/GstKit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Collects the messages of the "stirwatch" category while it lives.
class TCategoryLog {
public:
    TCategoryLog() {
        gst_debug_set_threshold_for_name("stirwatch", GST_LEVEL_DEBUG);
        gst_debug_set_active(TRUE);
        gst_debug_add_log_function(&TCategoryLog::Log, this, nullptr);
    }
    ~TCategoryLog() { gst_debug_remove_log_function_by_data(this); }
    TCategoryLog(const TCategoryLog&) = delete;
    TCategoryLog& operator=(const TCategoryLog&) = delete;

    bool Contains(const std::string& text) {
        std::lock_guard lock(FMutex);
        for (const std::string& line : FLines) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    static void Log(GstDebugCategory* category, GstDebugLevel, const gchar*, const gchar*, gint,
                    GObject*, GstDebugMessage* message, gpointer self) {
        if (std::string(gst_debug_category_get_name(category)) != "stirwatch") {
            return;
        }
        auto* log = static_cast<TCategoryLog*>(self);
        std::lock_guard lock(log->FMutex);
        log->FLines.emplace_back(gst_debug_message_get(message));
    }

    std::mutex FMutex;
    std::vector<std::string> FLines;
};

GstMessageType EndOrError() {
    return static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
}

} // namespace

TEST(GstKitTest, PipelinesRunAndTheCategoryTellsWhatTheyDid) {
    ASSERT_TRUE(EnsureGStreamer());
    TCategoryLog log;
    const std::string description = "videotestsrc num-buffers=3 ! fakesink";
    TGstPtr<GstElement> pipeline = LaunchPipeline(description);
    ASSERT_TRUE(pipeline);
    EXPECT_FALSE(g_object_is_floating(pipeline.get()));
    EXPECT_NE(SetState(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const TMessagePtr end = WaitForMessage(pipeline.get(), EndOrError(), 20s);
    ASSERT_TRUE(end);
    EXPECT_EQ(GST_MESSAGE_TYPE(end.get()), GST_MESSAGE_EOS);
    SetState(pipeline.get(), GST_STATE_NULL);

    EXPECT_TRUE(log.Contains("built: " + description));
    EXPECT_TRUE(log.Contains("asking for PLAYING"));
    EXPECT_TRUE(log.Contains("to NULL"));
}

TEST(GstKitTest, ErrorsCarryGStreamersReasonAndAreTraced) {
    ASSERT_TRUE(EnsureGStreamer());
    TCategoryLog log;
    try {
        LaunchPipeline("videotestsrc ! no-such-element-here ! fakesink");
        ADD_FAILURE() << "a description with an unknown element built";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("no-such-element-here"), std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(log.Contains("cannot build"));

    // A file that cannot be made: the text ends with the system's reason.
    TGstPtr<GstElement> pipeline =
        LaunchPipeline("fakesrc num-buffers=1 ! filesink location=/nonexistent/stirwatch-clip.mp4");
    SetState(pipeline.get(), GST_STATE_PLAYING);
    const TMessagePtr error = WaitForMessage(pipeline.get(), EndOrError(), 20s);
    SetState(pipeline.get(), GST_STATE_NULL);
    ASSERT_TRUE(error);
    ASSERT_EQ(GST_MESSAGE_TYPE(error.get()), GST_MESSAGE_ERROR);
    const std::string text = ErrorText(error.get());
    EXPECT_TRUE(text.ends_with(": No such file or directory")) << text;
    EXPECT_TRUE(log.Contains("error: "));
}

TEST(GstKitTest, WaitingForAMessageThatNeverComesEndsAtItsTime) {
    TGstPtr<GstElement> pipeline = LaunchPipeline("fakesrc ! fakesink");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForMessage(pipeline.get(), GST_MESSAGE_EOS, 200ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
}

TEST(GstKitTest, ElementsAndStreamsOfTheDecoders) {
    ASSERT_TRUE(EnsureGStreamer());
    try {
        MakeElement("no-such-element-here");
        ADD_FAILURE() << "an element that is not installed was made";
    } catch (const EGstError& error) {
        EXPECT_NE(std::string(error.what()).find("\"no-such-element-here\" is not installed"),
                  std::string::npos)
            << error.what();
    }

    // Only video goes on through a decodebin or parsebin; caps that say
    // nothing yet do not stop it.
    const auto continues = [](const char* text) {
        const TCapsPtr caps(gst_caps_from_string(text));
        return ContinueOnlyWithVideo(nullptr, nullptr, caps.get(), nullptr) == TRUE;
    };
    EXPECT_TRUE(continues("video/x-h264"));
    EXPECT_TRUE(continues("image/jpeg"));
    EXPECT_TRUE(continues("ANY"));
    EXPECT_FALSE(continues("audio/mpeg"));
    EXPECT_FALSE(continues("text/x-raw"));
    EXPECT_FALSE(continues("subpicture/x-dvd"));
    EXPECT_FALSE(continues("application/x-subtitle-vtt"));
    EXPECT_STREQ(CapsName(nullptr), "");

    // A pad with no caps yet answers with what it could carry, and links to a sink.
    TGstPtr<GstElement> source(GST_ELEMENT(gst_object_ref_sink(MakeElement("videotestsrc"))));
    TGstPtr<GstElement> sink(GST_ELEMENT(gst_object_ref_sink(MakeElement("fakesink"))));
    const TGstPtr<GstPad> pad(gst_element_get_static_pad(source.get(), "src"));
    EXPECT_STREQ(CapsName(PadCaps(pad.get()).get()), "video/x-raw");
    EXPECT_TRUE(LinkToSinkPad(pad.get(), sink.get()));
    EXPECT_FALSE(LinkToSinkPad(pad.get(), sink.get()));
    const TGstPtr<GstPad> peer(gst_pad_get_peer(pad.get()));
    EXPECT_TRUE(gst_pad_unlink(pad.get(), peer.get()));
}
