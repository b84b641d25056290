// Draws every image of the launcher from code, so the artwork can be changed and made anew
// without anything from elsewhere. Usage: kestrun-artwork <image directory> [<icon directory>]
// Most images come twice: as drawn, and as "<name>@2x" for screens scaled by 2. The icon
// directory receives the application icon in the sizes of the desktop's hicolor theme.
#include "artworkpainter.h"

#include <QDir>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <cstdio>
#include <functional>

using namespace artwork;

namespace {

QDir g_Output;
bool g_bFailed = false;

void saveTo(const QImage& Image, const QString& Path)
{
    const bool jpeg = Path.endsWith(QLatin1String(".jpg"));
    if (!Image.save(Path, jpeg ? "JPG" : "PNG", jpeg ? 92 : -1)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(Path));
        g_bFailed = true;
    }
}

// Style sheets cut these into borders and middle at pixel offsets of the image (such as
// "border-image: url(...) 16 16 16 16"), and Qt takes those offsets in the pixels of whatever
// file it loaded: a @2x variant would be cut in the wrong places. They are scaled up instead.
bool isSlicedByStyleSheets(const QString& Name)
{
    return Name == QLatin1String("BackgroundImage.jpg") ||
           Name == QLatin1String("hint-background.png") ||
           Name == QLatin1String("clientpackage-background.png") ||
           Name.startsWith(QLatin1String("Button_"));
}

void save(const QImage& Image, const QString& Name)
{
    if (scale() != 1 && isSlicedByStyleSheets(Name))
        return;
    QString name = Name;
    if (scale() != 1)
        name.insert(name.lastIndexOf('.'), QStringLiteral("@%1x").arg(scale()));
    saveTo(Image, g_Output.filePath(name));
}

// A mountain ridge across the width, from a seed so the drawing is the same every time.
QPainterPath ridge(int Width, int Height, qreal Base, qreal Amplitude, quint32 Seed)
{
    QRandomGenerator random(Seed);
    QPainterPath path;
    path.moveTo(0, Height);
    qreal y = Base;
    path.lineTo(0, y);
    for (int x = 0; x <= Width; x += 40) {
        y = Base - Amplitude * random.generateDouble();
        path.lineTo(x, y);
    }
    path.lineTo(Width, Height);
    path.closeSubpath();
    return path;
}

void makeBackground()
{
    // The lower 450 px are shown whole; the upper part stretches with the window's height, so
    // it holds nothing but sky.
    const int width = 800;
    const int height = 600;
    QImage image = scaledImage(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0.0, QColor(0x0B, 0x0E, 0x15));
    sky.setColorAt(0.45, QColor(0x1A, 0x22, 0x33));
    sky.setColorAt(0.62, QColor(0x3A, 0x34, 0x33));
    sky.setColorAt(1.0, QColor(0x0C, 0x0E, 0x13));
    painter.fillRect(image.rect(), sky);

    // A low sun behind the ridges.
    QRadialGradient glow(QPointF(width * 0.62, 372), 260);
    glow.setColorAt(0, QColor(0xE8, 0xC8, 0x80, 120));
    glow.setColorAt(1, QColor(0xE8, 0xC8, 0x80, 0));
    painter.fillRect(image.rect(), glow);

    const struct
    {
        qreal base;
        qreal amplitude;
        QColor colour;
        quint32 seed;
    } layers[] = {{360, 90, QColor(0x2A, 0x2F, 0x3C), 7},
                  {410, 80, QColor(0x1C, 0x21, 0x2C), 11},
                  {470, 60, QColor(0x12, 0x16, 0x1E), 23}};
    for (const auto& layer : layers)
        painter.fillPath(ridge(width, height, layer.base, layer.amplitude, layer.seed),
                         layer.colour);

    // Darker edges keep the tiles and the texts in the middle readable.
    QRadialGradient vignette(QPointF(width / 2.0, height * 0.6), width * 0.75);
    vignette.setColorAt(0.55, QColor(0, 0, 0, 0));
    vignette.setColorAt(1.0, QColor(0, 0, 0, 170));
    painter.fillRect(image.rect(), vignette);
    painter.end();
    save(image, QStringLiteral("BackgroundImage.jpg"));
}

