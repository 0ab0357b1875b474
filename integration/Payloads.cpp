#include "integration/Payloads.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <ctime>

namespace {

const char* KindName(TEventNotice::TKind kind) {
    switch (kind) {
    case TEventNotice::TKind::New:
        return "new";
    case TEventNotice::TKind::Update:
        return "update";
    case TEventNotice::TKind::End:
        return "end";
    }
    return "";
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

std::string TopicSlug(const std::string& camera) {
    std::string slug;
    for (const char c : camera) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        slug += plain ? c : '_';
    }
    return slug.empty() ? "camera" : slug;
}

std::string MotionTopic(const std::string& camera) {
    return "stirwatch/" + TopicSlug(camera) + "/motion";
}

std::string EventsTopic(const std::string& camera) {
    return "stirwatch/" + TopicSlug(camera) + "/events";
}

std::string AvailabilityTopic() {
    return "stirwatch/available";
}

std::string UniqueId(const std::string& camera) {
    return "stirwatch_" + TopicSlug(camera) + "_motion";
}

std::string DiscoveryTopic(const std::string& camera) {
    return "homeassistant/binary_sensor/" + UniqueId(camera) + "/config";
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return std::string(text, length);
}

std::string EventJson(const TEventNotice& notice, const std::string& camera) {
    QJsonObject object;
    object["type"] = KindName(notice.Kind);
    object["camera"] = Text(camera);
    object["start"] = Text(IsoTime(notice.Start));
    object["end"] = notice.End ? QJsonValue(Text(IsoTime(*notice.End))) : QJsonValue();
    object["peak"] = notice.Peak;
    object["clip"] = notice.Clip.empty() ? QJsonValue() : QJsonValue(Text(notice.Clip));
    return Compact(object);
}

std::string DiscoveryJson(const std::string& camera) {
    QJsonObject device;
    device["identifiers"] = QJsonArray{Text("stirwatch_" + TopicSlug(camera))};
    device["name"] = Text(camera);
    device["manufacturer"] = "Stirwatch";
    device["model"] = "Stirwatch motion detector";
    QJsonObject object;
    object["name"] = Text(camera + " motion");
    object["device_class"] = "motion";
    object["state_topic"] = Text(MotionTopic(camera));
    object["payload_on"] = "ON";
    object["payload_off"] = "OFF";
    object["availability_topic"] = Text(AvailabilityTopic());
    object["payload_available"] = "online";
    object["payload_not_available"] = "offline";
    object["unique_id"] = Text(UniqueId(camera));
    object["device"] = device;
    return Compact(object);
}

TPlaceholders EventPlaceholders(const TEventNotice& notice, const std::string& camera) {
    return {{"camera", camera},
            {"start", IsoTime(notice.Start)},
            {"end", notice.End ? IsoTime(*notice.End) : std::string()},
            {"peak", std::to_string(notice.Peak)},
            {"clip", notice.Clip}};
}

TPlaceholders CameraPlaceholders(const std::string& camera, bool lost, const std::string& reason) {
    return {{"camera", camera}, {"state", lost ? "lost" : "back"}, {"reason", reason}};
}
