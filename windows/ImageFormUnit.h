#pragma once
// "Differential image": shows the difference image of the latest frame step,
// unscaled and centred on black. Also home of TImage, the picture control.

#include "analysis/TBitmap.h"
#include "windows/BaseFormUnit.h"

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QWidget>

// A picture control: shows its picture unscaled and centred in its area; what
// the picture does not cover shows the background behind the control, and a
// picture larger than the control shows its central part.
class TImage : public QWidget {
    Q_OBJECT

public:
    explicit TImage(QWidget* owner = nullptr);

    // Takes a copy of the bitmap (8, 24 or 32 bits). The picture's storage is
    // reused while the size stays the same.
    void SetPicture(const TBitmap& bitmap);
    void SetPicture(const QImage& picture);
    // Shows a 24-bit bitmap without copying or converting a pixel: the
    // control takes the bitmap's storage and hands the caller the storage of
    // the picture it showed before, so that a caller who does this every
    // frame ping-pongs between two buffers (no allocation at an unchanged
    // size). What the caller gets back holds an older picture. Other formats
    // are copied as by SetPicture.
    void TakePicture(TBitmap& bitmap);
    // The picture itself, to draw into; call Repaint() afterwards.
    QImage& Picture() { return FPicture; }
    const QImage& Picture() const { return FPicture; }
    // Paints the control now when it is visible.
    void Repaint();
    // Areas hatched over the picture, in coordinates relative to it (0..1);
    // an empty path hatches nothing.
    void SetHatching(const QPainterPath& relative);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QImage FPicture;
    TBitmap FShown;  // the storage FPicture reads after TakePicture
    QImage FVisible; // the part of a 24-bit picture inside the control, for the screen
    QPainterPath FHatching;
    QBrush FFill; // where the picture does not cover the control; NoBrush: left to Qt

    void PaintBgrPart(QPainter& painter, const QRect& shown, int left, int top);
    bool PaintBgrIntoDevice(QPainter& painter, const QRect& shown, int left, int top);
    void ConvertBgrPart(const QRect& part, QImage& target, QPoint at) const;
    void UpdateOpaque();
    QBrush PlainBackground() const;
    void FillAround(QPainter& painter, const QRect& shown);
    void PaintHatching(QPainter& painter, const QRect& picture);
};

class TImageForm : public BaseForm {
    Q_OBJECT

public:
    explicit TImageForm(QWidget* owner = nullptr);
    ~TImageForm() override;

    TImage* Image;
};

// The one differential image window of the program; null while there is none.
extern TImageForm* ImageForm;
