#include "launcher/configuration/piecewisejsonreader.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <set>
#include <vector>

namespace orvik::launcher {

namespace {

// Elements parsed at once: small enough that a piece's values take little, large enough that
// the parser's set-up per piece does not count.
constexpr int kPieceSize = 512;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int skipSpace(const char* data, int i, int end)
{
    while (i < end && isSpace(data[i]))
        ++i;
    return i;
}

// From the opening quote to just past the closing one; -1 when the text ends first.
int skipString(const char* data, int i, int end)
{
    for (++i; i < end; ++i) {
        if (data[i] == '\\')
            ++i;
        else if (data[i] == '"')
            return i + 1;
    }
    return -1;
}

// Past one value starting at i, or -1 where no value can be told apart. Only the extent is
// found here; whether the value is valid JSON is Qt's parser's to say.
int skipValue(const char* data, int i, int end)
{
    if (i >= end)
        return -1;
    if (data[i] == '"')
        return skipString(data, i, end);
    if (data[i] != '{' && data[i] != '[') {
        const int begin = i;
        while (i < end && !isSpace(data[i]) && data[i] != ',' && data[i] != ']' && data[i] != '}')
            ++i;
        return i > begin ? i : -1;
    }
    std::vector<char> open;
    while (i < end) {
        const char c = data[i];
        if (c == '"') {
            i = skipString(data, i, end);
            if (i < 0)
                return -1;
            continue;
        }
        if (c == '{' || c == '[') {
            open.push_back(c);
        } else if (c == '}' || c == ']') {
            if (open.empty() || open.back() != (c == '}' ? '{' : '['))
                return -1;
            open.pop_back();
            if (open.empty())
                return i + 1;
        }
        ++i;
    }
    return -1;
}

} // namespace

TPiecewiseJsonReader::TPiecewiseJsonReader(QByteArray Data,
                                           std::initializer_list<QLatin1String> Keys)
    : m_Data(std::move(Data))
{
    if (parsePiecewise(Keys)) {
        m_bValid = true;
        return;
    }
    // Not told apart, or not valid: Qt's parser decides on the whole text.
    m_Arrays.clear();
    QJsonParseError error{};
    m_Document = QJsonDocument::fromJson(m_Data, &error);
    m_bValid = error.error == QJsonParseError::NoError;
}

bool TPiecewiseJsonReader::parsePiecewise(std::initializer_list<QLatin1String> Keys)
{
    const char* data = m_Data.constData();
    const int size = m_Data.size();
    int i = skipSpace(data, 0, size);
    if (i == size || data[i] != '{')
        return false;
    i = skipSpace(data, i + 1, size);
    QByteArray rest; // the document with the arrays read in pieces left empty
    int copied = 0;
    std::set<QString> seen;
    while (i == size || data[i] != '}') {
        if (i == size || data[i] != '"')
            return false;
        const int keyEnd = skipString(data, i, size);
        if (keyEnd < 0)
            return false;
        const QByteArray rawKey(data + i + 1, keyEnd - i - 2);
        if (rawKey.contains('\\'))
            return false;
        const QString key = QString::fromUtf8(rawKey);
        i = skipSpace(data, keyEnd, size);
        if (i == size || data[i] != ':')
            return false;
        i = skipSpace(data, i + 1, size);
        const int valueEnd = skipValue(data, i, size);
        if (valueEnd < 0)
            return false;
        if (std::find(Keys.begin(), Keys.end(), key) != Keys.end()) {
            // Of repeated keys the last one counts: left to the whole parse.
            if (!seen.insert(key).second)
                return false;
            if (data[i] == '[') {
                rest.append(data + copied, i - copied).append("[]");
                copied = valueEnd;
                m_Arrays[key] = TSpan{i + 1, valueEnd - 1, 0};
            }
        }
        i = skipSpace(data, valueEnd, size);
        if (i < size && data[i] == ',')
            i = skipSpace(data, i + 1, size);
        else if (i == size || data[i] != '}')
            return false;
    }
    rest.append(data + copied, size - copied);
    QJsonParseError error{};
    m_Document = QJsonDocument::fromJson(rest, &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    for (auto& [key, span] : m_Arrays) {
        int count = 0;
        if (!visitPieces(span, [&count](const QJsonValue&) { return ++count > 0; }))
            return false;
        span.Size = count;
    }
    return true;
}

int TPiecewiseJsonReader::arraySize(const QString& Key) const
{
    const auto found = m_Arrays.find(Key);
    if (found != m_Arrays.end())
        return found->second.Size;
    return m_Document.object().value(Key).toArray().size();
}

void TPiecewiseJsonReader::forEachElement(const QString& Key,
                                          const std::function<bool(const QJsonValue&)>& Visit) const
{
    const auto found = m_Arrays.find(Key);
    if (found != m_Arrays.end()) {
        visitPieces(found->second, Visit); // valid: every piece was parsed once already
        return;
    }
    for (const QJsonValue& value : m_Document.object().value(Key).toArray())
        if (!Visit(value))
            return;
}

bool TPiecewiseJsonReader::visitPieces(const TSpan& Span,
                                       const std::function<bool(const QJsonValue&)>& Visit) const
{
    const char* data = m_Data.constData();
    int i = skipSpace(data, Span.Begin, Span.End);
    int pieceBegin = i;
    int inPiece = 0;
    while (i < Span.End) {
        const int valueEnd = skipValue(data, i, Span.End);
        if (valueEnd < 0)
            return false;
        ++inPiece;
        i = skipSpace(data, valueEnd, Span.End);
        const bool last = i == Span.End;
        if (!last && data[i] != ',')
            return false;
        if (last || inPiece == kPieceSize) {
            QByteArray piece;
            piece.reserve(valueEnd - pieceBegin + 2);
            piece.append('[').append(data + pieceBegin, valueEnd - pieceBegin).append(']');
            QJsonParseError error{};
            const QJsonArray values = QJsonDocument::fromJson(piece, &error).array();
            if (error.error != QJsonParseError::NoError || values.size() != inPiece)
                return false;
            for (const QJsonValue& value : values)
                if (!Visit(value))
                    return true;
            inPiece = 0;
        }
        if (last)
            break;
        i = skipSpace(data, i + 1, Span.End);
        if (i == Span.End)
            return false; // a comma with no element after it
        if (inPiece == 0)
            pieceBegin = i;
    }
    return true;
}

} // namespace orvik::launcher
