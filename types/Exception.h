#pragma once
// Errors of the whole system: exceptions that carry a message text. They are
// not caught where they arise; they end the command or timer tick and reach
// the application's standard error display.

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A property was given a value it cannot take ("Value must be between %d and %d").
class EInvalidOperation : public Exception {
    using Exception::Exception;
};

// A file could not be created or written ("Cannot create file \"%s\". %s").
class EFCreateError : public Exception {
    using Exception::Exception;
};

// The settings store refused a read or a write.
class ERegistryException : public Exception {
    using Exception::Exception;
};

// Floating-point faults ("Floating point division by zero", "Invalid floating point operation").
class EZeroDivide : public Exception {
    using Exception::Exception;
};
class EInvalidOp : public Exception {
    using Exception::Exception;
};

// The platform ran out of a resource ("Not enough timers available").
class EOutOfResources : public Exception {
    using Exception::Exception;
};

// An index outside a list or an image ("Scan line index out of range").
class EListError : public Exception {
    using Exception::Exception;
};
