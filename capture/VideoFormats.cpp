#include "capture/VideoFormats.h"

#include <QList>
#include <QSize>

#include <algorithm>

namespace {

const QList<QSize> StandardSizes = {{160, 120}, {320, 240},  {640, 480},
                                    {800, 600}, {1280, 720}, {1920, 1080}};
const QList<int> StandardRates = {5, 10, 15, 25, 30};

void AddFormat(std::vector<TVideoFormat>& formats, int width, int height, int rate) {
    const bool known = std::any_of(formats.begin(), formats.end(), [&](const auto& f) {
        return f.Width == width && f.Height == height && f.FramesPerSecond == rate;
    });
    if (!known) {
        formats.push_back({width, height, rate, SizeCaps(width, height, rate)});
    }
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

// The sizes and rates a camera reports, delivered through the pipeline's own scaling.
void AddCameraFormats(GstDevice* device, std::vector<TVideoFormat>& formats) {
    const TCapsPtr caps(device ? gst_device_get_caps(device) : nullptr);
    for (guint i = 0; caps && i < gst_caps_get_size(caps.get()); ++i) {
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
            AddFormat(formats, width, height, rate);
        }
    }
}

} // namespace

QString SizeCaps(int width, int height, int rate) {
    QString caps = QStringLiteral("video/x-raw,width=%1,height=%2").arg(width).arg(height);
    if (rate > 0) {
        caps += QStringLiteral(",framerate=%1/1").arg(rate);
    }
    return caps;
}

std::vector<TVideoFormat> SourceFormats(const TSource& source) {
    std::vector<TVideoFormat> formats;
    if (source.Kind != TSourceKind::TestScene) {
        formats.push_back({0, 0, 0, QString()});
    }
    if (source.Kind == TSourceKind::Camera) {
        AddCameraFormats(source.Device.get(), formats);
    }
    for (const QSize& size : StandardSizes) {
        for (int rate : StandardRates) {
            AddFormat(formats, size.width(), size.height(), rate);
        }
    }
    return formats;
}
