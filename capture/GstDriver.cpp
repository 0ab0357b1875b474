#include "capture/GstDriver.h"

#include "capture/FrameTap.h"
#include "capture/PlatformTypes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSize>
#include <QSlider>

#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <algorithm>
#include <utility>

namespace {

QString ErrorText(GstMessage* message, bool& resourceError) {
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &rawError, &rawDebug);
    const TErrorPtr error(rawError);
    const TGStringPtr debug(rawDebug);
    resourceError = error && error->domain == GST_RESOURCE_ERROR;
    return QString::fromUtf8(error ? error->message : "Unknown stream error");
}

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
    const TCapsPtr caps(gst_device_get_caps(device));
    if (!caps) {
        return formats;
    }
    for (guint i = 0; i < gst_caps_get_size(caps.get()); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps.get(), i);
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
            const bool known = std::any_of(formats.begin(), formats.end(), [&](const auto& f) {
                return f.Width == width && f.Height == height && f.FramesPerSecond == rate;
            });
            if (!known) {
                formats.push_back({width, height, rate, text});
            }
        }
    }
    return formats;
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
        // The slider keeps the channel alive for as long as it exists.
        auto owned = std::make_shared<TGstPtr<GstColorBalanceChannel>>(
            GST_COLOR_BALANCE_CHANNEL(gst_object_ref(channel)));
        QObject::connect(slider, &QSlider::valueChanged, dialog, [balance, owned](int value) {
            gst_color_balance_set_value(balance, owned->get(), value);
        });
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
    auto owned = std::make_shared<TGstPtr<GstElement>>(GST_ELEMENT(gst_object_ref(source)));
    QObject::connect(box, &QComboBox::currentIndexChanged, dialog, [box, owned](int) {
        g_object_set(owned->get(), "pattern", box->currentData().toInt(), nullptr);
    });
    layout->addRow(QStringLiteral("Pattern"), box);
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

QString TGstDriver::Description() const {
    const QString tail = QStringLiteral(
        " ! videoconvert ! videoscale ! videorate ! capsfilter name=format ! appsink name=sink");
    switch (FSource.Kind) {
    case TSourceKind::File: {
        GError* rawError = nullptr;
        const QString uri = TakeGString(gst_filename_to_uri(FSource.Location.c_str(), &rawError));
        const TErrorPtr error(rawError);
        return QStringLiteral("uridecodebin name=src uri=\"%1\"").arg(uri) + tail;
    }
    case TSourceKind::Url:
        return QStringLiteral("uridecodebin name=src uri=\"%1\"")
                   .arg(QString::fromStdString(FSource.Location)) +
               tail;
    case TSourceKind::TestScene:
    case TSourceKind::Launch:
        return QString::fromStdString(FSource.Location) + tail;
    case TSourceKind::Camera:
        break;
    }
    // decodebin3: behind a PipeWire camera, decodebin negotiates but never gets a frame.
    return QStringLiteral("capsfilter name=format ! decodebin3 ! videoconvert ! appsink name=sink");
}

bool TGstDriver::Build() {
    GError* rawError = nullptr;
    const QByteArray description = Description().toUtf8();
    if (FSource.Kind == TSourceKind::Camera) {
        FPipeline.reset(gst_pipeline_new("camera"));
        TGstPtr<GstElement> camera(gst_device_create_element(FSource.Device.get(), "src"));
        TGstPtr<GstElement> tail(
            gst_parse_bin_from_description(description.constData(), TRUE, &rawError));
        if (camera && tail) {
            // The bin takes over the floating references.
            GstElement* source = camera.release();
            GstElement* rest = tail.release();
            gst_bin_add_many(GST_BIN(FPipeline.get()), source, rest, nullptr);
            gst_element_link(source, rest);
        }
    } else {
        FPipeline.reset(gst_parse_launch(description.constData(), &rawError));
    }
    const TErrorPtr error(rawError);
    if (error || !FPipeline) {
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
        const TCapsPtr caps = CapsFromText(FFormat.Caps);
        g_object_set(FFormatFilter.get(), "caps", caps.get(), nullptr);
    }
    const TCapsPtr bgr = CapsFromText(QStringLiteral("video/x-raw,format=BGR"));
    const bool live = FSource.Kind == TSourceKind::TestScene || FSource.Kind == TSourceKind::Camera;
    g_object_set(FSink.get(), "caps", bgr.get(), "max-buffers", 2u, "drop", TRUE, "sync", !live,
                 "emit-signals", FALSE, nullptr);
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
    FNewestBuffer.reset();
    FNewestCaps.reset();
}

void TGstDriver::SetFrameTap(TFrameTap* tap) {
    std::lock_guard lock(FTapMutex);
    FTap = tap;
}

