#include "chart/TChart.h"

#include "chart/TAreaSeries.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <array>
#include <qdrawutil.h>

namespace {

QColor ToQColor(TColor color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

constexpr int Padding = 4;
constexpr int LabelGap = 2;
const QColor GridColor(0xD8, 0xD8, 0xD8);

} // namespace

TChart::TChart(QWidget* parent) : QFrame(parent), FSeries1(new TAreaSeries(this)) {
    FSeries1->setObjectName("Series1");
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(BevelWidth);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
}

int TChart::AxisLabelWidth() const {
    if (FAxisLabelWidth < 0) {
        FAxisLabelWidth = fontMetrics().horizontalAdvance(QString::number(LeftAxisMaximum));
    }
    return FAxisLabelWidth;
}

QRect TChart::PlotRect() const {
    const QRect inner = contentsRect();
    const int halfLabel = fontMetrics().height() / 2;
    const int left = inner.left() + Padding + AxisLabelWidth() + LabelGap + TickLength;
    return QRect(QPoint(left, inner.top() + halfLabel + Padding),
                 QPoint(inner.right() - Padding, inner.bottom() - halfLabel - Padding));
}

double TChart::MapY(double y, const QRect& plot) const {
    const double fraction = (y - LeftAxisMinimum) / (LeftAxisMaximum - LeftAxisMinimum);
    return plot.bottom() + 1 - fraction * plot.height();
}

QPointF TChart::PointPosition(int i) const {
    return PointPosition(i, PlotRect());
}

QPointF TChart::PointPosition(int i, const QRect& plot) const {
    const int count = FSeries1->Count();
    const double first = FSeries1->XValue(0);
    const double last = FSeries1->XValue(count - 1);
    const double span = last > first ? last - first : 1.0;
    const double x = plot.left() + (FSeries1->XValue(i) - first) * plot.width() / span;
    return {x, MapY(FSeries1->YValue(i), plot)};
}

// The smallest label step whose labels do not crowd each other.
int TChart::LabelStep(int plotHeight) const {
    constexpr std::array<int, 6> steps = {5, 10, 20, 25, 50, 100};
    const int needed = fontMetrics().height() + 2;
    for (int step : steps) {
        if (plotHeight * step / (LeftAxisMaximum - LeftAxisMinimum) >= needed) {
            return step;
        }
    }
    return steps.back();
}

void TChart::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, Background());
    const QRect plot = PlotRect();
    if (plot.width() <= 0 || plot.height() <= 0) {
        return;
    }
    DrawSeries(painter, plot, event->rect().left(), event->rect().right());
}

void TChart::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    FBackground = QPixmap();
}

void TChart::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        FAxisLabelWidth = -1;
        FBackground = QPixmap();
        break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::StyleChange:
        FBackground = QPixmap();
        break;
    default:
        break;
    }
}

const QPixmap& TChart::Background() {
    const qreal ratio = devicePixelRatioF();
    if (FBackground.isNull() || FBackground.devicePixelRatio() != ratio) {
        FBackground = QPixmap(size() * ratio);
        FBackground.setDevicePixelRatio(ratio);
        FBackground.fill(palette().color(QPalette::Window));
        QPainter painter(&FBackground);
        painter.setFont(font());
        DrawBevel(painter);
        const QRect plot = PlotRect();
        if (plot.width() > 0 && plot.height() > 0) {
            DrawLeftAxis(painter, plot);
        }
    }
    return FBackground;
}

void TChart::RepaintChangedPoints() {
    const int count = FSeries1->Count();
    if (static_cast<int>(FScheduled.size()) != count) {
        FScheduled.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            FScheduled[static_cast<std::size_t>(i)] = {FSeries1->YValue(i),
                                                       FSeries1->PointColor(i)};
        }
        update();
        return;
    }
    int first = count;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        TShownPoint& shown = FScheduled[static_cast<std::size_t>(i)];
        const TShownPoint now{FSeries1->YValue(i), FSeries1->PointColor(i)};
        if (now.Y != shown.Y || now.Color != shown.Color) {
            shown = now;
            first = std::min(first, i);
            last = i;
        }
    }
    if (last < 0) {
        return;
    }
    // A point's value shapes the stretches on both its sides, its colour the
    // one on its left; a pixel more on each side covers the rounding.
    const QRect plot = PlotRect();
    const int left = static_cast<int>(PointPosition(std::max(first - 1, 0), plot).x()) - 2;
    const int right = static_cast<int>(PointPosition(std::min(last + 1, count - 1), plot).x()) + 2;
    update(QRect(QPoint(left, plot.top() - 1), QPoint(right, plot.bottom() + 2)));
}

// A raised bevel in the application's own light and dark shades, which stay
// visible around the white panel.
void TChart::DrawBevel(QPainter& painter) const {
    qDrawShadePanel(&painter, rect(), QApplication::palette(), false, BevelWidth);
}

void TChart::DrawLeftAxis(QPainter& painter, const QRect& plot) const {
    const int step = LabelStep(plot.height());
    const int labelRight = plot.left() - TickLength - LabelGap;
    const int textHeight = fontMetrics().height();
    const int labelWidth = AxisLabelWidth();
    for (int value = static_cast<int>(LeftAxisMinimum); value <= LeftAxisMaximum; value += step) {
        const int y = static_cast<int>(MapY(value, plot));
        painter.setPen(QPen(GridColor, 1, Qt::DotLine));
        painter.drawLine(plot.left() + 1, y, plot.right(), y);
        painter.setPen(Qt::black);
        painter.drawLine(plot.left() - TickLength, y, plot.left() - 1, y);
        const QRect labelBox(labelRight - labelWidth, y - textHeight / 2, labelWidth, textHeight);
        painter.drawText(labelBox, Qt::AlignRight | Qt::AlignVCenter, QString::number(value));
    }
    painter.setPen(Qt::black);
    painter.drawLine(plot.left(), plot.top(), plot.left(), plot.bottom() + 1);
}

// Each stretch between two neighbouring points is filled down to the axis
// minimum in the colour of its right-hand point; a thin line runs on top.
// Only the stretches that reach into the columns left to right are drawn, and
// the line from one point beyond them on each side, so that within those
// columns the picture is the same as when everything is drawn.
void TChart::DrawSeries(QPainter& painter, const QRect& plot, int left, int right) const {
    const int count = FSeries1->Count();
    if (count < 2) {
        return;
    }
    painter.save();
    painter.setClipRect(plot.adjusted(1, 0, 0, 1));
    const double base = MapY(LeftAxisMinimum, plot);
    QPolygonF line;
    line.reserve(count);
    QPointF previous = PointPosition(0, plot);
    painter.setPen(Qt::NoPen);
    int lineFirst = -1;
    int lineLast = -1;
    for (int i = 1; i < count; ++i) {
        const QPointF current = PointPosition(i, plot);
        if (current.x() >= left - 1 && previous.x() <= right + 1) {
            painter.setBrush(ToQColor(FSeries1->PointColor(i)));
            const std::array<QPointF, 4> stretch = {previous, current, QPointF(current.x(), base),
                                                    QPointF(previous.x(), base)};
            painter.drawPolygon(stretch.data(), static_cast<int>(stretch.size()));
            lineFirst = lineFirst < 0 ? std::max(i - 2, 0) : lineFirst;
            lineLast = std::min(i + 1, count - 1);
        }
        previous = current;
    }
    for (int i = std::max(lineFirst, 0); i <= lineLast; ++i) {
        line << PointPosition(i, plot);
    }
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);
    painter.restore();
}
