#pragma once
// The mask editor laid over the Live Video window: a still of the picture
// with the mask's polygons on it, translucent. Click to add points, double-
// click to close a polygon, drag a point to move it, Delete removes the
// selected polygon (or the one being drawn), Escape drops the one being drawn.
// A check box switches between areas to ignore and the only areas to watch.

#include "engine/DetectionMask.h"

#include <QImage>
#include <QPainterPath>
#include <QWidget>

class QCheckBox;

class TMaskEditor : public QWidget {
    Q_OBJECT

public:
    // Fills `area` and follows its size.
    TMaskEditor(QWidget* area, const QImage& still, const TDetectionMask& mask);

    const TDetectionMask& Mask() const { return FMask; }
    QCheckBox* WatchOnlyCheck;

signals:
    // A polygon was closed, moved or deleted, or the mode switched.
    void Changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointF ToWidget(const TMaskPoint& point) const;
    TMaskPoint ToMask(QPointF position) const;
    // The polygon and point within reach of `position`, or false.
    bool PointAt(QPointF position, int& polygon, int& point) const;
    int PolygonAt(QPointF position) const;

    QImage FStill;
    TDetectionMask FMask;
    TMaskPolygon FDrawing;
    int FSelected = -1;
    int FDragPolygon = -1;
    int FDragPoint = -1;
};

// The pixels the mask leaves out, relative to the frame (0..1): the polygons
// when they are ignored, everything else when they are the areas watched.
QPainterPath UnwatchedArea(const TDetectionMask& mask);
