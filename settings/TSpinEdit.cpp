#include "settings/TSpinEdit.h"

#include "settings/SettingsText.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>

namespace {

QToolButton* MakeArrowButton(QWidget* parent, Qt::ArrowType arrow, const char* name) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    button->setFixedWidth(16);
    return button;
}

// Keeps stepping from overflowing at the ends of the integer range.
int SaturatedAdd(int value, int delta) {
    const long long sum = static_cast<long long>(value) + delta;
    if (sum > std::numeric_limits<int>::max()) {
        return std::numeric_limits<int>::max();
    }
    if (sum < std::numeric_limits<int>::min()) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(sum);
}

} // namespace

TSpinEdit::TSpinEdit(QWidget* parent)
    : QWidget(parent), Edit(new QLineEdit(this)),
      Up(MakeArrowButton(this, Qt::UpArrow, "UpButton")),
      Down(MakeArrowButton(this, Qt::DownArrow, "DownButton")) {
    Edit->setObjectName("Editor");
    Edit->setText("0");
    // Only a sign and digits can be typed or pasted; text set by the program is free.
    Edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[-+0-9]*"), Edit));
    Edit->installEventFilter(this);
    setFocusProxy(Edit);

    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(0);
    buttons->addWidget(Up);
    buttons->addWidget(Down);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Edit);
    layout->addLayout(buttons);

    connect(Edit, &QLineEdit::textChanged, this, &TSpinEdit::Change);
    connect(Up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(Down, &QToolButton::clicked, this, [this] { Step(-1); });
}

int TSpinEdit::Value() const {
    return ParseIntegerText(Edit->text().toStdString()).value_or(Minimum);
}

int TSpinEdit::CheckValue(int value) const {
    if (Minimum == Maximum) {
        return value;
    }
    if (value < Minimum) {
        return Minimum;
    }
    if (value > Maximum) {
        return Maximum;
    }
    return value;
}

void TSpinEdit::SetValue(int value) {
    SetText(QString::number(CheckValue(value)));
}

void TSpinEdit::SetMaxLength(int length) {
    Edit->setMaxLength(length);
}

QString TSpinEdit::Text() const {
    return Edit->text();
}

void TSpinEdit::SetText(const QString& text) {
    if (text != Edit->text()) {
        Edit->setText(text);
    }
}

void TSpinEdit::Step(int delta) {
    if (!isEnabled()) {
        return;
    }
    SetValue(SaturatedAdd(Value(), delta));
}

void TSpinEdit::ClampOnExit() {
    const int value = Value();
    if (CheckValue(value) != value) {
        SetValue(value);
    }
}

bool TSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit && event->type() == QEvent::FocusOut) {
        ClampOnExit();
    } else if (watched == Edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
