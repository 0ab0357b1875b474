#include "capture/VFWInterUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace {

// ---------------------------------------------------------------------------
// Small GStreamer helpers

void EnsureGStreamer() {
    static const bool initialised = [] {
        GError* error = nullptr;
        const bool ok = gst_init_check(nullptr, nullptr, &error);
        if (error) {
            g_error_free(error);
        }
        return ok;
    }();
    (void)initialised;
}

struct TGstUnref {
    void operator()(gpointer object) const {
        if (object) {
            gst_object_unref(object);
        }
    }
};
template <class T> using TGstPtr = std::unique_ptr<T, TGstUnref>;

QString TakeGString(gchar* text) {
    const QString result = QString::fromUtf8(text ? text : "");
    g_free(text);
    return result;
}

QString ErrorText(GstMessage* message, bool& resourceError) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    g_free(debug);
    resourceError = error && error->domain == GST_RESOURCE_ERROR;
    const QString text = QString::fromUtf8(error ? error->message : "Unknown stream error");
    if (error) {
        g_error_free(error);
    }
    return text;
}

// ---------------------------------------------------------------------------
// Sources

enum class TSourceKind { TestScene, File, Url, Launch, Camera };

struct TSource {
    TSourceKind Kind = TSourceKind::TestScene;
    std::string Name;
    std::string Location; // file path, URL or launch description
    std::shared_ptr<GstDevice> Device;
};

const QList<QSize> StandardSizes = {{160, 120}, {320, 240},  {640, 480},
                                    {800, 600}, {1280, 720}, {1920, 1080}};
const QList<int> StandardRates = {5, 10, 15, 25, 30};

QString SizeCaps(int width, int height, int rate) {
    QString caps = QStringLiteral("video/x-raw,width=%1,height=%2").arg(width).arg(height);
    if (rate > 0) {
        caps += QStringLiteral(",framerate=%1/1").arg(rate);
    }
    return caps;
}

std::vector<TVideoFormat> StandardFormats(bool withNative) {
    std::vector<TVideoFormat> formats;
    if (withNative) {
        formats.push_back({0, 0, 0, QString()});
    }
    for (const QSize& size : StandardSizes) {
        for (int rate : StandardRates) {
            formats.push_back(
                {size.width(), size.height(), rate, SizeCaps(size.width(), size.height(), rate)});
        }
    }
    return formats;
}

void AddFractionRates(const GValue* rates, std::vector<int>& out) {
    if (!rates) {
        return;
    }
    if (GST_VALUE_HOLDS_FRACTION(rates)) {
        const int d = gst_value_get_fraction_denominator(rates);
        if (d > 0) {
            out.push_back(gst_value_get_fraction_numerator(rates) / d);
        }
    } else if (GST_VALUE_HOLDS_LIST(rates)) {
        for (guint i = 0; i < gst_value_list_get_size(rates); ++i) {
            AddFractionRates(gst_value_list_get_value(rates, i), out);
        }
    }
}

// The fixed sizes and rates a camera reports.
std::vector<TVideoFormat> CameraFormats(GstDevice* device) {
    std::vector<TVideoFormat> formats;
    GstCaps* caps = gst_device_get_caps(device);
    if (!caps) {
        return formats;
    }
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        int width = 0;
        int height = 0;
        if (!gst_structure_get_int(s, "width", &width) ||
            !gst_structure_get_int(s, "height", &height)) {
            continue;
        }
        std::vector<int> rates;
        AddFractionRates(gst_structure_get_value(s, "framerate"), rates);
        if (rates.empty()) {
            rates.push_back(0);
        }
        for (int rate : rates) {
            QString text = QStringLiteral("%1,width=%2,height=%3")
                               .arg(QString::fromUtf8(gst_structure_get_name(s)))
                               .arg(width)
                               .arg(height);
            if (rate > 0) {
                text += QStringLiteral(",framerate=%1/1").arg(rate);
            }
            TVideoFormat format{width, height, rate, text};
            const bool known = std::any_of(formats.begin(), formats.end(), [&](const auto& f) {
                return f.Width == width && f.Height == height && f.FramesPerSecond == rate;
            });
            if (!known) {
                formats.push_back(format);
            }
        }
    }
    gst_caps_unref(caps);
    return formats;
}

// ---------------------------------------------------------------------------
// The GStreamer driver: one pipeline ending in an appsink of BGR frames.

class TGstDriver final : public TVideoDriver {
public:
    explicit TGstDriver(TSource source) : FSource(std::move(source)) {}
    ~TGstDriver() override { Stop(); }

    bool Start() override;
    void Stop() override;
    void SetFrameNotifier(std::function<void()> notify) override { FNotify = std::move(notify); }
    std::uint64_t NewestFrameNumber() const override { return FNumber.load(); }
    bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds timeout) override;
    std::uint64_t WithNewestFrame(const std::function<void(const QImage&)>& use) override;
    std::vector<TDriverStatus> TakeStatus() override;
    std::vector<TVideoFormat> Formats() const override;
    TVideoFormat CurrentFormat() const override;
    bool SetFormat(const TVideoFormat& format) override;
    void AddSourceControls(QWidget* dialog, QFormLayout* layout) override;
    bool StartRecording(const std::string& fileName, int framesPerSecond) override;
    void StopRecording() override;
    bool Recording() const override { return FRecorder != nullptr; }
    std::uint64_t RecordedFrames() const override { return FRecorded.load(); }

