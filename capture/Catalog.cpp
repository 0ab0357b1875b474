#include "capture/Catalog.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace {

// Orders cameras by device path, then name: the same camera keeps its index.
std::string DeviceKey(GstDevice* device) {
    std::string key;
    if (const TStructurePtr properties{gst_device_get_properties(device)}) {
        for (const char* field : {"device.path", "api.v4l2.path", "object.path"}) {
            if (const char* value = gst_structure_get_string(properties.get(), field)) {
                key = value;
                break;
            }
        }
    }
    return key + "\n" + TakeGString(gst_device_get_display_name(device)).toStdString();
}

// The machine's cameras are watched by one device monitor, started at the
// first refresh and kept running for the life of the program: PipeWire's device
// provider (0.3.65) corrupts the heap when it is stopped and started again in
// the same process, which a monitor per refresh does on the second "Start Video".
// A running monitor keeps its list current as cameras come and go.
// Started by whichever thread comes first (the preparation at program start or
// the first catalogue refresh); the other waits for it. Tried again at the next
// refresh when no provider could start.
std::atomic<bool> MonitorTried{false}; // a start of the monitor has ended, well or not

GstDeviceMonitor* CameraMonitor() {
    static std::mutex mutex;
    static GstDeviceMonitor* running = nullptr; // never stopped, never released
    const std::lock_guard lock(mutex);
    if (!running) {
        EnsureGStreamer();
        TGstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
        gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
        if (gst_device_monitor_start(monitor.get())) {
            running = monitor.release();
        }
        MonitorTried = true;
    }
    return running;
}

// The name under which the first camera is connected before the monitor has found it.
const char* const FirstCameraName = "First camera";

} // namespace

