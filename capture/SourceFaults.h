#pragma once
// What goes wrong with a connected source and what is done about it: the
// pipeline's bus (errors, the one that says most kept; missing plug-ins; the
// end of the stream, which loops a file), and a network source that fails or
// goes away, probed for why and tried again after a growing back-off.

#include "capture/SourcePipeline.h"

#include <QString>

#include <gst/gst.h>

#include <mutex>
#include <string>

struct TSourceSession;

// What the user calls the source in a message: a file's path, a stream's address.
std::string SourceShortName(const TSource& source);

class TSourceFaults {
public:
    // `session` owns these faults and outlives them.
    explicit TSourceFaults(TSourceSession& session) : FSession(session) {}

    // The bus's sync handler; `session` is a std::shared_ptr<TSourceSession>*.
    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer session);
    // Any thread: a network source failed or went away. `problem` names what the source
    // did wrong; without it the connection failed or was lost.
    void ConnectionFailed(const std::string& detail, const QString& problem = {});
    // Streaming thread: the source sent more than any picture needs without a picture.
    void PartTooLarge();

private:
    void Handle(GstMessage* message);
    void Error(GstMessage* message);
    void EndOfStream();
    void MissingPlugin(GstMessage* message);
    void Retry();
    QString Unreachable(const std::string& detail) const;
    QString ReplyTooLarge() const;

    TSourceSession& FSession;
    std::mutex FMutex; // guards the fields below
    std::string FMissing;
    bool FRetryPending = false;
    int FBackoffSeconds = 1;
    int FFailureWeight = 0; // how much the failure reported says: 0 none, 1 generic ... 3
};