private:
    bool Build();
    QString Description() const;
    void PollBus();
    void OnSample(GstAppSink* sink);
    static GstFlowReturn NewSample(GstAppSink* sink, gpointer self);
    static GstPadProbeReturn CountRecorded(GstPad*, GstPadProbeInfo*, gpointer self);
    void PushToRecorder(GstBuffer* buffer, GstCaps* caps);
    void ReleaseNewest();

    TSource FSource;
    TGstPtr<GstElement> FPipeline;
    TGstPtr<GstElement> FSink;
    TGstPtr<GstElement> FFormatFilter;
    TGstPtr<GstElement> FSourceElement;
    TVideoFormat FFormat;
    bool FLooping = true;
    bool FFailed = false;
    std::vector<TDriverStatus> FStatus;
    std::function<void()> FNotify;

    mutable std::mutex FMutex;
    std::condition_variable FFrameArrived;
    // The newest frame, kept as buffer and caps: holding appsink's sample
    // object itself would stop appsink from reusing it.
    GstBuffer* FNewestBuffer = nullptr;
    GstCaps* FNewestCaps = nullptr;
    std::atomic<std::uint64_t> FNumber{0};

    std::mutex FRecorderMutex;
    TGstPtr<GstElement> FRecorder;
    GstElement* FRecorderSource = nullptr;
    std::atomic<std::uint64_t> FRecorded{0};
};

QString TGstDriver::Description() const {
    const QString tail = QStringLiteral(
        " ! videoconvert ! videoscale ! videorate ! capsfilter name=format ! appsink name=sink");
    switch (FSource.Kind) {
    case TSourceKind::TestScene:
        return QStringLiteral("videotestsrc name=src pattern=ball is-live=true ! capsfilter "
                              "name=format ! videoconvert ! appsink name=sink");
    case TSourceKind::File: {
        GError* error = nullptr;
        const QString uri = TakeGString(gst_filename_to_uri(FSource.Location.c_str(), &error));
        if (error) {
            g_error_free(error);
        }
        return QStringLiteral("uridecodebin name=src uri=\"%1\"").arg(uri) + tail;
    }
    case TSourceKind::Url:
        return QStringLiteral("uridecodebin name=src uri=\"%1\"")
                   .arg(QString::fromStdString(FSource.Location)) +
               tail;
    case TSourceKind::Launch:
        return QString::fromStdString(FSource.Location) + tail;
    case TSourceKind::Camera:
        break;
    }
    return QStringLiteral("capsfilter name=format ! decodebin ! videoconvert ! appsink name=sink");
}

bool TGstDriver::Build() {
    GError* error = nullptr;
    const QByteArray description = Description().toUtf8();
    if (FSource.Kind == TSourceKind::Camera) {
        FPipeline.reset(gst_pipeline_new("camera"));
        GstElement* camera = gst_device_create_element(FSource.Device.get(), "src");
        GstElement* tail = gst_parse_bin_from_description(description.constData(), TRUE, &error);
        if (!camera || !tail) {
            if (camera) {
                gst_object_unref(camera);
            }
            if (tail) {
                gst_object_unref(tail);
            }
        } else {
            gst_bin_add_many(GST_BIN(FPipeline.get()), camera, tail, nullptr);
            gst_element_link(camera, tail);
        }
    } else {
        FPipeline.reset(gst_parse_launch(description.constData(), &error));
    }
    if (error) {
        g_error_free(error);
        return false;
    }
    if (!FPipeline) {
        return false;
    }
    FSink.reset(gst_bin_get_by_name(GST_BIN(FPipeline.get()), "sink"));
    FFormatFilter.reset(gst_bin_get_by_name(GST_BIN(FPipeline.get()), "format"));
    FSourceElement.reset(gst_bin_get_by_name(GST_BIN(FPipeline.get()), "src"));
    if (!FSink || !FFormatFilter) {
        return false;
    }
    if (FSource.Kind == TSourceKind::TestScene) {
        FFormat = {640, 480, 30, SizeCaps(640, 480, 30)};
    }
    if (!FFormat.Caps.isEmpty()) {
        GstCaps* caps = gst_caps_from_string(FFormat.Caps.toUtf8().constData());
        g_object_set(FFormatFilter.get(), "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    GstCaps* bgr = gst_caps_from_string("video/x-raw,format=BGR");
    const bool live = FSource.Kind == TSourceKind::TestScene || FSource.Kind == TSourceKind::Camera;
    g_object_set(FSink.get(), "caps", bgr, "max-buffers", 2u, "drop", TRUE, "sync", !live,
                 "emit-signals", FALSE, nullptr);
    gst_caps_unref(bgr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &TGstDriver::NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(FSink.get()), &callbacks, this, nullptr);
    return true;
}

bool TGstDriver::Start() {
    EnsureGStreamer();
    if (!Build()) {
        Stop();
        return false;
    }
    if (gst_element_set_state(FPipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        gst_element_get_state(FPipeline.get(), nullptr, nullptr, 3 * GST_SECOND) ==
            GST_STATE_CHANGE_FAILURE) {
        Stop();
        return false;
    }
    PollBus();
    if (FFailed) {
        Stop();
        return false;
    }
    FStatus.clear();
    return true;
}

void TGstDriver::Stop() {
    StopRecording();
    if (FPipeline) {
        // Joins the streaming threads: no callback runs after this.
        gst_element_set_state(FPipeline.get(), GST_STATE_NULL);
    }
    FSourceElement.reset();
    FFormatFilter.reset();
    FSink.reset();
    FPipeline.reset();
    std::lock_guard lock(FMutex);
    ReleaseNewest();
}

// Called with FMutex held.
void TGstDriver::ReleaseNewest() {
    if (FNewestBuffer) {
        gst_buffer_unref(FNewestBuffer);
        FNewestBuffer = nullptr;
    }
    if (FNewestCaps) {
        gst_caps_unref(FNewestCaps);
        FNewestCaps = nullptr;
    }
}

GstFlowReturn TGstDriver::NewSample(GstAppSink* sink, gpointer self) {
    static_cast<TGstDriver*>(self)->OnSample(sink);
    return GST_FLOW_OK;
}

// Runs on a streaming thread: swaps the newest sample and tells the window.
void TGstDriver::OnSample(GstAppSink* sink) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) {
        return;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer || !caps) {
        gst_sample_unref(sample);
        return;
    }
    gst_buffer_ref(buffer);
    gst_caps_ref(caps);
    gst_sample_unref(sample);
    PushToRecorder(buffer, caps);
    GstBuffer* oldBuffer = nullptr;
    GstCaps* oldCaps = nullptr;
    {
        std::lock_guard lock(FMutex);
        oldBuffer = std::exchange(FNewestBuffer, buffer);
        oldCaps = std::exchange(FNewestCaps, caps);
        ++FNumber;
    }
    FFrameArrived.notify_all();
    if (oldBuffer) {
        gst_buffer_unref(oldBuffer);
    }
    if (oldCaps) {
        gst_caps_unref(oldCaps);
    }
    if (FNotify) {
        FNotify();
    }
}

bool TGstDriver::WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        {
            std::unique_lock lock(FMutex);
            if (FFrameArrived.wait_for(lock, std::chrono::milliseconds(20),
                                       [&] { return FNumber.load() > after && FNewestBuffer; })) {
                return true;
            }
        }
        PollBus();
        if (FFailed || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
}

std::uint64_t TGstDriver::WithNewestFrame(const std::function<void(const QImage&)>& use) {
    GstBuffer* buffer = nullptr;
    GstCaps* caps = nullptr;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(FMutex);
        if (!FNewestBuffer) {
            return 0;
        }
        buffer = gst_buffer_ref(FNewestBuffer);
        caps = gst_caps_ref(FNewestCaps);
        number = FNumber.load();
    }
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, caps) &&
        GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGR &&
        gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        const QImage view(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                          GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                          GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_BGR888);
        use(view);
        gst_video_frame_unmap(&frame);
    } else {
        number = 0;
    }
    gst_buffer_unref(buffer);
    gst_caps_unref(caps);
    return number;
}

