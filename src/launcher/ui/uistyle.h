#pragma once

#include <QString>
#include <QTextDocument>

// The one look of every widget: gold small capitals in Liberation Sans on dark artwork.
namespace orvik::launcher::uistyle {

inline const QString kImages = QStringLiteral(":/images/launcher/");
inline const QString kTextColour = QStringLiteral("#DADABC");

inline QString image(const QString& Name)
{
    return kImages + Name;
}

// The font declarations of a style sheet, at the given pixel size.
inline QString font(int PixelSize)
{
    return QStringLiteral("font-family: \"Liberation Sans\"; font-variant: small-caps; "
                          "font-size: %1px; font-weight: bold; color: #DADABC;")
        .arg(PixelSize);
}

inline QString labelStyle(int PixelSize)
{
    return QStringLiteral("QLabel { %1 }").arg(font(PixelSize));
}

// A label whose rich text is an image wrapped in a link.
inline QString imageLink(const QString& Target, const QString& ImagePath)
{
    return QStringLiteral("<a href=\"%1\"><img src=\"%2\"/></a>")
        .arg(Target.toHtmlEscaped(), ImagePath.toHtmlEscaped());
}

// A tool tip that shows Text as it is written. Tool tips are taken for rich text when they look
// like it, and rich text from a document could name local files as images.
inline QString plainToolTip(const QString& Text)
{
    return Text.isEmpty() ? Text : Qt::convertFromPlainText(Text, Qt::WhiteSpaceNoWrap);
}

} // namespace orvik::launcher::uistyle
