#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QTextStream>

namespace orvik::publisher {

// What every command gets: its parsed options (already checked for unknown ones) and streams.
struct TCommandContext
{
    QCommandLineParser& Parser;
    QTextStream& Out;
    QTextStream& Err;
};

// Each command first declares its options, then runs once they are parsed. A run returns the exit
// status or throws TPublisherError for a one-line failure.
void declarePublishOptions(QCommandLineParser& parser);
int runPublish(const TCommandContext& context);
void declareVerifyOptions(QCommandLineParser& parser);
int runVerify(const TCommandContext& context);
void declareConfigureOptions(QCommandLineParser& parser);
int runConfigure(const TCommandContext& context);
void declareDiffOptions(QCommandLineParser& parser);
int runDiff(const TCommandContext& context);
void declareKeygenOptions(QCommandLineParser& parser);
int runKeygen(const TCommandContext& context);

// Commands take options only; a stray word is most likely a value whose option was mistyped.
void rejectPositionalArguments(const QCommandLineParser& parser);

// The value of an option that must be given; throws TPublisherError naming it otherwise.
QString requiredValue(const QCommandLineParser& parser, const QString& name);

} // namespace orvik::publisher
