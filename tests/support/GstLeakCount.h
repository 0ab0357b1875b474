#pragma once
// GStreamer's leak tracer, for tests that check that what they did left no
// GStreamer object alive. Apart from GstTestUtil.h, whose owners the capture
// library defines too: a test of the capture library includes this alone.

#include <gst/gst.h>

#include <functional>
#include <map>
#include <string>

// GStreamer's leak tracer, when it runs (GST_TRACERS=leaks): the objects of the
// counted types created since the count began and still alive, less those alive
// before and gone since. The tracer names them without taking a reference.
class TLeakCount {
public:
    // Whether objects of the type of this name are counted.
    using TFilter = std::function<bool(const std::string& typeName)>;

    explicit TLeakCount(TFilter counted);
    ~TLeakCount();
    TLeakCount(const TLeakCount&) = delete;
    TLeakCount& operator=(const TLeakCount&) = delete;

    // False without the tracer: nothing is counted.
    bool Counting() const { return FTracer != nullptr; }
    // Counts from now on.
    void Restart();
    // The growth of each counted type since the count began (a type may shrink).
    const std::map<std::string, int>& Growth();
    int TotalGrowth();
    // The types that grew, as "GstPad +3 GstBus +1 ".
    std::string GrownTypes();

    // Everything but frames in flight (buffers, their memory, the events between
    // them), whose number at a moment follows the machine's speed.
    static bool NotFramesInFlight(const std::string& typeName);
    // Objects proper (elements, pads, buses...), not mini-objects.
    static bool ObjectsProper(const std::string& typeName);

private:
    GstTracer* FTracer = nullptr;
    TFilter FCounted;
    std::map<std::string, int> FGrowth;
};
