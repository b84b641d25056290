// The demo game client: shows how the launcher started it and records the start, so that a
// person sees the launcher's work and the tests can check it.
#include "clientrecord.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// Closes the client by itself after the given milliseconds: for runs without a person.
const QString kExitAfterOption = QStringLiteral("--exit-after");

int exitAfterMilliseconds(const QStringList& arguments)
{
    const int index = arguments.indexOf(kExitAfterOption);
    return index >= 0 && index + 1 < arguments.size() ? arguments.at(index + 1).toInt() : -1;
}

QString describeForPeople(const QStringList& arguments, const QString& libraryPath)
{
    QString text = QStringLiteral("<h2>Kestrun Online</h2><p>The demo client was started by the "
                                  "launcher.</p><p><b>Working directory:</b> %1<br><b>Library "
                                  "path:</b> %2</p><p><b>Arguments:</b></p><ul>")
                       .arg(QDir::currentPath().toHtmlEscaped(), libraryPath.toHtmlEscaped());
    for (const QString& argument : arguments)
        text += QStringLiteral("<li>%1</li>").arg(argument.toHtmlEscaped());
    return text + QStringLiteral("</ul>");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString libraryPath = qEnvironmentVariable("LD_LIBRARY_PATH");
    if (!recordStart(application.applicationDirPath(),
                     describeStart(QDir::currentPath(), libraryPath, arguments)))
        qWarning("Could not record the start beside the client");

    QWidget window;
    window.setWindowTitle(QStringLiteral("Kestrun Online"));
    window.setStyleSheet(QStringLiteral("QWidget { background: #1d2a33; color: #DADABC; "
                                        "font-family: 'Liberation Sans'; font-weight: bold; }"));
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(describeForPeople(arguments, libraryPath));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
    auto* quit = new QPushButton(QStringLiteral("Leave the game"));
    QObject::connect(quit, &QPushButton::clicked, &application, &QApplication::quit);
    layout->addWidget(quit);
    window.resize(520, 320);
    window.show();

    if (const int milliseconds = exitAfterMilliseconds(arguments); milliseconds >= 0)
        QTimer::singleShot(milliseconds, &application, &QApplication::quit);
    return application.exec();
}
