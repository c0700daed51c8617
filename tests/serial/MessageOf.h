#pragma once
// The text of the error an action raises, for comparing with the port's
// fixed messages.

#include <functional>
#include <stdexcept>
#include <string>

inline std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(nothing raised)";
}