void makeButtons()
{
    const struct
    {
        const char* name;
        QColor colour;
    } colours[] = {{"Blue", QColor(0x2F, 0x6F, 0xB8)},
                   {"Orange", QColor(0xD2, 0x7D, 0x2A)},
                   {"Green", QColor(0x3A, 0x96, 0x48)},
                   {"Red", QColor(0xA8, 0x36, 0x36)}};
    for (const auto& colour : colours) {
        const struct
        {
            const char* state;
            QColor top;
            QColor bottom;
        } states[] = {{"idle", colour.colour.lighter(118), colour.colour.darker(135)},
                      {"hover", colour.colour.lighter(140), colour.colour.darker(112)},
                      {"pressed", colour.colour.darker(150), colour.colour.darker(110)}};
        for (const auto& state : states) {
            QImage image = transparentImage(98, 40);
            drawPanel(image, QRectF(0, 0, 98, 40), 5, state.top, state.bottom,
                      colour.colour.darker(220));
            save(image, QStringLiteral("Button_%1_%2.png").arg(colour.name, state.state));
        }
    }
}

void drawIcon(const QString& Name, const std::function<void(QPainter&)>& Draw)
{
    QImage image = transparentImage(24, 24);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(0xF6, 0xF3, 0xE4), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    Draw(painter);
    painter.end();
    save(image, Name);
}

void makeIcons()
{
    drawIcon(QStringLiteral("Icon_Download.png"), [](QPainter& Painter) {
        Painter.drawLine(QPointF(12, 3), QPointF(12, 15));
        Painter.drawPolyline(QPolygonF({{6.5, 10}, {12, 15.5}, {17.5, 10}}));
        Painter.drawPolyline(QPolygonF({{4, 16}, {4, 20.5}, {20, 20.5}, {20, 16}}));
    });
    drawIcon(QStringLiteral("Icon_Update.png"), [](QPainter& Painter) {
        const QRectF circle(4.5, 4.5, 15, 15);
        Painter.drawArc(circle, 30 * 16, 150 * 16);
        Painter.drawArc(circle, 210 * 16, 150 * 16);
        Painter.setBrush(Painter.pen().color());
        Painter.setPen(Qt::NoPen);
        Painter.drawPolygon(QPolygonF({{18.8, 3.2}, {21.5, 10.2}, {14.6, 9.0}}));
        Painter.drawPolygon(QPolygonF({{5.2, 20.8}, {2.5, 13.8}, {9.4, 15.0}}));
    });
    drawIcon(QStringLiteral("Icon_Play.png"), [](QPainter& Painter) {
        Painter.setBrush(Painter.pen().color());
        Painter.drawPolygon(QPolygonF({{8, 4.5}, {19.5, 12}, {8, 19.5}}));
    });
}

void makeProgressBar()
{
    QImage background = transparentImage(98, 40);
    drawPanel(background, QRectF(0, 0, 98, 40), 5, QColor(0x0A, 0x0C, 0x11, 235),
              QColor(0x1C, 0x20, 0x2A, 235), QColor(0x55, 0x4D, 0x38));
    save(background, QStringLiteral("ProgressBar_BG.png"));

    QImage chunk = transparentImage(98, 40);
    drawPanel(chunk, QRectF(0, 0, 98, 40), 4, QColor(0xC9, 0xA4, 0x52), QColor(0x7E, 0x5E, 0x22),
              QColor(0x4A, 0x38, 0x16));
    save(chunk, QStringLiteral("ProgressBar.png"));
}