GstFlowReturn TGstDriver::NewSample(GstAppSink* sink, gpointer self) {
    static_cast<TGstDriver*>(self)->OnSample(sink);
    return GST_FLOW_OK;
}

// Runs on a streaming thread: swaps the newest sample and tells the window.
void TGstDriver::OnSample(GstAppSink* sink) {
    const TSamplePtr sample(gst_app_sink_pull_sample(sink));
    if (!sample) {
        return;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    GstCaps* caps = gst_sample_get_caps(sample.get());
    if (!buffer || !caps) {
        return;
    }
    {
        std::lock_guard lock(FTapMutex);
        if (FTap) {
            FTap->OnSourceFrame(sample.get());
        }
    }
    {
        std::lock_guard lock(FRecorderMutex);
        if (FRecorder) {
            FRecorder->Offer(buffer, caps);
        }
    }
    TBufferPtr newBuffer(gst_buffer_ref(buffer));
    TCapsPtr newCaps(gst_caps_ref(caps));
    {
        std::lock_guard lock(FMutex);
        std::swap(FNewestBuffer, newBuffer);
        std::swap(FNewestCaps, newCaps);
        ++FNumber;
    }
    FFrameArrived.notify_all();
    // The frames replaced are released here, outside the lock.
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
    TBufferPtr buffer;
    TCapsPtr caps;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(FMutex);
        if (!FNewestBuffer) {
            return 0;
        }
        buffer.reset(gst_buffer_ref(FNewestBuffer.get()));
        caps.reset(gst_caps_ref(FNewestCaps.get()));
        number = FNumber.load();
    }
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, caps.get()) &&
        GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGR &&
        gst_video_frame_map(&frame, &info, buffer.get(), GST_MAP_READ)) {
        const QImage view(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                          GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                          GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_BGR888);
        use(view);
        gst_video_frame_unmap(&frame);
    } else {
        number = 0;
    }
    return number;
}

void TGstDriver::PollBus() {
    if (!FPipeline) {
        return;
    }
    TGstPtr<GstBus> bus(gst_element_get_bus(FPipeline.get()));
    while (const TMessagePtr message{gst_bus_pop(bus.get())}) {
        switch (GST_MESSAGE_TYPE(message.get())) {
        case GST_MESSAGE_ERROR: {
            bool resourceError = false;
            const QString text = ErrorText(message.get(), resourceError);
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
        if (gst_video_info_from_caps(&info, FNewestCaps.get())) {
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
        FNewestBuffer.reset();
        FNewestCaps.reset();
    }
    const TCapsPtr caps =
        format.Caps.isEmpty() ? TCapsPtr(gst_caps_new_any()) : CapsFromText(format.Caps);
    if (!caps) {
        return false;
    }
    g_object_set(FFormatFilter.get(), "caps", caps.get(), nullptr);
    FFormat = format;
    FFailed = false;
    const bool ok =
        gst_element_set_state(FPipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    FStatus.push_back(
        {IDS_CAP_STAT_FORMAT_CHANGED, QStringLiteral("Video format: %1").arg(format.Text())});
    return ok;
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

bool TGstDriver::StartRecording(const std::string& fileName, int framesPerSecond) {
    if (!FPipeline || FRecorder) {
        return false;
    }
    FRecordingError.clear();
    std::unique_ptr<TRecorder> recorder =
        TRecorder::Start(fileName, framesPerSecond, FRecordingError);
    if (!recorder) {
        return false;
    }
    std::lock_guard lock(FRecorderMutex);
    FRecorder = std::move(recorder);
    FLastRecorded = 0;
    FLastDropped = 0;
    return true;
}

void TGstDriver::StopRecording() {
    std::unique_ptr<TRecorder> recorder;
    {
        std::lock_guard lock(FRecorderMutex);
        recorder = std::move(FRecorder);
    }
    if (recorder) {
        // Finishes the file outside the lock: the streaming thread goes on meanwhile.
        recorder->Finish();
        FLastRecorded = recorder->Frames();
        FLastDropped = recorder->Dropped();
    }
}

std::uint64_t TGstDriver::RecordedFrames() const {
    return FRecorder ? FRecorder->Frames() : FLastRecorded;
}

void TGstDriver::RecordNewestFrame() {
    if (FRecorder) {
        FRecorder->AdmitNewest();
    }
}

std::uint64_t TGstDriver::DroppedFrames() const {
    return FRecorder ? FRecorder->Dropped() : FLastDropped;
}

std::string TGstDriver::RecordingError() {
    if (FRecorder) {
        FRecordingError = FRecorder->Error();
    }
    return FRecordingError;
}
