#pragma once
// The mask editor over the Live Video window, on a still of the latest
// compared frame; a second "Edit Mask..." takes it away. Each change goes to
// the configuration window's Detection tab, which keeps it and hands it to
// the steps.

#include <QPointer>

#include <string>

class TBitmap;
class TMaskEditor;

class TMaskEditing {
public:
    TMaskEditing();
    ~TMaskEditing();

    // Opens the editor on `still` (a gray frame, empty for none) with the
    // mask of `maskText`, or closes it when it is open. True when it is open
    // afterwards; false too without a Live Video window.
    bool Toggle(const TBitmap& still, const std::string& maskText);

private:
    // Owned by the video panel it lies on, which may go first.
    QPointer<TMaskEditor> FEditor;
};
