#include "integration/MosquittoLibrary.h"

#include <dlfcn.h>

#include <string>

namespace {

// The file name of libmosquitto's ABI, the same for its versions 1 and 2.
constexpr const char* LibraryName = "libmosquitto.so.1";

// Never closed: a client's thread may still be ending inside the library
// while the process goes down.
void* OpenLibrary() {
    void* library = dlopen(LibraryName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        throw EMqtt(std::string("MQTT: cannot load ") + LibraryName + ": " +
                    (reason != nullptr ? reason : "unknown reason"));
    }
    return library;
}

template <typename TFunction> void Find(void* library, const char* name, TFunction& function) {
    function = reinterpret_cast<TFunction>(dlsym(library, name));
    if (function == nullptr) {
        throw EMqtt(std::string("MQTT: ") + LibraryName + " has no function " + name);
    }
}

TMosquittoFunctions Load() {
    void* library = OpenLibrary();
    TMosquittoFunctions f{};
    Find(library, "mosquitto_lib_init", f.LibInit);
    Find(library, "mosquitto_strerror", f.ErrorText);
    Find(library, "mosquitto_connack_string", f.ConnackText);
    Find(library, "mosquitto_new", f.New);
    Find(library, "mosquitto_destroy", f.Destroy);
    Find(library, "mosquitto_will_set", f.WillSet);
    Find(library, "mosquitto_username_pw_set", f.UsernamePasswordSet);
    Find(library, "mosquitto_tls_set", f.TlsSet);
    Find(library, "mosquitto_connect_callback_set", f.ConnectCallbackSet);
    Find(library, "mosquitto_disconnect_callback_set", f.DisconnectCallbackSet);
    Find(library, "mosquitto_message_callback_set", f.MessageCallbackSet);
    Find(library, "mosquitto_reconnect_delay_set", f.ReconnectDelaySet);
    Find(library, "mosquitto_connect", f.Connect);
    Find(library, "mosquitto_connect_async", f.ConnectAsync);
    Find(library, "mosquitto_subscribe", f.Subscribe);
    Find(library, "mosquitto_publish", f.Publish);
    Find(library, "mosquitto_loop_start", f.LoopStart);
    Find(library, "mosquitto_loop_stop", f.LoopStop);
    Find(library, "mosquitto_disconnect", f.Disconnect);
    f.LibInit();
    return f;
}

} // namespace

const TMosquittoFunctions& Mosquitto() {
    static const TMosquittoFunctions functions = Load();
    return functions;
}