std::vector<TSource> MachineCameras() {
    std::vector<std::pair<std::string, TSource>> found;
    if (GstDeviceMonitor* monitor = CameraMonitor()) {
        GList* devices = gst_device_monitor_get_devices(monitor);
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
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TSource> cameras;
    for (auto& entry : found) {
        cameras.push_back(std::move(entry.second));
    }
    return cameras;
}

namespace {

std::unique_ptr<TDriverCatalog>& CatalogSlot() {
    static std::unique_ptr<TDriverCatalog> catalog;
    return catalog;
}

} // namespace

// A large dark ball crossing colour bars with a fine checker texture and a
// faint moving ring pattern that stands for sensor noise. The ball's layer is
// on top and its source is "src", so a pattern chosen in the source dialog
// fills the picture. The ball is drawn at three times the frame rate and
// thinned out, so it travels three times as far per frame. Every layer
// follows the frame count, so the scene is the same on every run. The layers
// are mixed at half size and scaled up once, which keeps the scene cheap; the
// background is drawn once and repeated. Everything stays in BGRA, so plain
// colours come out exactly.
void PrepareCatalogue() {
    static std::once_flag started;
    std::call_once(started, [] { std::thread([] { CameraMonitor(); }).detach(); });
}

QString TestSceneDescription(int width, int height, int fps) {
    const auto even = [](int value) { return std::max(2, value & ~1); };
    const int w = even(width / 2);
    const int h = even(height / 2);
    const QString size = QStringLiteral("format=BGRA,width=%1,height=%2").arg(w).arg(h);
    const QString rate = QStringLiteral("framerate=%1/1").arg(std::max(1, fps));
    return QStringLiteral(
               "compositor name=bg sink_1::alpha=0.25 ! video/x-raw,%1 ! "
               "imagefreeze is-live=true ! video/x-raw,%2 ! mix.sink_0 "
               "videotestsrc num-buffers=1 pattern=smpte75 ! video/x-raw,%1 ! bg.sink_0 "
               "videotestsrc num-buffers=1 pattern=checkers-4 ! video/x-raw,%1 ! bg.sink_1 "
               "videotestsrc name=src is-live=true pattern=ball motion=wavy animation-mode=frames "
               "background-color=0x00000000 foreground-color=0xff303030 ! "
               "video/x-raw,format=BGRA,width=%3,height=%4,%9 ! videorate ! video/x-raw,%2 ! "
               "videoscale ! video/x-raw,%1 ! mix.sink_2 "
               "videotestsrc is-live=true pattern=zone-plate kt=37 kx2=40 ky2=34 kxt=3 ! "
               "video/x-raw,format=BGRA,width=%5,height=%6,%2 ! videoscale ! video/x-raw,%1 ! "
               "mix.sink_1 "
               "compositor name=mix background=black sink_1::alpha=0.05 ! video/x-raw,%1,%2 ! "
               "videoscale ! video/x-raw,format=BGRA,width=%7,height=%8,%2")
        .arg(size, rate)
        .arg(even(width / 5))
        .arg(even(height / 5))
        .arg(even(width / 4))
        .arg(even(height / 4))
        .arg(width)
        .arg(height)
        .arg(QStringLiteral("framerate=%1/1").arg(3 * std::max(1, fps)));
}

namespace {

// A setting that names a file rather than a launch description: a path, or a name
// with a file extension, without the "!" that links elements.
bool LooksLikeFile(const QString& setting) {
    if (setting.contains(QLatin1Char('!'))) {
        return false;
    }
    if (QFileInfo(setting).isFile() || setting.contains(QLatin1Char('/')) ||
        setting.startsWith(QLatin1Char('~'))) {
        return true;
    }
    static const QRegularExpression extension(QStringLiteral("^[^ =]+\\.[A-Za-z0-9]{2,5}$"));
    return extension.match(setting).hasMatch();
}

} // namespace

TSource SourceFromSetting(const QString& setting) {
    TSource source;
    source.Location = setting.toStdString();
    if (setting == QLatin1String("test")) {
        source.Kind = TSourceKind::TestScene;
        source.Name = "Stirwatch test scene";
        source.Location = TestSceneDescription(640, 480, 30).toStdString();
    } else if (setting.startsWith(QLatin1String("rtsp://")) ||
               setting.startsWith(QLatin1String("http://")) ||
               setting.startsWith(QLatin1String("https://"))) {
        source.Kind = TSourceKind::Url;
        source.Name = "Network stream " + source.Location;
    } else if (setting.startsWith(QLatin1String("/dev/video"))) {
        // A camera named by its device: found or not, the device says so itself.
        source.Kind = TSourceKind::Launch;
        source.Name = "Camera " + source.Location;
        source.Location = "v4l2src device=" + source.Location;
    } else if (LooksLikeFile(setting)) {
        source.Kind = TSourceKind::File;
        source.Name = "Video file " + QFileInfo(setting).fileName().toStdString();
    } else {
        source.Kind = TSourceKind::Launch;
        source.Name = "GStreamer pipeline";
    }
    return source;
}

// The source of the setting needs nothing but the setting. The cameras are read
// when a driver past it is asked for: that waits for GStreamer and the camera
// monitor, which may still be starting on a busy machine, except for the first
// camera (see FirstCameraPending).
void TSystemCatalog::Refresh() {
    FSources.clear();
    const QString setting = qEnvironmentVariable("STIRWATCH_SOURCE");
    if (!setting.isEmpty()) {
        FSources.push_back(SourceFromSetting(setting));
    }
    FCamerasRead = false;
    FRead = true;
}

void TSystemCatalog::ReadCameras() const {
    if (FCamerasRead) {
        return;
    }
    for (TSource& camera : MachineCameras()) {
        FSources.push_back(std::move(camera));
    }
    FCamerasRead = true;
}

int TSystemCatalog::Count() const {
    ReadCameras();
    return static_cast<int>(FSources.size());
}

bool TSystemCatalog::Has(int index) const {
    if (index >= 0 && index < static_cast<int>(FSources.size())) {
        return true;
    }
    if (FirstCameraPending()) {
        return index == static_cast<int>(FSources.size());
    }
    return index >= 0 && index < Count();
}

// No source is set and the camera monitor is still making its first list: the
// first camera is connected without waiting for it, and found by its driver once
// the list is there. (A source that is set and fails still falls back to the
// cameras as they are listed.)
bool TSystemCatalog::FirstCameraPending() const {
    return FSources.empty() && !FCamerasRead && !MonitorTried;
}

void TSystemCatalog::EnsureRead() {
    if (!FRead) {
        Refresh();
    }
}

TDriverDescription TSystemCatalog::Describe(int index) const {
    if (!Has(index)) {
        throw std::out_of_range("no video source " + std::to_string(index));
    }
    if (index == static_cast<int>(FSources.size())) {
        return {FirstCameraName, GStreamerVersionText()};
    }
    return {FSources[index].Name, GStreamerVersionText()};
}

std::unique_ptr<TVideoDriver> TSystemCatalog::Open(int index) {
    if (!Has(index)) {
        return nullptr;
    }
    if (index == static_cast<int>(FSources.size())) {
        return std::make_unique<TGstDriver>(
            TSource{TSourceKind::Camera, FirstCameraName, {}, nullptr});
    }
    return std::make_unique<TGstDriver>(FSources[index]);
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
