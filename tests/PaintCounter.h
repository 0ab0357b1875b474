#pragma once
// Counts the paint events of the widgets it is installed on, so that tests can
// tell whether a change repainted.

#include <QEvent>
#include <QObject>

class PaintCounter : public QObject {
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++Paints;
        }
        return false;
    }
};
