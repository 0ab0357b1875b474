#pragma once
// The building blocks of the configuration window's tabs: widgets named (the
// tests and the settings find them by name) and placed at fixed positions in
// their group, as the window has always been laid out.

#include <QString>

class QCheckBox;
class QGroupBox;
class QLabel;
class QWidget;
class TSpinEdit;

// The space around the groups of a tab.
constexpr int SheetMargin = 4;

template <class T> T* Placed(T* widget, const char* name, int x, int y, int width, int height) {
    widget->setObjectName(name);
    widget->setGeometry(x, y, width, height);
    return widget;
}

QGroupBox* SheetGroup(QWidget* sheet, const char* name, const QString& title, int y, int width,
                      int height);
// A caption or a check box at (x, y), as large as its text.
QLabel* SheetLabel(QWidget* parent, const char* name, const QString& caption, int x, int y);
QCheckBox* SheetCheck(QWidget* parent, const char* name, const QString& caption, int x, int y);
// An integer field 22 pixels high holding `value` within [minValue, maxValue].
TSpinEdit* SheetEdit(QWidget* parent, const char* name, int x, int y, int width, int minValue,
                     int maxValue, int value);