void TGstDriver::PollBus() {
    if (!FPipeline) {
        return;
    }
    TGstPtr<GstBus> bus(gst_element_get_bus(FPipeline.get()));
    while (GstMessage* message = gst_bus_pop(bus.get())) {
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            bool resourceError = false;
            const QString text = ErrorText(message, resourceError);
            if (!FFailed) {
                FStatus.push_back(
                    {resourceError ? IDS_CAP_STAT_SOURCE_LOST : IDS_CAP_STAT_STREAM_ERROR,
                     (resourceError ? QStringLiteral("Video source lost: ")
                                    : QStringLiteral("Video stream error: ")) +
                         text});
            }
            FFailed = true;
            break;
        }
        case GST_MESSAGE_EOS:
            if (FSource.Kind == TSourceKind::File && FLooping) {
                gst_element_seek_simple(FPipeline.get(), GST_FORMAT_TIME,
                                        GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                        0);
            } else {
                FStatus.push_back({IDS_CAP_STAT_STREAM_ERROR, QStringLiteral("End of stream")});
            }
            break;
        default:
            break;
        }
        gst_message_unref(message);
    }
}

std::vector<TDriverStatus> TGstDriver::TakeStatus() {
    PollBus();
    return std::exchange(FStatus, {});
}

std::vector<TVideoFormat> TGstDriver::Formats() const {
    switch (FSource.Kind) {
    case TSourceKind::TestScene:
        return StandardFormats(false);
    case TSourceKind::Camera:
        return CameraFormats(FSource.Device.get());
    default:
        return StandardFormats(true);
    }
}

TVideoFormat TGstDriver::CurrentFormat() const {
    TVideoFormat current = FFormat;
    std::lock_guard lock(FMutex);
    if (FNewestCaps) {
        GstVideoInfo info;
        if (gst_video_info_from_caps(&info, FNewestCaps)) {
            current.Width = GST_VIDEO_INFO_WIDTH(&info);
            current.Height = GST_VIDEO_INFO_HEIGHT(&info);
            if (GST_VIDEO_INFO_FPS_D(&info) > 0) {
                current.FramesPerSecond = GST_VIDEO_INFO_FPS_N(&info) / GST_VIDEO_INFO_FPS_D(&info);
            }
        }
    }
    return current;
}

// Re-negotiates the pipeline through the READY state, which every source supports.
bool TGstDriver::SetFormat(const TVideoFormat& format) {
    if (!FPipeline) {
        return false;
    }
    gst_element_set_state(FPipeline.get(), GST_STATE_READY);
    {
        std::lock_guard lock(FMutex);
        ReleaseNewest();
    }
    GstCaps* caps = format.Caps.isEmpty() ? gst_caps_new_any()
                                          : gst_caps_from_string(format.Caps.toUtf8().constData());
    if (!caps) {
        return false;
    }
    g_object_set(FFormatFilter.get(), "caps", caps, nullptr);
    gst_caps_unref(caps);
    FFormat = format;
    FFailed = false;
    const bool ok =
        gst_element_set_state(FPipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    FStatus.push_back(
        {IDS_CAP_STAT_FORMAT_CHANGED, QStringLiteral("Video format: %1").arg(format.Text())});
    return ok;
}

void AddColorBalanceControls(GstElement* element, QWidget* dialog, QFormLayout* layout) {
    if (!element || !GST_IS_COLOR_BALANCE(element)) {
        return;
    }
    GstColorBalance* balance = GST_COLOR_BALANCE(element);
    for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
        auto* slider = new QSlider(Qt::Horizontal, dialog);
        slider->setRange(channel->min_value, channel->max_value);
        slider->setValue(gst_color_balance_get_value(balance, channel));
        gst_object_ref(channel);
        QObject::connect(slider, &QSlider::valueChanged, dialog, [balance, channel](int value) {
            gst_color_balance_set_value(balance, channel, value);
        });
        QObject::connect(slider, &QObject::destroyed, [channel] { gst_object_unref(channel); });
        layout->addRow(QString::fromUtf8(channel->label), slider);
    }
}

