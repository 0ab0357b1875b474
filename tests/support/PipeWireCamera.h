#pragma once
// A private PipeWire session for tests: a D-Bus session bus, the pipewire
// daemon and the WirePlumber session manager (which links a camera's node to
// the stream that asks for it) in a temporary runtime folder, and a virtual
// camera: a moving test pattern offered as a Video/Source node. This process
// is pointed at the session (PIPEWIRE_RUNTIME_DIR), so GStreamer's device
// monitor finds the camera as it finds one on a desktop.

#include <string>
#include <sys/types.h>
#include <vector>

class TPipeWireCamera {
public:
    // The name the camera shows in device lists.
    static constexpr const char* Name = "Stirwatch virtual camera";

    // Starts the session and the camera; when that is not possible here,
    // Ready() is false and Reason() says why.
    TPipeWireCamera(int width = 320, int height = 240, int fps = 15);
    ~TPipeWireCamera();
    TPipeWireCamera(const TPipeWireCamera&) = delete;
    TPipeWireCamera& operator=(const TPipeWireCamera&) = delete;

    bool Ready() const { return FReason.empty(); }
    const std::string& Reason() const { return FReason; }

private:
    bool Spawn(const std::vector<std::string>& command, const std::string& log);
    bool WaitForSocket(const std::string& name, const std::string& log);
    std::string LogTail(const std::string& log) const;

    std::string FFolder;
    std::string FReason;
    std::vector<pid_t> FChildren; // in start order; stopped in reverse
    std::string FOldRuntimeDir;
    bool FHadRuntimeDir = false;
};
