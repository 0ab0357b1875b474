#pragma once
// "Differential image": shows the difference image of the latest frame step,
// unscaled and centred on black. Also home of TImage, the picture control.

#include "windows/BaseFormUnit.h"

#include <QImage>
#include <QWidget>

class TBitmap;

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
    // The picture itself, to draw into; call Repaint() afterwards.
    QImage& Picture() { return FPicture; }
    const QImage& Picture() const { return FPicture; }
    // Paints the control now when it is visible.
    void Repaint();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FPicture;
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
