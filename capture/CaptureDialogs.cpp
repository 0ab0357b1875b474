#include "capture/CaptureDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>

namespace {

QDialogButtonBox* OkCancel(QDialog& dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

} // namespace

int RunFormatDialog(QWidget* parent, const std::vector<TVideoFormat>& formats,
                    const TVideoFormat& current) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("VideoFormatDialog"));
    dialog.setWindowTitle(QStringLiteral("Video Format"));
    auto* layout = new QFormLayout(&dialog);
    auto* box = new QComboBox(&dialog);
    box->setObjectName(QStringLiteral("FormatBox"));
    for (const TVideoFormat& format : formats) {
        box->addItem(format.Text());
        if (format.Caps == current.Caps) {
            box->setCurrentIndex(box->count() - 1);
        }
    }
    layout->addRow(QStringLiteral("Size and rate"), box);
    layout->addRow(OkCancel(dialog));
    return dialog.exec() == QDialog::Accepted ? box->currentIndex() : -1;
}

void RunSourceDialog(QWidget* parent, TVideoDriver& driver) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("VideoSourceDialog"));
    dialog.setWindowTitle(QStringLiteral("Video Source"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* controls = new QFormLayout;
    layout->addLayout(controls);
    driver.AddSourceControls(&dialog, controls);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.exec();
}

bool RunDisplayDialog(QWidget* parent, TDisplayOptions& options) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("VideoDisplayDialog"));
    dialog.setWindowTitle(QStringLiteral("Video Display"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* scale = new QCheckBox(QStringLiteral("Scale the picture to the window"), &dialog);
    scale->setObjectName(QStringLiteral("ScaleCheck"));
    scale->setChecked(options.Scale);
    auto* aspect = new QCheckBox(QStringLiteral("Keep the aspect ratio"), &dialog);
    aspect->setObjectName(QStringLiteral("AspectCheck"));
    aspect->setChecked(options.KeepAspect);
    layout->addWidget(scale);
    layout->addWidget(aspect);
    layout->addWidget(OkCancel(dialog));
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    options.Scale = scale->isChecked();
    options.KeepAspect = aspect->isChecked();
    return true;
}
