#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QString>

#include <functional>
#include <initializer_list>
#include <map>

namespace orvik::launcher {

// A JSON document whose large top-level arrays are read a few hundred elements at a time. A
// package document of 200,000 files held whole as a QJsonDocument takes about 1 KB per file, more
// than the text itself; read in pieces it takes only what the pieces hold. Every piece and the
// rest of the document go through Qt's own parser, so the same texts are valid, with the same
// values; a document the pieces cannot be told apart in (escaped or repeated keys) is parsed
// whole.
class TPiecewiseJsonReader
{
public:
    // No document: not valid, no members.
    TPiecewiseJsonReader() = default;
    // Keys: the top-level members to read in pieces when they are arrays.
    TPiecewiseJsonReader(QByteArray Data, std::initializer_list<QLatin1String> Keys);

    // False for a text that is not valid JSON.
    bool isValid() const { return m_bValid; }
    // The document; the arrays read in pieces are empty in it.
    const QJsonDocument& document() const { return m_Document; }
    // How many elements the top-level array Key holds (0 when it is no array).
    int arraySize(const QString& Key) const;
    // Visits the elements of the top-level array Key in order until Visit returns false.
    void forEachElement(const QString& Key,
                        const std::function<bool(const QJsonValue&)>& Visit) const;

private:
    struct TSpan
    {
        int Begin = 0; // first byte after "["
        int End = 0;   // the closing "]"
        int Size = 0;
    };

    bool parsePiecewise(std::initializer_list<QLatin1String> Keys);
    // Visits the elements in pieces; false on a syntax error.
    bool visitPieces(const TSpan& Span, const std::function<bool(const QJsonValue&)>& Visit) const;

    QByteArray m_Data;
    QJsonDocument m_Document;
    std::map<QString, TSpan> m_Arrays;
    bool m_bValid = false;
};

} // namespace orvik::launcher
