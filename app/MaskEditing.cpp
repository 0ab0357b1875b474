#include "app/MaskEditing.h"

#include "analysis/TBitmap.h"
#include "engine/DetectionMask.h"
#include "settings/ConfigUnit.h"
#include "windows/MaskEditor.h"
#include "windows/VideoFormUnit.h"

#include <QImage>

#include <memory>

namespace {

QImage StillOf(const TBitmap& frame) {
    if (frame.Empty()) {
        return {};
    }
    return QImage(frame.ScanLine(0), frame.Width(), frame.Height(),
                  static_cast<qsizetype>(frame.Stride()), QImage::Format_Grayscale8)
        .copy();
}

} // namespace

TMaskEditing::TMaskEditing() = default;

// The editor stays with its panel, which destroys it.
TMaskEditing::~TMaskEditing() = default;

bool TMaskEditing::Toggle(const TBitmap& still, const std::string& maskText) {
    if (FEditor) {
        // Taken from its panel and destroyed now, so that no later event
        // reaches it.
        std::unique_ptr<TMaskEditor> closing(FEditor.data());
        return false;
    }
    if (!VideoForm) {
        return false;
    }
    VideoForm->show();
    VideoForm->raise();
    auto* editor = new TMaskEditor(VideoForm->VideoArea, StillOf(still),
                                   maskText.empty() ? TDetectionMask{} : ParseMask(maskText));
    QObject::connect(editor, &TMaskEditor::Changed, editor, [editor] {
        TDetectionSettings settings = ConfigForm->DetectionSettings();
        settings.Mask = MaskText(editor->Mask());
        ConfigForm->SetDetectionSettings(settings);
    });
    FEditor = editor;
    return true;
}
