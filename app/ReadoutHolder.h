#pragma once
// The place of a read-out label in its panel's layout. A read-out changes its
// text at every frame step, and a label that changes its text asks its
// window to lay itself out again; in a holder of its own that request stops
// at the holder. The holder takes the label's part in the layout with the
// size the label has for the widest text it shows, and gives the label all of
// its own area, so the text is drawn where it would be in the layout itself.
// A wider text than that grows the holder and the layout once.

#include <QFont>
#include <QSize>
#include <QString>
#include <QWidget>

class QLabel;

class TReadoutHolder : public QWidget {
public:
    // Takes `label` in as its child; `widest` is the widest text it shows.
    TReadoutHolder(QLabel* label, const QString& widest, QWidget* parent);

    QSize sizeHint() const override { return FHint; }
    QSize minimumSizeHint() const override { return FMinimumHint; }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* FLabel;
    QSize FHint;
    QSize FMinimumHint;
    // The advance of the widest text known to fit, in the font it was
    // measured in.
    QFont FWidestFont;
    int FWidestAdvance = 0;
};
