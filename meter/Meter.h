#pragma once
// The six-lamp movement meter: a row of six circles that light, left to right,
// as the peak of the recent movement percentages exceeds six thresholds.

#include "meter/RunningArray.h"
#include "types/TColor.h"

#include <QWidget>
#include <array>

class TMovementMeter : public QWidget {
    Q_OBJECT
public:
    enum class TBorderStyle { bsNone = 0, bsSingle = 1 };

    static constexpr int BarCount = 6;
    static constexpr TColor UnlitColor = 0xFFFFFF;
    static constexpr TColor OutlineColor = 0xF2F2F2;
    static constexpr std::array<TColor, BarCount> BandColors = {0x59BB9B, 0x59BB9B, 0x4696F7,
                                                                0x4696F7, 0x4D50C0, 0x4D50C0};

    explicit TMovementMeter(QWidget* owner);

    // The current value: the peak of the running window, kept inside the range.
    int Value() const { return FValue; }
    void SetValue(int v);
    int MinValue() const { return FMinValue; }
    void SetMinValue(int v);
    int MaxValue() const { return FMaxValue; }
    void SetMaxValue(int v);
    // How many of the latest values the meter keeps its peak over; at least 1.
    int RunningSize() const { return FWindow.Size(); }
    void SetRunningSize(int n) { FWindow.SetSize(n); }

    // Thresholds are stored as given: no check, no ordering, no repaint.
    int ThresholdValue1() const { return FThresholds[0]; }
    int ThresholdValue2() const { return FThresholds[1]; }
    int ThresholdValue3() const { return FThresholds[2]; }
    int ThresholdValue4() const { return FThresholds[3]; }
    int ThresholdValue5() const { return FThresholds[4]; }
    int ThresholdValue6() const { return FThresholds[5]; }
    void SetThresholdValue1(int v) { FThresholds[0] = v; }
    void SetThresholdValue2(int v) { FThresholds[1] = v; }
    void SetThresholdValue3(int v) { FThresholds[2] = v; }
    void SetThresholdValue4(int v) { FThresholds[3] = v; }
    void SetThresholdValue5(int v) { FThresholds[4] = v; }
    void SetThresholdValue6(int v) { FThresholds[5] = v; }

    // Kept for the form's sake; the picture does not depend on them.
    bool ShowText() const { return FShowText; }
    void SetShowText(bool v);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle v);
    TColor ForeColor() const { return FForeColor; }
    void SetForeColor(TColor v);
    TColor BackColor() const { return FBackColor; }
    void SetBackColor(TColor v);

    // The colour of the highest-numbered bar whose threshold v exceeds, else UnlitColor.
    TColor BandColor(int v) const;
    // The current value's percentage of MinValue..MaxValue, truncated toward zero.
    int PercentOfRange() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    template <class T> void StoreAndRepaintIfChanged(T& field, T value);
    TColor BarFill(int bar) const;

    int FMinValue = 0;
    int FMaxValue = 100;
    int FValue = 0;
    bool FShowText = true;
    TBorderStyle FBorderStyle = TBorderStyle::bsSingle;
    TColor FForeColor = 0x000000;
    TColor FBackColor = 0xFFFFFF;
    std::array<int, BarCount> FThresholds = {10, 20, 30, 40, 50, 60};
    TRunningArray FWindow;
};
