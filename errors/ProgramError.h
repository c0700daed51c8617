#pragma once
// The end of a run that the program decides itself (a rejected argument, a
// data file that cannot be opened or read): the message for standard error,
// already formatted, and the exit status. FatalError raises it; the program
// flow's one handler catches it once everything the run had opened (the port
// above all) has been given back by unwinding, and the program then ends with
// the message and the status.
//
// It is not a std::runtime_error: nothing takes it for a port error.

#include <exception>
#include <string>
#include <utility>

class ProgramError : public std::exception {
  public:
    ProgramError(std::string messageText, int exitStatus)
        : message(std::move(messageText)), status(exitStatus) {}

    // The whole message, line end included.
    const char* what() const noexcept override { return message.c_str(); }
    int Status() const { return status; }

  private:
    std::string message;
    int status;
};
