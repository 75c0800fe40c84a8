// The one failure type of the whole program: every failure carries one message text.
#pragma once

#include <exception>
#include <string>
#include <utility>

class EVeskError : public std::exception {
public:
    explicit EVeskError(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    const std::string& Text() const noexcept { return Message; }

private:
    std::string Message;
};
