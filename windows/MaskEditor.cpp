#include "windows/MaskEditor.h"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr double Reach = 7; // pixels from a point that still grab it

QPolygonF Outline(const TMaskPolygon& polygon, const auto& toWidget) {
    QPolygonF outline;
    for (const TMaskPoint& point : polygon) {
        outline << toWidget(point);
    }
    return outline;
}

} // namespace

TMaskEditor::TMaskEditor(QWidget* area, const QImage& still, const TDetectionMask& mask)
    : QWidget(area), FStill(still), FMask(mask) {
    setObjectName("MaskEditor");
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setGeometry(area->rect());
    area->installEventFilter(this);
    WatchOnlyCheck = new QCheckBox("Watch only these areas", this);
    WatchOnlyCheck->setObjectName("WatchOnlyCheck");
    WatchOnlyCheck->setStyleSheet("background: white; padding: 2px");
    WatchOnlyCheck->move(6, 6);
    WatchOnlyCheck->adjustSize();
    WatchOnlyCheck->setChecked(FMask.Mode == TMaskMode::WatchOnly);
    WatchOnlyCheck->setFocusPolicy(Qt::NoFocus);
    connect(WatchOnlyCheck, &QCheckBox::toggled, this, [this](bool watchOnly) {
        FMask.Mode = watchOnly ? TMaskMode::WatchOnly : TMaskMode::Ignore;
        update();
        emit Changed();
    });
    show();
    setFocus();
}

bool TMaskEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return QWidget::eventFilter(watched, event);
}

QPointF TMaskEditor::ToWidget(const TMaskPoint& point) const {
    return {point.X * width(), point.Y * height()};
}

TMaskPoint TMaskEditor::ToMask(QPointF position) const {
    const double x = std::clamp(position.x() / std::max(width(), 1), 0.0, 1.0);
    const double y = std::clamp(position.y() / std::max(height(), 1), 0.0, 1.0);
    // Three decimals: a thousandth of the frame is finer than any pixel grid
    // the mask is drawn at, and keeps the stored text short.
    return {std::round(x * 1000) / 1000, std::round(y * 1000) / 1000};
}

bool TMaskEditor::PointAt(QPointF position, int& polygon, int& point) const {
    for (int p = 0; p < static_cast<int>(FMask.Polygons.size()); ++p) {
        for (int i = 0; i < static_cast<int>(FMask.Polygons[p].size()); ++i) {
            const QPointF distance = ToWidget(FMask.Polygons[p][i]) - position;
            if (std::hypot(distance.x(), distance.y()) <= Reach) {
                polygon = p;
                point = i;
                return true;
            }
        }
    }
    return false;
}

int TMaskEditor::PolygonAt(QPointF position) const {
    const auto toWidget = [this](const TMaskPoint& point) { return ToWidget(point); };
    for (int p = static_cast<int>(FMask.Polygons.size()) - 1; p >= 0; --p) {
        if (Outline(FMask.Polygons[p], toWidget).containsPoint(position, Qt::OddEvenFill)) {
            return p;
        }
    }
    return -1;
}

void TMaskEditor::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (FStill.isNull()) {
        painter.fillRect(rect(), Qt::black);
    } else {
        painter.drawImage(rect(), FStill);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    const bool ignore = FMask.Mode == TMaskMode::Ignore;
    const QColor fill = ignore ? QColor(220, 40, 40, 90) : QColor(40, 200, 60, 90);
    const auto toWidget = [this](const TMaskPoint& point) { return ToWidget(point); };
    for (int p = 0; p < static_cast<int>(FMask.Polygons.size()); ++p) {
        const QPolygonF outline = Outline(FMask.Polygons[p], toWidget);
        painter.setBrush(fill);
        painter.setPen(QPen(p == FSelected ? Qt::yellow : fill.darker(150), 2));
        painter.drawPolygon(outline);
        painter.setBrush(Qt::white);
        painter.setPen(QPen(Qt::black, 1));
        for (const QPointF& corner : outline) {
            painter.drawRect(QRectF(corner - QPointF(3, 3), QSizeF(6, 6)));
        }
    }
    if (!FDrawing.empty()) {
        painter.setPen(QPen(Qt::yellow, 2, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(Outline(FDrawing, toWidget));
    }
}

void TMaskEditor::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPointF position = event->position();
    if (FDrawing.empty() && PointAt(position, FDragPolygon, FDragPoint)) {
        FSelected = FDragPolygon;
    } else if (const int hit = PolygonAt(position); FDrawing.empty() && hit >= 0) {
        FSelected = hit;
    } else {
        FSelected = -1;
        FDrawing.push_back(ToMask(position));
    }
    update();
}

void TMaskEditor::mouseMoveEvent(QMouseEvent* event) {
    if (FDragPolygon >= 0) {
        FMask.Polygons[FDragPolygon][FDragPoint] = ToMask(event->position());
        update();
    }
}

void TMaskEditor::mouseReleaseEvent(QMouseEvent*) {
    if (FDragPolygon >= 0) {
        FDragPolygon = -1;
        FDragPoint = -1;
        emit Changed();
    }
}

// The press before the double-click added its point already.
void TMaskEditor::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || FDrawing.size() < 3) {
        return;
    }
    FMask.Polygons.push_back(FDrawing);
    FDrawing.clear();
    FSelected = static_cast<int>(FMask.Polygons.size()) - 1;
    update();
    emit Changed();
}

void TMaskEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        FDrawing.clear();
    } else if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        if (!FDrawing.empty()) {
            FDrawing.clear();
        } else if (FSelected >= 0) {
            FMask.Polygons.erase(FMask.Polygons.begin() + FSelected);
            FSelected = -1;
            emit Changed();
        }
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    update();
}

QPainterPath UnwatchedArea(const TDetectionMask& mask) {
    QPainterPath polygons;
    polygons.setFillRule(Qt::WindingFill);
    for (const TMaskPolygon& polygon : mask.Polygons) {
        QPainterPath one;
        one.setFillRule(Qt::OddEvenFill);
        one.addPolygon(
            Outline(polygon, [](const TMaskPoint& point) { return QPointF(point.X, point.Y); }));
        one.closeSubpath();
        polygons = polygons.united(one);
    }
    if (mask.Empty() || mask.Mode == TMaskMode::Ignore) {
        return polygons;
    }
    QPainterPath frame;
    frame.addRect(0, 0, 1, 1);
    return frame.subtracted(polygons);
}
