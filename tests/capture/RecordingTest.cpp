// Streaming capture to video.avi over the real service: the file holds exactly
// the frame limit, and a disk that fills up or refuses writing stops the
// recording with a message instead of piling frames up in memory.

#include "CaptureFixture.h"
#include "tests/support/TestMedia.h"

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QWidget>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

// Resident memory of this process in MB.
double ResidentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(getpagesize()) / (1024.0 * 1024.0);
}

// A small tmpfs mounted on a temporary folder for the life of the object.
class TTmpfs {
public:
    explicit TTmpfs(const char* options) {
        FMounted = mount("tmpfs", FFolder.path().toUtf8().constData(), "tmpfs", 0, options) == 0;
        if (!FMounted) {
            FReason = std::strerror(errno);
        }
    }
    ~TTmpfs() {
        if (FMounted) {
            umount2(FFolder.path().toUtf8().constData(), MNT_DETACH);
        }
    }
    bool Mounted() const { return FMounted; }
    const std::string& Reason() const { return FReason; }
    QString Path() const { return FFolder.path(); }

private:
    QTemporaryDir FFolder;
    bool FMounted = false;
    std::string FReason;
};

class RecordingTest : public TCaptureFixture {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        TCaptureFixture::SetUp();
        FPrevious = QDir::currentPath();
        SetStopCallback([this](QObject*) { ++Stops; });
    }
    void TearDown() override {
        TCaptureFixture::TearDown();
        QDir::setCurrent(FPrevious);
    }
    // Connects a source and starts recording into `folder`.
    void Record(const QString& folder, const QString& source, std::uint32_t limit) {
        ASSERT_TRUE(QDir::setCurrent(folder));
        UseSource(source);
        ASSERT_TRUE(ConnectAndWaitForAFrame(20000));
        SetFrameLimit(limit);
        StartCapture();
    }
    bool Recording() const {
        return Window() && Window()->Driver() && Window()->Driver()->Recording();
    }

    int Stops = 0;

private:
    QString FPrevious;
};

} // namespace

TEST_F(RecordingTest, TheFileHoldsExactlyTheFrameLimit) {
    QTemporaryDir folder;
    Record(folder.path(), "test", 45);
    ASSERT_TRUE(RunEventsUntil([this] { return Stops > 0; }, 30000)) << Label->text().toStdString();
    RunEventsFor(300);
    EXPECT_EQ(Stops, 1);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Label->text(), "45 frames captured") << "the limit is no abort";
    EXPECT_EQ(CountVideoFrames(folder.filePath("video.avi").toStdString()), 45);
}

TEST_F(RecordingTest, AFullDiskStopsTheRecordingWithAnErrorAndMemoryStaysBounded) {
    TTmpfs disk("size=1M");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << disk.Reason();
    }
    // Noise compresses badly: each frame takes a good part of the disk.
    Record(disk.Path(),
           "videotestsrc is-live=true pattern=snow ! "
           "video/x-raw,width=1280,height=720,framerate=30/1",
           100000);
    const double before = ResidentMegabytes();
    ASSERT_TRUE(RunEventsUntil([this] { return !Recording(); }, 30000))
        << "still recording: " << Label->text().toStdString();
    RunEventsFor(3000); // frames keep arriving at about 80 MB/s of raw video
    const double growth = ResidentMegabytes() - before;
    RecordProperty("resident_growth_mb", std::to_string(growth));
    RecordProperty("status_text", Label->text().toStdString());
    EXPECT_LT(growth, 150.0) << "resident memory grew by " << growth << " MB";
    const std::string text = Label->text().toStdString();
    EXPECT_NE(text.find("video.avi"), std::string::npos) << text;
    EXPECT_NE(text.find("space"), std::string::npos) << text;
    EXPECT_EQ(Stops, 0);
    EXPECT_TRUE(Window()->DriverConnected()) << "the live picture goes on";
}

TEST_F(RecordingTest, AFolderThatCannotBeWrittenRefusesTheRecordingWithAReason) {
    TTmpfs disk("size=1M,ro");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a read-only tmpfs here: " << disk.Reason();
    }
    Record(disk.Path(), "test", 45);
    RunEventsFor(500);
    EXPECT_FALSE(Recording());
    const std::string text = Label->text().toStdString();
    EXPECT_NE(text.find("video.avi"), std::string::npos) << text;
    EXPECT_NE(text.find("Read-only file system"), std::string::npos) << text;
}
