#include "meter/Meter.h"

#include "types/Exception.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

namespace {

QColor ToQColor(TColor color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// Bounds are formatted in 64 bits so that MaxValue - 1 or MinValue + 1 at the
// ends of the integer range reads correctly instead of wrapping.
EInvalidOperation OutOfRange(std::int64_t low, std::int64_t high) {
    return EInvalidOperation("Value must be between " + std::to_string(low) + " and " +
                             std::to_string(high));
}

} // namespace

TMovementMeter::TMovementMeter(QWidget* owner) : QWidget(owner) {
    // The meter covers its whole rectangle itself, so the parent need not be
    // painted underneath first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
    FWindow.SetSize(1);
}

int TMovementMeter::PercentOfRange() const {
    // 64-bit range so that extreme MinValue/MaxValue pairs cannot overflow.
    const std::int64_t range = std::int64_t{FMaxValue} - FMinValue;
    if (range == 0) {
        return 0;
    }
    const long double percent =
        (static_cast<long double>(FValue) - FMinValue) * 100.0L / static_cast<long double>(range);
    return static_cast<int>(std::clamp(std::trunc(percent), static_cast<long double>(INT_MIN),
                                       static_cast<long double>(INT_MAX)));
}

void TMovementMeter::SetValue(int v) {
    const int percentBefore = PercentOfRange();
    FWindow.Push(std::clamp(v, FMinValue, FMaxValue));
    const int peak = FWindow.Peak();
    if (peak == FValue) {
        return;
    }
    FValue = peak;
    if (PercentOfRange() != percentBefore) {
        repaint();
    }
}

void TMovementMeter::SetMinValue(int v) {
    if (v == FMinValue) {
        return;
    }
    if (v > FMaxValue) {
        throw OutOfRange(-2147483647, std::int64_t{FMaxValue} - 1);
    }
    FMinValue = v;
    FValue = std::max(FValue, v);
    repaint();
}

void TMovementMeter::SetMaxValue(int v) {
    if (v == FMaxValue) {
        return;
    }
    if (v < FMinValue) {
        throw OutOfRange(std::int64_t{FMinValue} + 1, 2147483647);
    }
    FMaxValue = v;
    FValue = std::min(FValue, v);
    repaint();
}

template <class T> void TMovementMeter::StoreAndRepaintIfChanged(T& field, T value) {
    if (field == value) {
        return;
    }
    field = value;
    repaint();
}

void TMovementMeter::SetShowText(bool v) {
    StoreAndRepaintIfChanged(FShowText, v);
}
void TMovementMeter::SetBorderStyle(TBorderStyle v) {
    StoreAndRepaintIfChanged(FBorderStyle, v);
}
void TMovementMeter::SetForeColor(TColor v) {
    StoreAndRepaintIfChanged(FForeColor, v);
}
void TMovementMeter::SetBackColor(TColor v) {
    StoreAndRepaintIfChanged(FBackColor, v);
}

TColor TMovementMeter::BandColor(int v) const {
    TColor color = UnlitColor;
    for (int bar = 0; bar < BarCount; ++bar) {
        if (v > FThresholds[bar]) {
            color = BandColors[bar];
        }
    }
    return color;
}

TColor TMovementMeter::BarFill(int bar) const {
    return FValue > FThresholds[bar] ? BandColors[bar] : UnlitColor;
}

void TMovementMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The widget is opaque, so what lies around the circles must be painted
    // here: the parent's own background.
    const QWidget* background = parentWidget() ? parentWidget() : this;
    painter.fillRect(rect(), background->palette().brush(background->backgroundRole()));

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ToQColor(OutlineColor), 4, Qt::SolidLine));
    const int h = height();
    const int mid = h / 2;
    const int r = (h - 4) / 2;
    for (int bar = 0; bar < BarCount; ++bar) {
        painter.setBrush(ToQColor(BarFill(bar)));
        painter.resetTransform();
        painter.translate(mid + bar * (h + 4), mid);
        painter.drawEllipse(QRectF(-r, -r, 2 * r, 2 * r));
    }
}
