#pragma once
// The error object of the serial port: a std::runtime_error whose text is one
// of the fixed kPort* messages, optionally with a detail line for the
// operator (what a refused setting was, and what the port can do instead).
// Handlers that know only std::runtime_error still print the fixed text.

#include <stdexcept>
#include <string>
#include <utility>

class PortError : public std::runtime_error {
  public:
    explicit PortError(const char* message, std::string detailLine = std::string())
        : std::runtime_error(message), detail(std::move(detailLine)) {}

    // The detail line without line end; empty when there is none.
    const std::string& Detail() const { return detail; }

  private:
    std::string detail;
};

// The detail line of error when it is a PortError, else empty.
inline std::string DetailOf(const std::exception& error) {
    const auto* portError = dynamic_cast<const PortError*>(&error);
    return portError != nullptr ? portError->Detail() : std::string();
}
