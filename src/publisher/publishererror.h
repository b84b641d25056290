#pragma once

#include <QString>

#include <stdexcept>

namespace orvik::publisher {

// A publishing step that cannot go on; what() is one line meant for the person at the terminal.
class TPublisherError : public std::runtime_error
{
public:
    explicit TPublisherError(const QString& message)
        : std::runtime_error(message.simplified().toStdString())
    {}
};

} // namespace orvik::publisher