void makeCheckboxes()
{
    for (const bool checked : {false, true}) {
        QImage image = transparentImage(16, 16);
        drawPanel(image, QRectF(1, 1, 14, 14), 3, QColor(0x20, 0x25, 0x31),
                  QColor(0x0E, 0x11, 0x17), kGold.darker(130));
        if (checked) {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(kGold, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPolyline(QPolygonF({{4.2, 8.2}, {7, 11}, {12, 5}}));
        }
        save(image, checked ? QStringLiteral("checkbox-checked.png")
                            : QStringLiteral("checkbox-unchecked.png"));
    }
}

void makePanels()
{
    // Tile: 16 px borders around a middle that is repeated, so the fill must be even.
    QImage tile = transparentImage(64, 64);
    drawPanel(tile, QRectF(0, 0, 64, 64), 10, QColor(0x14, 0x18, 0x22, 220),
              QColor(0x14, 0x18, 0x22, 220), QColor(0x6A, 0x5F, 0x42, 220));
    save(tile, QStringLiteral("clientpackage-background.png"));

    // Hint area: 5 px borders, open at the bottom edge of the window.
    QImage hint = transparentImage(32, 32);
    drawPanel(hint, QRectF(0, 0, 32, 40), 5, QColor(0x12, 0x16, 0x1F, 200),
              QColor(0x08, 0x0A, 0x0E, 220), QColor(0x5A, 0x51, 0x38, 200));
    save(hint, QStringLiteral("hint-background.png"));
}

void makeScrollBar()
{
    QImage texture = transparentImage(12, 32);
    texture.fill(QColor(0x0C, 0x0F, 0x15, 200));
    save(texture, QStringLiteral("scrollbar-texture-vertical.png"));

    QImage handle = transparentImage(12, 24);
    drawPanel(handle, QRectF(1, 0, 10, 24), 4, kGold.darker(140), kGold.darker(220),
              QColor(0x2A, 0x24, 0x18));
    save(handle, QStringLiteral("scrollbar-handle-vertical.png"));

    for (const bool up : {true, false}) {
        for (const bool pressed : {false, true}) {
            QImage image = transparentImage(12, 12);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(pressed ? kGold : kGold.darker(150));
            painter.drawPolygon(up ? QPolygonF({{6, 3}, {10.5, 9}, {1.5, 9}})
                                   : QPolygonF({{6, 9}, {10.5, 3}, {1.5, 3}}));
            painter.end();
            save(image, QStringLiteral("scrollbar-button%1-%2.png")
                            .arg(up ? "up" : "down", pressed ? "down" : "up"));
        }
    }
}

// A package logo: the emblem over the game's name and the kind of client.
QImage packageLogo(const QString& Kind, const QColor& KindColour)
{
    QImage image = transparentImage(196, 152);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QRadialGradient halo(QPointF(98, 52), 70);
        halo.setColorAt(0, QColor(0xE8, 0xC8, 0x80, 70));
        halo.setColorAt(1, QColor(0xE8, 0xC8, 0x80, 0));
        painter.fillRect(image.rect(), halo);
        QLinearGradient metal(0, 12, 0, 92);
        metal.setColorAt(0, QColor(0xF2, 0xE6, 0xB8));
        metal.setColorAt(1, kDeepGold);
        painter.setPen(QPen(QColor(0x3A, 0x2E, 0x12), 1.5));
        painter.setBrush(metal);
        painter.drawPath(emblemPath(QRectF(66, 10, 64, 80)));
    }
    drawText(image, QRectF(0, 92, 196, 32), QStringLiteral("KESTRUN"), 28, kGold, 3);
    drawText(image, QRectF(0, 124, 196, 20), Kind, 13, KindColour, 4);
    return image;
}

void makeLogos()
{
    const struct
    {
        const char* word;
        const char* kind;
        QColor colour;
    } kinds[] = {{"QT", "ONLINE", QColor(0xC8, 0xC8, 0xB0)},
                 {"Classic", "CLASSIC", QColor(0xC8, 0xB0, 0x80)},
                 {"Preview", "PREVIEW", QColor(0x8C, 0xC0, 0xE8)},
                 {"Beta", "BETA", QColor(0xE8, 0xA0, 0x60)},
                 {"Test", "TEST", QColor(0xD0, 0x80, 0x80)}};
    for (const auto& kind : kinds) {
        const QImage logo = packageLogo(QString::fromLatin1(kind.kind), kind.colour);
        save(logo, QStringLiteral("KestrunLogo_%1.png").arg(kind.word));
        save(desaturated(logo, 0.55), QStringLiteral("KestrunLogo_%1_disabled.png").arg(kind.word));
    }

    // The splash screens: the logo on a dark card of the same size.
    for (const bool updating : {false, true}) {
        QImage splash = transparentImage(196, 152);
        drawPanel(splash, QRectF(0, 0, 196, 152), 10, kSlate, kNight, kGold.darker(170));
        QImage logo =
            packageLogo(updating ? QStringLiteral("UPDATING...") : QStringLiteral("LAUNCHER"),
                        QColor(0xC8, 0xC8, 0xB0));
        QPainter painter(&splash);
        painter.drawImage(QRectF(8, 4, 180, 140), logo);
        painter.end();
        save(splash, updating ? QStringLiteral("LauncherLogo_UpdatingLauncher.png")
                              : QStringLiteral("LauncherLogo_QT.png"));
    }
}

