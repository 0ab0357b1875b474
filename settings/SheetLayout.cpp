#include "settings/SheetLayout.h"

#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>

namespace {

template <class T> T* AtItsSize(T* widget, const char* name, int x, int y) {
    widget->setObjectName(name);
    widget->move(x, y);
    widget->adjustSize();
    return widget;
}

} // namespace

QGroupBox* SheetGroup(QWidget* sheet, const char* name, const QString& title, int y, int width,
                      int height) {
    return Placed(new QGroupBox(title, sheet), name, SheetMargin, y, width, height);
}

QLabel* SheetLabel(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    return AtItsSize(new QLabel(caption, parent), name, x, y);
}

QCheckBox* SheetCheck(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    return AtItsSize(new QCheckBox(caption, parent), name, x, y);
}

TSpinEdit* SheetEdit(QWidget* parent, const char* name, int x, int y, int width, int minValue,
                     int maxValue, int value) {
    auto* edit = Placed(new TSpinEdit(parent), name, x, y, width, 22);
    edit->SetMinValue(minValue);
    edit->SetMaxValue(maxValue);
    edit->SetValue(value);
    return edit;
}
