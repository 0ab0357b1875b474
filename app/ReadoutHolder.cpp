#include "app/ReadoutHolder.h"

#include <QBrush>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>

namespace {

// A text's advance as the sum of its characters' own: measuring a text as a
// whole shapes it, which costs more than the rest of a read-out's update.
// Read-outs are numbers, whose digits fonts set side by side unkerned.
int CharacterAdvances(const QFontMetrics& metrics, const QString& text) {
    int sum = 0;
    for (const QChar character : text) {
        if (character.isSurrogate()) {
            return metrics.horizontalAdvance(text);
        }
        sum += metrics.horizontalAdvance(character);
    }
    return sum;
}

} // namespace

TReadoutHolder::TReadoutHolder(QLabel* label, const QString& widest, QWidget* parent)
    : QWidget(parent), FLabel(label), FWidestFont(label->font()),
      FWidestAdvance(CharacterAdvances(label->fontMetrics(), widest)) {
    const QString text = label->text();
    label->setText(widest);
    FHint = label->sizeHint().expandedTo(label->minimumSize());
    FMinimumHint = label->minimumSizeHint().expandedTo(label->minimumSize());
    label->setText(text);
    setSizePolicy(label->sizePolicy());
    setMinimumSize(label->minimumSize());
    label->setParent(this);
    label->setGeometry(rect());
    // On a panel of one plain colour, the label fills its area with that
    // colour itself, so that a new text repaints the label alone and not the
    // panel, its frame and the holder underneath.
    const QBrush behind = parent->palette().brush(parent->backgroundRole());
    if (parent->autoFillBackground() && behind.style() == Qt::SolidPattern &&
        label->palette().brush(label->backgroundRole()) == behind) {
        label->setAutoFillBackground(true);
    }
}

// The label's request for a new layout comes here: only a text wider than the
// holder goes on to the layout. A text no wider than one known to fit in the
// same font fits too (the label's size hint is its text's advance and margins
// that do not depend on the text), which saves asking for the size hint.
bool TReadoutHolder::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        const int advance = CharacterAdvances(FLabel->fontMetrics(), FLabel->text());
        const bool sameFont = FLabel->font() == FWidestFont;
        if (sameFont && advance <= FWidestAdvance) {
            return true;
        }
        const QSize needed = FLabel->sizeHint().expandedTo(FLabel->minimumSize());
        if (needed.width() > FHint.width()) {
            FHint.setWidth(needed.width());
            FMinimumHint.setWidth(std::max(FMinimumHint.width(), needed.width()));
            updateGeometry();
        }
        if (!sameFont || advance > FWidestAdvance) {
            FWidestFont = FLabel->font();
            FWidestAdvance = advance;
        }
        return true;
    }
    return QWidget::event(event);
}

void TReadoutHolder::resizeEvent(QResizeEvent*) {
    FLabel->setGeometry(rect());
}