void makeMakerLogo()
{
    QImage image = transparentImage(132, 34);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(kGold, 2));
        painter.setBrush(Qt::NoBrush);
        // An H made of two towers and a bridge.
        painter.drawRect(QRectF(4, 6, 6, 22));
        painter.drawRect(QRectF(18, 6, 6, 22));
        painter.drawLine(QPointF(10, 17), QPointF(18, 17));
    }
    drawText(image, QRectF(30, 0, 102, 34), QStringLiteral("HALVERN"), 17, kGold, 2,
             Qt::AlignLeft | Qt::AlignVCenter);
    save(image, QStringLiteral("HalvernLogo.png"));
}

void makeLinkIcons()
{
    drawIcon(QStringLiteral("icircle.png"), [](QPainter& Painter) {
        Painter.setPen(QPen(kGold, 2));
        Painter.drawEllipse(QRectF(3, 3, 18, 18));
        Painter.drawLine(QPointF(12, 10.5), QPointF(12, 17));
        Painter.setBrush(kGold);
        Painter.drawEllipse(QPointF(12, 7), 0.9, 0.9);
    });
    // Generic signs for the social channel and the chat server.
    drawIcon(QStringLiteral("Twitter.png"), [](QPainter& Painter) {
        Painter.setPen(QPen(kGold, 1.8));
        Painter.setBrush(kGold);
        const QPointF nodes[] = {{6, 12}, {17, 6}, {17, 18}};
        Painter.drawLine(nodes[0], nodes[1]);
        Painter.drawLine(nodes[0], nodes[2]);
        for (const QPointF& node : nodes)
            Painter.drawEllipse(node, 2.8, 2.8);
    });
    drawIcon(QStringLiteral("Discord.png"), [](QPainter& Painter) {
        Painter.setPen(QPen(kGold, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(3, 4, 18, 13), 4, 4);
        bubble.moveTo(8, 17);
        bubble.lineTo(7, 21);
        bubble.lineTo(12, 17);
        Painter.drawPath(bubble.simplified());
        Painter.setBrush(kGold);
        for (const qreal x : {8.0, 12.0, 16.0})
            Painter.drawEllipse(QPointF(x, 10.5), 1.0, 1.0);
    });
}

// The application icon: the emblem on a dark rounded card, drawn anew for each size so that
// small icons stay crisp rather than being shrunk from a large one.
void makeApplicationIcons(const QDir& Directory)
{
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal unit = size / 64.0;
        const QRectF card(2 * unit, 2 * unit, 60 * unit, 60 * unit);
        QLinearGradient fill(card.topLeft(), card.bottomLeft());
        fill.setColorAt(0, kSlate);
        fill.setColorAt(1, kNight);
        painter.setPen(QPen(kGold.darker(150), qMax(1.0, 2 * unit)));
        painter.setBrush(fill);
        painter.drawRoundedRect(card, 12 * unit, 12 * unit);
        QLinearGradient metal(0, 10 * unit, 0, 54 * unit);
        metal.setColorAt(0, QColor(0xF2, 0xE6, 0xB8));
        metal.setColorAt(1, kDeepGold);
        painter.setPen(size >= 48 ? QPen(QColor(0x3A, 0x2E, 0x12), unit) : Qt::NoPen);
        painter.setBrush(metal);
        painter.drawPath(emblemPath(QRectF(13 * unit, 9 * unit, 38 * unit, 46 * unit)));
        painter.end();
        const QString folder = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        if (!Directory.mkpath(folder)) {
            std::fprintf(stderr, "could not create %s\n", qPrintable(Directory.filePath(folder)));
            g_bFailed = true;
            continue;
        }
        saveTo(image,
               Directory.filePath(folder + QStringLiteral("/com.halvern.KestrunLauncher.png")));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: kestrun-artwork <image directory> [<icon directory>]\n");
        return 2;
    }
    g_Output = QDir(QString::fromLocal8Bit(argv[1]));
    if (!g_Output.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "could not create %s\n", argv[1]);
        return 1;
    }
    for (const int factor : {1, 2}) {
        setScale(factor);
        makeBackground();
        makeButtons();
        makeIcons();
        makeProgressBar();
        makeCheckboxes();
        makePanels();
        makeScrollBar();
        makeLogos();
        makeMakerLogo();
        makeLinkIcons();
    }
    if (argc == 3)
        makeApplicationIcons(QDir(QString::fromLocal8Bit(argv[2])));
    return g_bFailed ? 1 : 0;
}
