#include "app/ControlBuilders.h"

#include "settings/TSpinEdit.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

namespace {

const QColor ReadoutColor(0x80, 0x80, 0x00); // olive

} // namespace

namespace ControlBuilders {

QToolButton* FlatButton(QWidget* parent, const char* name, const QString& caption,
                        QStyle::StandardPixmap picture) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setIcon(parent->style()->standardIcon(picture));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setMinimumWidth(72);
    return button;
}

QFrame* Panel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    return panel;
}

QLabel* Label(QWidget* parent, const char* name, const QString& caption) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

QLabel* ReadoutLabel(QWidget* parent, const char* name, const QString& caption, int pixelHeight,
                     bool bold) {
    QLabel* label = Label(parent, name, caption);
    // A number is never rich text: the label need not look at each new text.
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    // Digits are set side by side, unkerned: the text engine may skip shaping,
    // which costs more than the rest of drawing a new count.
    font.setStyleStrategy(QFont::PreferNoShaping);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ReadoutColor);
    label->setPalette(palette);
    return label;
}

TSpinEdit* SpinBox(QWidget* parent, const char* name, int minValue, int maxValue, int value) {
    auto* box = new TSpinEdit(parent);
    box->setObjectName(name);
    box->SetMinValue(minValue);
    box->SetMaxValue(maxValue);
    box->SetValue(value);
    return box;
}

QAction* MenuItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(name);
    return item;
}

QAction* Separator(QMenu* menu, const char* name) {
    QAction* separator = menu->addSeparator();
    separator->setObjectName(name);
    return separator;
}

} // namespace ControlBuilders