void AddPatternControl(GstElement* source, QWidget* dialog, QFormLayout* layout) {
    GParamSpec* patternParam = g_object_class_find_property(G_OBJECT_GET_CLASS(source), "pattern");
    if (!patternParam || !G_IS_PARAM_SPEC_ENUM(patternParam)) {
        return;
    }
    GEnumClass* enumClass = G_PARAM_SPEC_ENUM(patternParam)->enum_class;
    auto* box = new QComboBox(dialog);
    box->setObjectName(QStringLiteral("PatternBox"));
    int current = 0;
    g_object_get(source, "pattern", &current, nullptr);
    for (guint i = 0; i < enumClass->n_values; ++i) {
        box->addItem(QString::fromUtf8(enumClass->values[i].value_nick),
                     enumClass->values[i].value);
        if (enumClass->values[i].value == current) {
            box->setCurrentIndex(static_cast<int>(i));
        }
    }
    gst_object_ref(source);
    QObject::connect(box, &QComboBox::currentIndexChanged, dialog, [box, source](int) {
        g_object_set(source, "pattern", box->currentData().toInt(), nullptr);
    });
    QObject::connect(box, &QObject::destroyed, [source] { gst_object_unref(source); });
    layout->addRow(QStringLiteral("Pattern"), box);
}

void TGstDriver::AddSourceControls(QWidget* dialog, QFormLayout* layout) {
    switch (FSource.Kind) {
    case TSourceKind::TestScene:
        if (FSourceElement) {
            AddPatternControl(FSourceElement.get(), dialog, layout);
        }
        break;
    case TSourceKind::File: {
        auto* loop = new QCheckBox(QStringLiteral("Play in a loop"), dialog);
        loop->setObjectName(QStringLiteral("LoopCheck"));
        loop->setChecked(FLooping);
        QObject::connect(loop, &QCheckBox::toggled, dialog, [this](bool on) { FLooping = on; });
        layout->addRow(loop);
        break;
    }
    case TSourceKind::Camera:
        AddColorBalanceControls(FSourceElement.get(), dialog, layout);
        break;
    default:
        break;
    }
    if (layout->rowCount() == 0) {
        layout->addRow(new QLabel(QStringLiteral("This source has no controls."), dialog));
    }
}

// ---------------------------------------------------------------------------
// Streaming capture: a second pipeline fed with the frames of the first one.

void TGstDriver::PushToRecorder(GstBuffer* frame, GstCaps* caps) {
    std::lock_guard lock(FRecorderMutex);
    if (!FRecorderSource) {
        return;
    }
    GstCaps* current = gst_app_src_get_caps(GST_APP_SRC(FRecorderSource));
    if (!current || !gst_caps_is_equal(current, caps)) {
        gst_app_src_set_caps(GST_APP_SRC(FRecorderSource), caps);
    }
    if (current) {
        gst_caps_unref(current);
    }
    GstBuffer* buffer = gst_buffer_copy(frame);
    GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(FRecorderSource), buffer);
}

GstPadProbeReturn TGstDriver::CountRecorded(GstPad*, GstPadProbeInfo*, gpointer self) {
    ++static_cast<TGstDriver*>(self)->FRecorded;
    return GST_PAD_PROBE_OK;
}

