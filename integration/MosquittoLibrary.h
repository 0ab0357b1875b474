#pragma once
// libmosquitto, opened when the first MQTT client is made rather than when
// the program starts: a program that publishes nothing does not carry it nor
// the TLS libraries it loads (libssl, libcrypto), about 1.5 MB of resident
// memory.

#include "integration/MqttPublisher.h"

#include <mosquitto.h>

struct TMosquittoFunctions {
    decltype(&mosquitto_lib_init) LibInit;
    decltype(&mosquitto_strerror) ErrorText;
    decltype(&mosquitto_connack_string) ConnackText;
    decltype(&mosquitto_new) New;
    decltype(&mosquitto_destroy) Destroy;
    decltype(&mosquitto_will_set) WillSet;
    decltype(&mosquitto_username_pw_set) UsernamePasswordSet;
    decltype(&mosquitto_tls_set) TlsSet;
    decltype(&mosquitto_connect_callback_set) ConnectCallbackSet;
    decltype(&mosquitto_disconnect_callback_set) DisconnectCallbackSet;
    decltype(&mosquitto_message_callback_set) MessageCallbackSet;
    decltype(&mosquitto_reconnect_delay_set) ReconnectDelaySet;
    decltype(&mosquitto_connect) Connect;
    decltype(&mosquitto_connect_async) ConnectAsync;
    decltype(&mosquitto_subscribe) Subscribe;
    decltype(&mosquitto_publish) Publish;
    decltype(&mosquitto_loop_start) LoopStart;
    decltype(&mosquitto_loop_stop) LoopStop;
    decltype(&mosquitto_disconnect) Disconnect;
};

// The library's functions, opened and initialised (mosquitto_lib_init) at
// the first call and kept for the process's life. Throws EMqtt naming what
// is missing; a failed load is tried again at the next call.
const TMosquittoFunctions& Mosquitto();
