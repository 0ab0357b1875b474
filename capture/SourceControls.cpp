#include "capture/SourceControls.h"

#include "capture/GstSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QSlider>

#include <gst/video/colorbalance.h>

void AddColorBalanceControls(GstElement* element, QWidget* dialog, QFormLayout* layout) {
    if (!element || !GST_IS_COLOR_BALANCE(element)) {
        return;
    }
    auto owner = std::make_shared<TGstPtr<GstElement>>(GST_ELEMENT(gst_object_ref(element)));
    GstColorBalance* balance = GST_COLOR_BALANCE(element);
    for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
        auto* slider = new QSlider(Qt::Horizontal, dialog);
        slider->setRange(channel->min_value, channel->max_value);
        slider->setValue(gst_color_balance_get_value(balance, channel));
        // The slider keeps the element and the channel alive for as long as it exists.
        auto kept = std::make_shared<TGstPtr<GstColorBalanceChannel>>(
            GST_COLOR_BALANCE_CHANNEL(gst_object_ref(channel)));
        QObject::connect(slider, &QSlider::valueChanged, dialog, [owner, kept](int value) {
            gst_color_balance_set_value(GST_COLOR_BALANCE(owner->get()), kept->get(), value);
        });
        layout->addRow(QString::fromUtf8(channel->label), slider);
    }
}

void AddPatternControl(GstElement* source, QWidget* dialog, QFormLayout* layout) {
    if (!source) {
        return;
    }
    GParamSpec* patternParam = g_object_class_find_property(G_OBJECT_GET_CLASS(source), "pattern");
    if (!patternParam || !G_IS_PARAM_SPEC_ENUM(patternParam)) {
        return;
    }
    GEnumClass* enumClass = G_PARAM_SPEC_ENUM(patternParam)->enum_class;
    auto* box = new QComboBox(dialog);
    box->setObjectName(QStringLiteral("PatternBox"));
    int current = 0;
    g_object_get(source, "pattern", &current, nullptr);
    for (guint i = 0; i < enumClass->n_values; ++i) {
        box->addItem(QString::fromUtf8(enumClass->values[i].value_nick),
                     enumClass->values[i].value);
        if (enumClass->values[i].value == current) {
            box->setCurrentIndex(static_cast<int>(i));
        }
    }
    auto owned = std::make_shared<TGstPtr<GstElement>>(GST_ELEMENT(gst_object_ref(source)));
    QObject::connect(box, &QComboBox::currentIndexChanged, dialog, [box, owned](int) {
        g_object_set(owned->get(), "pattern", box->currentData().toInt(), nullptr);
    });
    layout->addRow(QStringLiteral("Pattern"), box);
}

void AddLoopControl(std::shared_ptr<std::atomic<bool>> looping, QWidget* dialog,
                    QFormLayout* layout) {
    auto* loop = new QCheckBox(QStringLiteral("Play in a loop"), dialog);
    loop->setObjectName(QStringLiteral("LoopCheck"));
    loop->setChecked(*looping);
    QObject::connect(loop, &QCheckBox::toggled, dialog, [looping](bool on) { *looping = on; });
    layout->addRow(loop);
}