bool TGstDriver::StartRecording(const std::string& fileName, int framesPerSecond) {
    if (!FPipeline || FRecorder) {
        return false;
    }
    const QString description =
        QStringLiteral("appsrc name=in is-live=true do-timestamp=true format=time ! "
                       "videoconvert ! videorate ! video/x-raw,framerate=%1/1 ! "
                       "jpegenc name=enc ! avimux ! filesink name=out")
            .arg(std::max(framesPerSecond, 1));
    GError* error = nullptr;
    TGstPtr<GstElement> recorder(gst_parse_launch(description.toUtf8().constData(), &error));
    if (error) {
        g_error_free(error);
        return false;
    }
    TGstPtr<GstElement> out(gst_bin_get_by_name(GST_BIN(recorder.get()), "out"));
    TGstPtr<GstElement> encoder(gst_bin_get_by_name(GST_BIN(recorder.get()), "enc"));
    g_object_set(out.get(), "location", fileName.c_str(), nullptr);
    TGstPtr<GstPad> encoded(gst_element_get_static_pad(encoder.get(), "src"));
    FRecorded = 0;
    gst_pad_add_probe(encoded.get(), GST_PAD_PROBE_TYPE_BUFFER, &TGstDriver::CountRecorded, this,
                      nullptr);
    if (gst_element_set_state(recorder.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(recorder.get(), GST_STATE_NULL);
        return false;
    }
    std::lock_guard lock(FRecorderMutex);
    FRecorderSource = gst_bin_get_by_name(GST_BIN(recorder.get()), "in");
    FRecorder = std::move(recorder);
    return true;
}

// Ends the file properly: end of stream through the muxer, then the pipeline stops.
void TGstDriver::StopRecording() {
    TGstPtr<GstElement> recorder;
    {
        std::lock_guard lock(FRecorderMutex);
        if (!FRecorder) {
            return;
        }
        gst_app_src_end_of_stream(GST_APP_SRC(FRecorderSource));
        gst_object_unref(FRecorderSource);
        FRecorderSource = nullptr;
        recorder = std::move(FRecorder);
    }
    TGstPtr<GstBus> bus(gst_element_get_bus(recorder.get()));
    GstMessage* done = gst_bus_timed_pop_filtered(
        bus.get(), 3 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (done) {
        gst_message_unref(done);
    }
    gst_element_set_state(recorder.get(), GST_STATE_NULL);
}

// ---------------------------------------------------------------------------
// The machine's catalogue: STIRWATCH_SOURCE first, then the cameras.

TSource SourceFromSetting(const QString& setting) {
    TSource source;
    source.Location = setting.toStdString();
    if (setting == QLatin1String("test")) {
        source.Kind = TSourceKind::TestScene;
        source.Name = "Stirwatch test scene";
    } else if (setting.startsWith(QLatin1String("rtsp://")) ||
               setting.startsWith(QLatin1String("http://")) ||
               setting.startsWith(QLatin1String("https://"))) {
        source.Kind = TSourceKind::Url;
        source.Name = "Network stream " + source.Location;
    } else if (QFileInfo(setting).isFile()) {
        source.Kind = TSourceKind::File;
        source.Name = "Video file " + QFileInfo(setting).fileName().toStdString();
    } else {
        source.Kind = TSourceKind::Launch;
        source.Name = "GStreamer pipeline";
    }
    return source;
}

std::string DeviceKey(GstDevice* device) {
    std::string key;
    if (GstStructure* properties = gst_device_get_properties(device)) {
        for (const char* field : {"device.path", "api.v4l2.path", "object.path"}) {
            if (const char* value = gst_structure_get_string(properties, field)) {
                key = value;
                break;
            }
        }
        gst_structure_free(properties);
    }
    return key + "\n" + TakeGString(gst_device_get_display_name(device)).toStdString();
}

std::vector<TSource> Cameras() {
    std::vector<std::pair<std::string, TSource>> found;
    TGstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    if (gst_device_monitor_start(monitor.get())) {
        GList* devices = gst_device_monitor_get_devices(monitor.get());
        for (GList* item = devices; item; item = item->next) {
            auto* device = GST_DEVICE(item->data);
            TSource source;
            source.Kind = TSourceKind::Camera;
            source.Name = TakeGString(gst_device_get_display_name(device)).toStdString();
            source.Device = std::shared_ptr<GstDevice>(GST_DEVICE(gst_object_ref(device)),
                                                       [](GstDevice* d) { gst_object_unref(d); });
            found.emplace_back(DeviceKey(device), std::move(source));
        }
        g_list_free_full(devices, gst_object_unref);
        gst_device_monitor_stop(monitor.get());
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TSource> cameras;
    for (auto& entry : found) {
        cameras.push_back(std::move(entry.second));
    }
    return cameras;
}

class TSystemCatalog final : public TDriverCatalog {
public:
    void Refresh() override {
        EnsureGStreamer();
        FSources.clear();
        const QString setting = qEnvironmentVariable("STIRWATCH_SOURCE");
        if (!setting.isEmpty()) {
            FSources.push_back(SourceFromSetting(setting));
        }
        for (TSource& camera : Cameras()) {
            FSources.push_back(std::move(camera));
        }
        FRead = true;
    }
    int Count() const override { return static_cast<int>(FSources.size()); }
    TDriverDescription Describe(int index) const override {
        return {FSources.at(index).Name, std::string("GStreamer ") + gst_version_string()};
    }
    std::unique_ptr<TVideoDriver> Open(int index) override {
        if (index < 0 || index >= Count()) {
            return nullptr;
        }
        return std::make_unique<TGstDriver>(FSources[index]);
    }
    bool Read() const { return FRead; }

private:
    std::vector<TSource> FSources;
    bool FRead = false;
};

std::unique_ptr<TDriverCatalog>& CatalogSlot() {
    static std::unique_ptr<TDriverCatalog> catalog;
    return catalog;
}

// The capture windows that exist, by handle: a handle is checked before any use.
std::map<const QWidget*, TCaptureWindow*>& LiveWindows() {
    static std::map<const QWidget*, TCaptureWindow*> windows;
    return windows;
}

TCaptureWindow* AsCaptureWindow(HWND window) {
    const auto found = LiveWindows().find(window);
    return found == LiveWindows().end() ? nullptr : found->second;
}

// Marks a window busy for the length of one of its requests.
class TBusyScope {
public:
    explicit TBusyScope(int& counter) : FCounter(counter) { ++FCounter; }
    ~TBusyScope() { --FCounter; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    int& FCounter;
};

// Copies `text` into a zero-terminated buffer of `size` bytes without cutting a character.
void CopyText(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) {
        return;
    }
    std::size_t length = std::min(text.size(), static_cast<std::size_t>(size - 1));
    while (length > 0 && length < text.size() &&
           (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

} // namespace

QString TVideoFormat::Text() const {
    if (Width == 0 || Height == 0) {
        return QStringLiteral("Native size and rate");
    }
    QString text = QStringLiteral("%1 x %2").arg(Width).arg(Height);
    if (FramesPerSecond > 0) {
        text += QStringLiteral(", %1 fps").arg(FramesPerSecond);
    }
    return text;
}

void SetDriverCatalog(std::unique_ptr<TDriverCatalog> catalog) {
    CatalogSlot() = std::move(catalog);
}

TDriverCatalog& DriverCatalog() {
    auto& slot = CatalogSlot();
    if (!slot) {
        slot = std::make_unique<TSystemCatalog>();
    }
    return *slot;
}

// ---------------------------------------------------------------------------
// The capture window

TCaptureWindow::TCaptureWindow(const QString& name, QWidget* parent)
    : QWidget(parent), FCaptureFile(), FPreviewTimer(new QTimer(this)),
      FStatusTimer(new QTimer(this)), FAlive(std::make_shared<bool>(true)) {
    setObjectName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(FPreviewTimer, &QTimer::timeout, this, &TCaptureWindow::ShowNewestFrame);
    FStatusTimer->setInterval(100);
    connect(FStatusTimer, &QTimer::timeout, this, &TCaptureWindow::PollStatus);
    LiveWindows()[this] = this;
}

TCaptureWindow::~TCaptureWindow() {
    *FAlive = false;
    LiveWindows().erase(this);
    DisconnectDriver();
}

bool TCaptureWindow::ConnectDriver(int index) {
    DisconnectDriver();
    if (index < 0 || index >= MAXVIDEODRIVERS) {
        return false;
    }
    std::unique_ptr<TVideoDriver> driver = DriverCatalog().Open(index);
    if (!driver) {
        return false;
    }
    driver->SetFrameNotifier([this] {
        // Streaming thread: only a queued call reaches the window.
        if (FOverlay && !FOverlayPending.exchange(true)) {
            QMetaObject::invokeMethod(this, &TCaptureWindow::FrameArrived, Qt::QueuedConnection);
        }
    });
    if (!driver->Start()) {
        return false;
    }
    FDriver = std::move(driver);
    FDriverIndex = index;
    FSetup = CAPTUREPARMS{};
    FSetup.dwRequestMicroSecPerFrame = 66667;
    FSetup.wPercentDropForError = 10;
    FSetup.fYield = 0;
    FSetup.wNumVideoRequested = 32;
    FSetup.vKeyAbort = VK_ESCAPE;
    FSetup.fAbortLeftMouse = 1;
    FSetup.fAbortRightMouse = 1;
    FSetup.wTimeLimit = 30;
    FLastGrabbed = 0;
    FLastShown = 0;
    FGrabbed = QImage();
    FHasDisplayFrame = false;
    FStatusTimer->start();
    Report(IDS_CAP_STAT_DRIVER_CONNECTED,
           QStringLiteral("Connected to %1")
               .arg(QString::fromStdString(DriverCatalog().Describe(index).Name)));
    return true;
}

void TCaptureWindow::DisconnectDriver() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
    FStatusTimer->stop();
    FPreviewTimer->stop();
    FPreview = false;
    FOverlay = false;
    FFrozen = false;
    FGrabbed = QImage();
    FHasDisplayFrame = false;
    FDriver.reset();
    FDriverIndex = -1;
    update();
}

bool TCaptureWindow::GrabFrame() {
    if (!FDriver || !FDriver->WaitForFrameAfter(FLastGrabbed, GrabTimeout)) {
        FGrabbed = QImage();
        return false;
    }
    QImage grabbed;
    const std::uint64_t number =
        FDriver->WithNewestFrame([&grabbed](const QImage& view) { grabbed = view.copy(); });
    if (number == 0 || grabbed.isNull()) {
        FGrabbed = QImage();
        return false;
    }
    FLastGrabbed = number;
    FGrabbed = std::move(grabbed);
    FFrozen = true;
    update();
    return true;
}

// The clipboard gets our own deep copy; it keeps a reference to it.
bool TCaptureWindow::EditCopy() {
    if (FGrabbed.isNull()) {
        if (FDriver) {
            // A failed grab must not leave an older frame for the reader.
            QGuiApplication::clipboard()->clear();
        }
        return false;
    }
    QGuiApplication::clipboard()->setImage(FGrabbed);
    return true;
}

void TCaptureWindow::SetDisplay(bool preview, bool overlay) {
    FPreview = preview;
    FOverlay = overlay;
    FFrozen = false;
    FOverlayPending = false;
    if (FPreview && !FOverlay) {
        FPreviewTimer->start(FPreviewRate);
    } else {
        FPreviewTimer->stop();
    }
    if (FPreview || FOverlay) {
        ShowNewestFrame();
    }
}

void TCaptureWindow::FrameArrived() {
    FOverlayPending = false;
    if (FOverlay && !FFrozen) {
        ShowNewestFrame();
    }
}

void TCaptureWindow::ShowNewestFrame() {
    if (!FDriver || FFrozen || !(FPreview || FOverlay)) {
        return;
    }
    const std::uint64_t number = FDriver->NewestFrameNumber();
    if (number == 0 || number == FLastShown) {
        return;
    }
    FLastShown = number;
    ++FDisplayedFrames;
    FHasDisplayFrame = true;
    update();
}

void TCaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const auto draw = [&](const QImage& image) {
        if (!FScale) {
            painter.drawImage(QPoint(0, 0), image);
            return;
        }
        QSize size = image.size();
        size.scale(this->size(), FKeepAspect ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio);
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                           size);
        painter.drawImage(target, image);
    };
    if (FFrozen && !FGrabbed.isNull()) {
        draw(FGrabbed);
    } else if (FDriver && FHasDisplayFrame) {
        FDriver->WithNewestFrame(draw);
    }
}

void TCaptureWindow::Report(int id, const QString& text) {
    if (FStatusCallback) {
        const QByteArray local = text.toLocal8Bit();
        FStatusCallback(this, id, local.constData());
    }
}

void TCaptureWindow::PollStatus() {
    if (!FDriver) {
        return;
    }
    const TBusyScope busy(FBusy);
    const std::shared_ptr<bool> alive = FAlive;
    for (const TDriverStatus& status : FDriver->TakeStatus()) {
        Report(status.Id, status.Text);
        if (!*alive || !FDriver) {
            return;
        }
    }
    if (FDriver->Recording()) {
        const std::uint64_t frames = FDriver->RecordedFrames();
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - FSequenceStart)
                                 .count();
        Report(IDS_CAP_STAT_VIDEOCURRENT, QStringLiteral("%1 frames (0 dropped) %2.%3 sec.")
                                              .arg(frames)
                                              .arg(elapsed / 1000)
                                              .arg(elapsed % 1000, 3, 10, QLatin1Char('0')));
    }
}

bool TCaptureWindow::StartSequence() {
    if (!FDriver || FDriver->Recording() || FCaptureFile.empty()) {
        return false;
    }
    const int rate = FSetup.dwRequestMicroSecPerFrame > 0
                         ? static_cast<int>((1000000 + FSetup.dwRequestMicroSecPerFrame / 2) /
                                            FSetup.dwRequestMicroSecPerFrame)
                         : 15;
    if (!FDriver->StartRecording(FCaptureFile, rate)) {
        return false;
    }
    FSequenceStart = std::chrono::steady_clock::now();
    qApp->installEventFilter(this);
    Report(IDS_CAP_STAT_CAP_INIT,
           QStringLiteral("Capturing to %1").arg(QString::fromLocal8Bit(FCaptureFile.c_str())));
    return true;
}

void TCaptureWindow::StopSequence(bool aborted) {
    qApp->removeEventFilter(this);
    if (!FDriver || !FDriver->Recording()) {
        return;
    }
    FDriver->StopRecording();
    Report(IDS_CAP_STAT_CAP_FINI, QStringLiteral("%1 frames captured%2")
                                      .arg(FDriver ? FDriver->RecordedFrames() : 0)
                                      .arg(aborted ? QStringLiteral(" (aborted)") : QString()));
}

// The Qt key of a virtual-key code: Escape, space, digits and letters.
static int QtKeyOf(UINT virtualKey) {
    if (virtualKey == VK_ESCAPE) {
        return Qt::Key_Escape;
    }
    if (virtualKey == ' ' || (virtualKey >= '0' && virtualKey <= '9') ||
        (virtualKey >= 'A' && virtualKey <= 'Z')) {
        return static_cast<int>(virtualKey);
    }
    return 0;
}

bool TCaptureWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!FDriver || !FDriver->Recording()) {
        return QWidget::eventFilter(watched, event);
    }
    bool abort = false;
    if (event->type() == QEvent::KeyPress) {
        const int key = QtKeyOf(FSetup.vKeyAbort);
        abort = key != 0 && static_cast<QKeyEvent*>(event)->key() == key;
    } else if (event->type() == QEvent::MouseButtonPress) {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        abort = (button == Qt::LeftButton && FSetup.fAbortLeftMouse) ||
                (button == Qt::RightButton && FSetup.fAbortRightMouse);
    }
    if (abort) {
        StopSequence(true);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool TCaptureWindow::FormatDialog() {
    if (!FDriver) {
        return false;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("VideoFormatDialog"));
    dialog.setWindowTitle(QStringLiteral("Video Format"));
    auto* layout = new QFormLayout(&dialog);
    auto* box = new QComboBox(&dialog);
    box->setObjectName(QStringLiteral("FormatBox"));
    const std::vector<TVideoFormat> formats = FDriver->Formats();
    const TVideoFormat current = FDriver->CurrentFormat();
    for (const TVideoFormat& format : formats) {
        box->addItem(format.Text());
        if (format.Caps == current.Caps) {
            box->setCurrentIndex(box->count() - 1);
        }
    }
    layout->addRow(QStringLiteral("Size and rate"), box);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addRow(buttons);
    const std::shared_ptr<bool> alive = FAlive;
    const int chosen = dialog.exec() == QDialog::Accepted ? box->currentIndex() : -1;
    if (!*alive || !FDriver) {
        return false;
    }
    if (chosen >= 0 && chosen < static_cast<int>(formats.size()) &&
        formats[chosen].Caps != current.Caps) {
        FDriver->SetFormat(formats[chosen]);
        FLastShown = 0;
        PollStatus();
    }
    return true;
}

bool TCaptureWindow::SourceDialog() {
    if (!FDriver) {
        return false;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("VideoSourceDialog"));
    dialog.setWindowTitle(QStringLiteral("Video Source"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* controls = new QFormLayout;
    layout->addLayout(controls);
    FDriver->AddSourceControls(&dialog, controls);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    const std::shared_ptr<bool> alive = FAlive;
    dialog.exec();
    return *alive;
}

bool TCaptureWindow::DisplayDialog() {
    if (!FDriver) {
        return false;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("VideoDisplayDialog"));
    dialog.setWindowTitle(QStringLiteral("Video Display"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* scale = new QCheckBox(QStringLiteral("Scale the picture to the window"), &dialog);
    scale->setObjectName(QStringLiteral("ScaleCheck"));
    scale->setChecked(FScale);
    auto* aspect = new QCheckBox(QStringLiteral("Keep the aspect ratio"), &dialog);
    aspect->setObjectName(QStringLiteral("AspectCheck"));
    aspect->setChecked(FKeepAspect);
    layout->addWidget(scale);
    layout->addWidget(aspect);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    const std::shared_ptr<bool> alive = FAlive;
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (!*alive) {
        return false;
    }
    if (accepted) {
        FScale = scale->isChecked();
        FKeepAspect = aspect->isChecked();
        update();
    }
    return true;
}

LRESULT TCaptureWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const TBusyScope busy(FBusy);
    const bool on = (wParam & 0xFFFF) != 0;
    switch (message) {
    case WM_CAP_SET_CALLBACK_STATUSA:
        FStatusCallback = reinterpret_cast<CAPSTATUSCALLBACK>(lParam);
        return 1;
    case WM_CAP_DRIVER_CONNECT:
        return ConnectDriver(static_cast<int>(wParam & 0xFFFF));
    case WM_CAP_DRIVER_DISCONNECT:
        if (!FDriver) {
            return 0;
        }
        DisconnectDriver();
        return 1;
    case WM_CAP_FILE_SET_CAPTURE_FILEA: {
        const char* name = reinterpret_cast<const char*>(lParam);
        if (!name || !*name) {
            return 0;
        }
        FCaptureFile = name;
        return 1;
    }
    case WM_CAP_EDIT_COPY:
        return EditCopy();
    case WM_CAP_DLG_VIDEOFORMAT:
        return FormatDialog();
    case WM_CAP_DLG_VIDEOSOURCE:
        return SourceDialog();
    case WM_CAP_DLG_VIDEODISPLAY:
        return DisplayDialog();
    case WM_CAP_SET_PREVIEW:
        if (!FDriver) {
            return 0;
        }
        SetDisplay(on, on ? false : FOverlay.load());
        return 1;
    case WM_CAP_SET_OVERLAY:
        if (!FDriver) {
            return 0;
        }
        SetDisplay(on ? false : FPreview, on);
        return 1;
    case WM_CAP_SET_PREVIEWRATE:
        FPreviewRate = std::max<int>(1, static_cast<int>(wParam & 0xFFFF));
        if (FPreviewTimer->isActive()) {
            FPreviewTimer->start(FPreviewRate);
        }
        return FDriver != nullptr;
    case WM_CAP_SET_SCALE:
        FScale = on;
        update();
        return FDriver != nullptr;
    case WM_CAP_GRAB_FRAME:
        return GrabFrame();
    case WM_CAP_SEQUENCE:
        return StartSequence();
    case WM_CAP_STOP:
        StopSequence(false);
        return FDriver != nullptr;
    case WM_CAP_ABORT:
        StopSequence(true);
        return FDriver != nullptr;
    case WM_CAP_GET_SEQUENCE_SETUP: {
        auto* setup = reinterpret_cast<CAPTUREPARMS*>(lParam);
        const std::size_t size = wParam & 0xFFFF;
        if (!FDriver || !FDriver->SupportsSequenceSetup() || !setup || size == 0) {
            return 0;
        }
        std::memcpy(setup, &FSetup, std::min(size, sizeof FSetup));
        return 1;
    }
    case WM_CAP_SET_SEQUENCE_SETUP: {
        const auto* setup = reinterpret_cast<const CAPTUREPARMS*>(lParam);
        const std::size_t size = wParam & 0xFFFF;
        if (!FDriver || !FDriver->SupportsSequenceSetup() || !setup || size == 0) {
            return 0;
        }
        std::memcpy(&FSetup, setup, std::min(size, sizeof FSetup));
        return 1;
    }
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Entry points

HWND capCreateCaptureWindowA(const char* windowName, DWORD style, int x, int y, int width,
                             int height, HWND parent, int id) {
    if (!parent || !(style & WS_CHILD)) {
        return nullptr;
    }
    DriverCatalog().Refresh();
    auto* window = new TCaptureWindow(QString::fromLocal8Bit(windowName ? windowName : ""), parent);
    window->setProperty("controlId", id);
    window->setGeometry(x, y, width, height);
    window->setVisible((style & WS_VISIBLE) != 0);
    return window;
}

bool IsCaptureWindow(HWND window) {
    return window && AsCaptureWindow(window) != nullptr;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TCaptureWindow* capture = window ? AsCaptureWindow(window) : nullptr;
    return capture ? capture->Dispatch(message, wParam, lParam) : 0;
}

BOOL DestroyWindow(HWND window) {
    TCaptureWindow* capture = window ? AsCaptureWindow(window) : nullptr;
    if (!capture) {
        return 0;
    }
    capture->Dispatch(WM_CAP_SET_CALLBACK_STATUSA, 0, 0);
    capture->Dispatch(WM_CAP_DRIVER_DISCONNECT, 0, 0);
    LiveWindows().erase(capture);
    capture->hide();
    if (capture->Busy()) {
        // Destroyed from inside one of its own requests: freed once that returns.
        capture->deleteLater();
    } else {
        std::unique_ptr<TCaptureWindow> doomed(capture);
    }
    return 1;
}

BOOL capGetDriverDescriptionA(UINT index, char* name, int nameSize, char* version,
                              int versionSize) {
    TDriverCatalog& catalog = DriverCatalog();
    if (auto* system = dynamic_cast<TSystemCatalog*>(&catalog); system && !system->Read()) {
        system->Refresh();
    }
    if (static_cast<int>(index) >= std::min(catalog.Count(), MAXVIDEODRIVERS)) {
        return 0;
    }
    const TDriverDescription description = catalog.Describe(static_cast<int>(index));
    CopyText(description.Name, name, nameSize);
    CopyText(description.Version, version, versionSize);
    return 1;
}

BOOL capSetCallbackOnStatus(HWND window, CAPSTATUSCALLBACK callback) {
    return SendMessage(window, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(callback));
}
BOOL capDriverConnect(HWND window, int index) {
    return SendMessage(window, WM_CAP_DRIVER_CONNECT, static_cast<std::uint16_t>(index), 0);
}
BOOL capDriverDisconnect(HWND window) {
    return SendMessage(window, WM_CAP_DRIVER_DISCONNECT, 0, 0);
}
BOOL capFileSetCaptureFile(HWND window, const char* fileName) {
    return SendMessage(window, WM_CAP_FILE_SET_CAPTURE_FILEA, 0,
                       reinterpret_cast<LPARAM>(fileName));
}
BOOL capEditCopy(HWND window) {
    return SendMessage(window, WM_CAP_EDIT_COPY, 0, 0);
}
BOOL capDlgVideoFormat(HWND window) {
    return SendMessage(window, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
}
BOOL capDlgVideoSource(HWND window) {
    return SendMessage(window, WM_CAP_DLG_VIDEOSOURCE, 0, 0);
}
BOOL capDlgVideoDisplay(HWND window) {
    return SendMessage(window, WM_CAP_DLG_VIDEODISPLAY, 0, 0);
}
BOOL capPreview(HWND window, bool on) {
    return SendMessage(window, WM_CAP_SET_PREVIEW, on, 0);
}
BOOL capOverlay(HWND window, bool on) {
    return SendMessage(window, WM_CAP_SET_OVERLAY, on, 0);
}
BOOL capPreviewRate(HWND window, unsigned milliseconds) {
    return SendMessage(window, WM_CAP_SET_PREVIEWRATE, static_cast<std::uint16_t>(milliseconds), 0);
}
BOOL capPreviewScale(HWND window, bool on) {
    return SendMessage(window, WM_CAP_SET_SCALE, on, 0);
}
BOOL capGrabFrame(HWND window) {
    return SendMessage(window, WM_CAP_GRAB_FRAME, 0, 0);
}
BOOL capCaptureSequence(HWND window) {
    return SendMessage(window, WM_CAP_SEQUENCE, 0, 0);
}
BOOL capCaptureStop(HWND window) {
    return SendMessage(window, WM_CAP_STOP, 0, 0);
}
BOOL capCaptureAbort(HWND window) {
    return SendMessage(window, WM_CAP_ABORT, 0, 0);
}
BOOL capCaptureGetSetup(HWND window, CAPTUREPARMS* setup, unsigned size) {
    return SendMessage(window, WM_CAP_GET_SEQUENCE_SETUP, static_cast<std::uint16_t>(size),
                       reinterpret_cast<LPARAM>(setup));
}
BOOL capCaptureSetSetup(HWND window, const CAPTUREPARMS* setup, unsigned size) {
    return SendMessage(window, WM_CAP_SET_SEQUENCE_SETUP, static_cast<std::uint16_t>(size),
                       reinterpret_cast<LPARAM>(setup));
}
