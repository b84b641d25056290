#pragma once

#include <QColor>
#include <QString>
#include <QTextDocument>

// The one look of every widget: gold small capitals in Liberation Sans on dark artwork.
namespace orvik::launcher::uistyle {

inline const QString kImages = QStringLiteral(":/images/launcher/");
inline const QString kTextColour = QStringLiteral("#DADABC");

// Every text stands at least 4.5:1 against what is behind it, the artwork included.
inline const QColor kText(0xDA, 0xDA, 0xBC);
// Text on the gold of a progress bar's fill, which the light text would be lost on.
inline const QColor kTextOnGold(0x1A, 0x14, 0x08);
// The fill runs from the first gold at its top to the second at its bottom.
inline const QColor kGoldTop(0xE3, 0xC3, 0x70);
inline const QColor kGoldBottom(0xB4, 0x8D, 0x3E);
// Behind a hint's caption: dark enough for the light text even over a white picture.
inline const QColor kCaptionShade(20, 22, 28, 217);
// Dialogs and menus share the dark of the window's artwork.
inline const QColor kDialogBackground(0x1B, 0x1F, 0x27);
inline const QColor kDialogButton(0x2A, 0x30, 0x3B);
inline const QColor kLink(0xE8, 0xC8, 0x72);
// The frame around what has the keyboard focus, light against the dark artwork.
inline const QColor kFocusFrame(0xF6, 0xF3, 0xE4);

// A colour as a style sheet writes it.
inline QString css(const QColor& Colour)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(Colour.red())
        .arg(Colour.green())
        .arg(Colour.blue())
        .arg(Colour.alpha());
}

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
