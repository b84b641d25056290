#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace orvik::publisher {

QString publisherVersion();

// Runs one invocation: arguments[0] is the program, arguments[1] the command. Results go to out,
// progress and the one-line reason of a failure to err. Returns the exit status.
int runCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace orvik::publisher
