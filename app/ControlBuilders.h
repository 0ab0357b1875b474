#pragma once
// Controls made as the main window lays them out: each carries its
// component name as its object name, so that it is found by that name.

#include <QStyle>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QString;
class QToolButton;
class QWidget;
class TSpinEdit;

namespace ControlBuilders {

// A flat button with its picture above its caption.
QToolButton* FlatButton(QWidget* parent, const char* name, const QString& caption,
                        QStyle::StandardPixmap picture);
// A raised panel.
QFrame* Panel(QWidget* parent, const char* name);
QLabel* Label(QWidget* parent, const char* name, const QString& caption);
// A read-out of the black panel: olive text `pixelHeight` pixels high.
QLabel* ReadoutLabel(QWidget* parent, const char* name, const QString& caption, int pixelHeight,
                     bool bold);
// A spin box; minValue == maxValue makes it unranged.
TSpinEdit* SpinBox(QWidget* parent, const char* name, int minValue, int maxValue, int value);
QAction* MenuItem(QMenu* menu, const char* name, const QString& caption);
QAction* Separator(QMenu* menu, const char* name);

} // namespace ControlBuilders
