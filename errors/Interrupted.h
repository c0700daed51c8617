#pragma once
// The error that ends a run the operator asked to end (serial/Interrupt.h):
// raised by the port, it unwinds through the port's destructor (the port is
// given back) to the program flow, which ends the program as the request
// would have. It is not a std::runtime_error: nothing takes it for a port
// error.

#include <exception>

class InterruptedError : public std::exception {
  public:
    explicit InterruptedError(int interruptRequest) : request(interruptRequest) {}

    const char* what() const noexcept override { return "interrupted"; }
    // The platform's code of the request (serial/Interrupt.h).
    int Request() const { return request; }

  private:
    int request;
};
