#pragma once
// The direction window: a 100 x 100 picture into which each frame step draws a
// red line from the centre, painting over the line of the step before.

#include "types/TPoint.h"
#include "windows/BaseFormUnit.h"
#include "windows/ImageFormUnit.h"

#include <QPoint>
#include <QRgb>

class TDirectionForm : public BaseForm {
    Q_OBJECT

public:
    static constexpr int BitmapSize = 100;

    explicit TDirectionForm(QWidget* owner = nullptr);
    ~TDirectionForm() override;

    void FormCreate() override;

    // Paints the previous line white, then draws a red line from (50, 50) to
    // (LastPoint.x - x, LastPoint.y - y) in the bitmap's own pixels, clipped.
    void ShowDirection(int x, int y);

    TImage* Image;
    // The point of the previous ShowDirection.
    TPoint LastPoint;
    // The end point of the line the previous ShowDirection drew.
    TPoint LastLineEnd;

    const QImage& Bitmap() const { return Image->Picture(); }

private:
    bool FLineDrawn = false; // LastLineEnd is the end of the red line in the picture
};

// Draws a one-pixel line from `from` towards `to`, the end point itself not
// drawn, clipped to the image. Pixels follow the nearest grid point along the
// major axis (ties away from the start), so a line and the same line drawn
// again cover exactly the same pixels.
void DrawLineExcludingEnd(QImage& image, QPoint from, QPoint to, QRgb color);
