#include "tests/support/GstLeakCount.h"

TLeakCount::TLeakCount(TFilter counted) : FCounted(std::move(counted)) {
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* item = tracers; item; item = item->next) {
        if (!FTracer && g_str_equal(G_OBJECT_TYPE_NAME(item->data), "GstLeaksTracer")) {
            FTracer = GST_TRACER(gst_object_ref(item->data));
        }
    }
    g_list_free_full(tracers, gst_object_unref);
    if (FTracer) {
        g_signal_emit_by_name(FTracer, "activity-start-tracking");
    }
}

TLeakCount::~TLeakCount() {
    if (FTracer) {
        g_signal_emit_by_name(FTracer, "activity-stop-tracking");
        gst_object_unref(FTracer);
    }
}

void TLeakCount::Restart() {
    Growth();
    FGrowth.clear();
}

const std::map<std::string, int>& TLeakCount::Growth() {
    GstStructure* checkpoint = nullptr;
    if (FTracer) {
        g_signal_emit_by_name(FTracer, "activity-get-checkpoint", &checkpoint);
    }
    if (!checkpoint) {
        return FGrowth;
    }
    for (const auto& [field, sign] :
         {std::pair{"objects-created-list", 1}, std::pair{"objects-removed-list", -1}}) {
        const GValue* list = gst_structure_get_value(checkpoint, field);
        for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
            const GstStructure* entry = gst_value_get_structure(gst_value_list_get_value(list, i));
            const char* type = gst_structure_get_string(entry, "type-name");
            const std::string name = type ? type : "?";
            if (!FCounted || FCounted(name)) {
                FGrowth[name] += sign;
            }
        }
    }
    gst_structure_free(checkpoint);
    return FGrowth;
}

int TLeakCount::TotalGrowth() {
    int total = 0;
    for (const auto& [type, count] : Growth()) {
        total += count;
    }
    return total;
}

std::string TLeakCount::GrownTypes() {
    std::string text;
    for (const auto& [type, count] : Growth()) {
        if (count > 0) {
            text += type + " +" + std::to_string(count) + " ";
        }
    }
    return text;
}

bool TLeakCount::NotFramesInFlight(const std::string& typeName) {
    return typeName != "GstBuffer" && typeName != "GstMemory" && typeName != "GstEvent";
}

bool TLeakCount::ObjectsProper(const std::string& typeName) {
    const GType type = g_type_from_name(typeName.c_str());
    return type && g_type_is_a(type, GST_TYPE_OBJECT);
}
