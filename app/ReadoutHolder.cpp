#include "app/ReadoutHolder.h"

#include <QEvent>
#include <QLabel>

TReadoutHolder::TReadoutHolder(QLabel* label, const QString& widest, QWidget* parent)
    : QWidget(parent), FLabel(label) {
    const QString text = label->text();
    label->setText(widest);
    FHint = label->sizeHint().expandedTo(label->minimumSize());
    FMinimumHint = label->minimumSizeHint().expandedTo(label->minimumSize());
    label->setText(text);
    setSizePolicy(label->sizePolicy());
    setMinimumSize(label->minimumSize());
    label->setParent(this);
    label->setGeometry(rect());
}

// The label's request for a new layout comes here: only a text wider than the
// holder goes on to the layout.
bool TReadoutHolder::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        const QSize needed = FLabel->sizeHint().expandedTo(FLabel->minimumSize());
        if (needed.width() > FHint.width()) {
            FHint.setWidth(needed.width());
            FMinimumHint.setWidth(std::max(FMinimumHint.width(), needed.width()));
            updateGeometry();
        }
        return true;
    }
    return QWidget::event(event);
}

void TReadoutHolder::resizeEvent(QResizeEvent*) {
    FLabel->setGeometry(rect());
}
