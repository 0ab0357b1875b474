#pragma once
// The names and texts the integration sends: MQTT topics, the JSON of an
// event and of the Home Assistant discovery record, and the placeholders of
// the event commands.

#include "integration/CommandLine.h"
#include "integration/EventTracker.h"

#include <chrono>
#include <string>

// The camera name as one topic level and id part: letters, digits, '-' and
// '_' stay, every other character becomes '_'; an empty name is "camera".
std::string TopicSlug(const std::string& camera);

std::string MotionTopic(const std::string& camera);    // stirwatch/<slug>/motion
std::string EventsTopic(const std::string& camera);    // stirwatch/<slug>/events
std::string AvailabilityTopic();                       // stirwatch/available
std::string DiscoveryTopic(const std::string& camera); // homeassistant/binary_sensor/<id>/config
std::string UniqueId(const std::string& camera);       // stirwatch_<slug>_motion

// Local time as ISO 8601 with seconds and the UTC offset, e.g.
// 2026-12-09T17:01:02+0100.
std::string IsoTime(std::chrono::system_clock::time_point time);

// {"type":"new|update|end","camera":...,"start":...,"end":...|null,
//  "peak":<percent>,"clip":...|null}
std::string EventJson(const TEventNotice& notice, const std::string& camera);

// The retained record that makes Home Assistant add a motion sensor.
std::string DiscoveryJson(const std::string& camera);

// {camera}, {start}, {end}, {peak}, {clip} of an event.
TPlaceholders EventPlaceholders(const TEventNotice& notice, const std::string& camera);
// {camera}, {state} ("lost" or "back"), {reason}.
TPlaceholders CameraPlaceholders(const std::string& camera, bool lost, const std::string& reason);
