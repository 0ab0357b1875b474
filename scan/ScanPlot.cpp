#include "scan/ScanPlot.h"
#include "scan/ScanProgress.h"

#include "scan/VideoDecoder.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace {

constexpr int PlotWidth = 1200;
constexpr int PlotHeight = 360;
constexpr int LeftMargin = 56;
constexpr int RightMargin = 20;
constexpr int TopMargin = 52;
constexpr int BottomMargin = 40;
constexpr double NsPerSecond = 1e9;

const QColor LineColour(0x1f, 0x4e, 0x9a);
const QColor EventColour(0xff, 0xc8, 0x80);
const QColor GridColour(0xe0, 0xe0, 0xe0);
const QColor TextColour(0x30, 0x30, 0x30);

std::mutex DrawingTurn;

// The smallest of 1, 2, 5 times a power of ten that splits `range` into at
// most `parts` parts.
double NiceStep(double range, int parts) {
    const double rough = std::max(range / parts, 1e-9);
    double power = 1;
    while (power * 10 <= rough) {
        power *= 10;
    }
    while (power > rough) {
        power /= 10;
    }
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (power * factor >= rough) {
            return power * factor;
        }
    }
    return power * 10;
}

QString TimeLabel(double seconds) {
    return QString::fromStdString(DurationText(seconds));
}

struct TFrame {
    QRect Area;
    double Seconds;
    int TopPercent;

    double X(double seconds) const { return Area.left() + seconds / Seconds * Area.width(); }
    double Y(double percent) const { return Area.bottom() - percent / TopPercent * Area.height(); }
};

int TopPercent(const std::vector<TStepRecord>& steps) {
    int peak = 0;
    for (const TStepRecord& step : steps) {
        peak = std::max(peak, step.Percent);
    }
    for (const int top : {5, 10, 20, 25, 50, 100}) {
        if (peak <= top) {
            return top;
        }
    }
    return 100;
}

void DrawAxes(QPainter& painter, const TFrame& frame) {
    painter.setPen(TextColour);
    const double yStep = NiceStep(frame.TopPercent, 5);
    for (double percent = 0; percent <= frame.TopPercent + 1e-9; percent += yStep) {
        const int y = int(std::lround(frame.Y(percent)));
        painter.setPen(GridColour);
        painter.drawLine(frame.Area.left(), y, frame.Area.right(), y);
        painter.setPen(TextColour);
        painter.drawText(QRect(0, y - 10, LeftMargin - 6, 20), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(percent) + "%");
    }
    const double xStep = NiceStep(frame.Seconds, 12);
    for (double second = 0; second <= frame.Seconds + 1e-9; second += xStep) {
        const int x = int(std::lround(frame.X(second)));
        painter.setPen(GridColour);
        painter.drawLine(x, frame.Area.top(), x, frame.Area.bottom());
        painter.setPen(TextColour);
        painter.drawText(QRect(x - 40, frame.Area.bottom() + 4, 80, 18), Qt::AlignCenter,
                         TimeLabel(second));
    }
    painter.drawRect(frame.Area);
}

// A line through the steps; where the steps are denser than the pixels, one
// vertical stroke per pixel column from its lowest to its highest percentage,
// so that hours of steps stay readable and no peak is lost.
void DrawPercentages(QPainter& painter, const TFrame& frame,
                     const std::vector<TStepRecord>& steps) {
    painter.setPen(QPen(LineColour, 1.5));
    QPolygonF line;
    int column = -1;
    double low = 0;
    double high = 0;
    const auto flush = [&] {
        if (column >= 0) {
            line << QPointF(column, frame.Y(low)) << QPointF(column, frame.Y(high));
        }
    };
    for (const TStepRecord& step : steps) {
        const int x = int(frame.X(double(step.TimeNs) / NsPerSecond));
        if (x != column) {
            flush();
            column = x;
            low = high = step.Percent;
        }
        low = std::min<double>(low, step.Percent);
        high = std::max<double>(high, step.Percent);
    }
    flush();
    painter.drawPolyline(line);
}

QImage Draw(const TPlotData& data) {
    QImage image(PlotWidth, PlotHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double end = std::max<double>(double(data.VideoEndNs) / NsPerSecond, 1.0);
    const TFrame frame{QRect(LeftMargin, TopMargin, PlotWidth - LeftMargin - RightMargin,
                             PlotHeight - TopMargin - BottomMargin),
                       end, TopPercent(data.Steps)};
    for (const TScanEvent& event : data.Events) {
        const double left = frame.X(double(event.StartNs) / NsPerSecond);
        const double right = frame.X(double(event.EndNs) / NsPerSecond);
        painter.fillRect(
            QRectF(left, frame.Area.top(), std::max(right - left, 2.0), frame.Area.height()),
            EventColour);
    }
    DrawAxes(painter, frame);
    DrawPercentages(painter, frame, data.Steps);
    painter.setPen(TextColour);
    QFont title = painter.font();
    title.setPixelSize(15);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(LeftMargin, 6, PlotWidth - LeftMargin, 20), Qt::AlignLeft,
                     QString::fromStdString(data.Title));
    QFont subtitle = painter.font();
    subtitle.setPixelSize(12);
    subtitle.setBold(false);
    painter.setFont(subtitle);
    painter.drawText(QRect(LeftMargin, 27, PlotWidth - LeftMargin, 18), Qt::AlignLeft,
                     QString::fromStdString(data.Subtitle));
    return image;
}

} // namespace

struct TPlotSupport::TState {
    int Argc = 1;
    char Name[16] = "stirwatch";
    char* Argv[2] = {Name, nullptr};
    std::unique_ptr<QGuiApplication> Application;
};

// The toolkit's notices (such as a missing runtime folder) mean nothing to a
// user of the scan and would break into its progress display.
void QuietToolkitMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

TPlotSupport::TPlotSupport() : State(std::make_unique<TState>()) {
    if (QCoreApplication::instance() == nullptr) {
        qInstallMessageHandler(QuietToolkitMessage);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        State->Application = std::make_unique<QGuiApplication>(State->Argc, State->Argv);
    }
}

TPlotSupport::~TPlotSupport() = default;

void WritePlot(const std::string& path, const TPlotData& data) {
    const std::lock_guard turn(DrawingTurn);
    const QImage image = Draw(data);
    const std::string partial = path + ".partial";
    if (!image.save(QString::fromStdString(partial), "PNG")) {
        std::remove(partial.c_str());
        throw EScanFileError("cannot write " + path);
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        throw EScanFileError("cannot write " + path);
    }
}
