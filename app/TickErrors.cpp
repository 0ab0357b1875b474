#include "app/TickErrors.h"

#include <exception>

void TTickErrors::Run(const std::function<void()>& tick, const TOutlet& show,
                      const TOutlet& status) {
    std::string failure;
    try {
        tick();
        return;
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (...) {
        failure = "Unknown error";
    }
    if (Occur(failure)) {
        show(failure);
    } else {
        status(StatusText());
    }
}

bool TTickErrors::Occur(const std::string& message) {
    const auto [entry, first] = FRepeats.try_emplace(Key(message), 0);
    if (first) {
        return true;
    }
    FLatest = message;
    FLatestRepeats = ++entry->second;
    return false;
}

std::string TTickErrors::StatusText() const {
    if (FLatestRepeats == 0) {
        return {};
    }
    return std::to_string(FLatestRepeats) +
           (FLatestRepeats == 1 ? " more time: " : " more times: ") + FLatest;
}

void TTickErrors::Reset() {
    FRepeats.clear();
    FLatest.clear();
    FLatestRepeats = 0;
}

std::string TTickErrors::Key(const std::string& message) {
    std::string key;
    std::size_t i = 0;
    while (i < message.size()) {
        const std::size_t open = message.find('"', i);
        const std::size_t close =
            open == std::string::npos ? std::string::npos : message.find('"', open + 1);
        if (close == std::string::npos) {
            key.append(message, i, std::string::npos);
            break;
        }
        const std::string quoted = message.substr(open + 1, close - open - 1);
        const std::size_t slash = quoted.find_last_of("/\\");
        key.append(message, i, open + 1 - i);
        key += slash == std::string::npos ? std::string{} : quoted.substr(0, slash + 1);
        key += '"';
        i = close + 1;
    }
    return key;
}
