// The event tracker: when events start, rise and end, and the end of a
// recorded event waiting for its clip.

#include "integration/EventTracker.h"
#include "integration/Payloads.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using TKind = TEventNotice::TKind;

namespace {

struct TClock {
    TInstant At{std::chrono::steady_clock::time_point{} + 1000s,
                std::chrono::system_clock::from_time_t(1'800'000'000)};
    TInstant operator+=(std::chrono::milliseconds step) {
        At.Steady += step;
        At.Wall += step;
        return At;
    }
};

std::vector<TKind> Kinds(const std::vector<TEventNotice>& notices) {
    std::vector<TKind> kinds;
    for (const TEventNotice& notice : notices) {
        kinds.push_back(notice.Kind);
    }
    return kinds;
}

} // namespace

TEST(EventTracker, AnEventStartsRisesAtMostEveryTwoSecondsAndEndsAfterTheHold) {
    TClock clock;
    TEventTracker tracker(3s);
    EXPECT_TRUE(tracker.Poll(clock.At).empty());
    const auto first = tracker.Movement(clock.At, 5);
    ASSERT_EQ(Kinds(first), std::vector{TKind::New});
    EXPECT_EQ(first[0].Peak, 5);
    EXPECT_FALSE(first[0].End);
    EXPECT_TRUE(tracker.Movement(clock += 500ms, 9).empty()); // too soon
    EXPECT_TRUE(tracker.Movement(clock += 500ms, 7).empty());
    const auto risen = tracker.Poll(clock += 1000ms);
    ASSERT_EQ(Kinds(risen), std::vector{TKind::Update});
    EXPECT_EQ(risen[0].Peak, 9);
    EXPECT_TRUE(tracker.Poll(clock += 1000ms).empty()); // 2 s after the last movement
    const TInstant lastQuietPoll = clock += 1000ms;
    const auto end = tracker.Poll(lastQuietPoll);
    ASSERT_EQ(Kinds(end), std::vector{TKind::End});
    EXPECT_EQ(end[0].Start, std::chrono::system_clock::from_time_t(1'800'000'000));
    EXPECT_EQ(end[0].End, lastQuietPoll.Wall);
    EXPECT_EQ(end[0].Peak, 9);
    EXPECT_FALSE(tracker.Open());
    EXPECT_EQ(Kinds(tracker.Movement(clock += 100ms, 1)), std::vector{TKind::New});
}

TEST(EventTracker, ARecordedEventEndsWhenItsClipIsFinishedOrAfterTheWait) {
    TClock clock;
    TEventTracker tracker(1s);
    tracker.Movement(clock.At, 3);
    tracker.ClipStarted("/v/one.mkv");
    EXPECT_TRUE(tracker.Poll(clock += 2s).empty()); // quiet, but the clip is still written
    EXPECT_TRUE(tracker.ClipFinished("/v/other.mkv", clock += 100ms).empty());
    const auto end = tracker.ClipFinished("/v/one.mkv", clock += 100ms);
    ASSERT_EQ(Kinds(end), std::vector{TKind::End});
    EXPECT_EQ(end[0].Clip, "/v/one.mkv");

    tracker.Movement(clock += 1s, 3);
    tracker.ClipStarted("/v/two.mkv");
    tracker.Poll(clock += 2s);
    EXPECT_TRUE(tracker.Poll(clock += TEventTracker::ClipWait - 1s).empty());
    EXPECT_EQ(Kinds(tracker.Poll(clock += 1s)), std::vector{TKind::End});

    // Movement while the clip of the quiet event is being finished: that event
    // ends and a new one starts.
    tracker.Movement(clock += 1s, 3);
    tracker.ClipStarted("/v/three.mkv");
    tracker.Poll(clock += 2s);
    const auto next = tracker.Movement(clock += 100ms, 4);
    ASSERT_EQ(Kinds(next), (std::vector{TKind::End, TKind::New}));
    EXPECT_EQ(next[0].Clip, "/v/three.mkv");
    EXPECT_EQ(next[1].Clip, "");
    EXPECT_EQ(Kinds(tracker.Close(clock += 100ms)), std::vector{TKind::End});
    EXPECT_TRUE(tracker.Close(clock += 100ms).empty());
}

TEST(Payloads, NamesAreSafeTopicLevelsAndTheJsonCarriesAnyText) {
    EXPECT_EQ(TopicSlug("Front door/+#"), "Front_door___");
    EXPECT_EQ(TopicSlug(""), "camera");
    EXPECT_EQ(MotionTopic("garage-2"), "stirwatch/garage-2/motion");

    TEventNotice notice;
    notice.Kind = TKind::Update;
    notice.Start = std::chrono::system_clock::from_time_t(1'800'000'000);
    notice.Peak = 12;
    notice.Clip = "C:\\a \"b\"\n";
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(EventJson(notice, "cam \"1\""))).object();
    EXPECT_EQ(json["type"].toString(), "update");
    EXPECT_EQ(json["camera"].toString(), "cam \"1\"");
    EXPECT_EQ(json["clip"].toString().toStdString(), notice.Clip);
    EXPECT_TRUE(json["end"].isNull());
    EXPECT_EQ(json["start"].toString().toStdString(), IsoTime(notice.Start));
    EXPECT_EQ(IsoTime(notice.Start).size(), std::string("2027-01-15T08:00:00+0000").size());
}
