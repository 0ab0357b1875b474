#pragma once
// "Live Video": the window whose black panel VideoArea hosts the capture
// layer's live picture.

#include "windows/BaseFormUnit.h"

class TVideoForm : public BaseForm {
    Q_OBJECT

public:
    explicit TVideoForm(QWidget* owner = nullptr);
    ~TVideoForm() override;

    QWidget* VideoArea;
};

// The one live video window of the program; null while there is none.
extern TVideoForm* VideoForm;
