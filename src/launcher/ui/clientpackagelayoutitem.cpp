#include "launcher/ui/clientpackagelayoutitem.h"

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/ui/logname.h"
#include "launcher/ui/progresstext.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "launcher/ui/tileprogressbar.h"
#include "launcher/ui/uistyle.h"
#include "shared/qtextbrowserwithnetwork/weblink.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>

#include <algorithm>

namespace orvik::launcher {

namespace {

const QSize kLogoSize(196, 152);
const QSize kButtonSize(98, 40);

QString logoKindWord(const TPackageConfigurationReader* pConfiguration)
{
    if (!pConfiguration)
        return QStringLiteral("QT");
    if (pConfiguration->getGeneration() == EPackageGeneration::FirstGeneration)
        return QStringLiteral("Classic");
    switch (pConfiguration->getVariant()) {
    case EPackageVariant::Preview:
        return QStringLiteral("Preview");
    case EPackageVariant::Beta:
        return QStringLiteral("Beta");
    case EPackageVariant::Test:
        return QStringLiteral("Test");
    default:
        return QStringLiteral("QT");
    }
}

QString buttonStateStyle(const QString& Selector, const QString& Colour, const QString& State)
{
    return QStringLiteral("%1 { border-image: url(%2) 4 4 4 4 repeat scale; border-top: 4px "
                          "transparent; border-left: 4px transparent; border-bottom: 4px "
                          "transparent; border-right: 4px transparent; ")
        .arg(Selector, uistyle::image(QStringLiteral("Button_%1_%2.png").arg(Colour, State)));
}

QString buttonStyle(const QString& Colour, const QString& IconWord)
{
    return buttonStateStyle(QStringLiteral("QPushButton"), Colour, QStringLiteral("idle")) +
           QStringLiteral("image: url(%1); } ")
               .arg(uistyle::image(QStringLiteral("Icon_%1.png").arg(IconWord))) +
           buttonStateStyle(QStringLiteral("QPushButton:hover"), Colour, QStringLiteral("hover")) +
           QStringLiteral("} ") +
           buttonStateStyle(QStringLiteral("QPushButton:pressed"), Colour,
                            QStringLiteral("pressed")) +
           QStringLiteral("padding-top: 1px; padding-left: 1px; padding-bottom: -1px; "
                          "padding-right: -1px; } "
                          "QToolTip { border: 1px solid black; background: #c0c0c0; padding-top: "
                          "1px; padding-left: 1px; padding-bottom: 1px; padding-right: 1px; "
                          "font-family: \"Liberation Sans\"; font-variant: small-caps; "
                          "font-size: 11px; font-weight: bold; color: #3F3F3F; }");
}

// The fill is a gold light enough for the dark text the bar writes on it.
const QString kProgressBarStyle = QStringLiteral(
    "QProgressBar { border-image: url(:/images/launcher/ProgressBar_BG.png); %1 text-align: "
    "center; border-top: 2px; border-left: 2px; border-bottom: 2px; border-right: 2px; } "
    "QProgressBar::chunk { border-radius: 4px; border: 1px solid #6B5220; background: "
    "qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 %2, stop: 1 %3); }");

// What a screen reader says for the action button in each state.
struct TButtonSpeech
{
    QString Name;
    QString Description;
};

const QString kCheckboxStyle = QStringLiteral("QCheckBox { %1 } "
                                              "QCheckBox::indicator:unchecked { image: "
                                              "url(:/images/launcher/checkbox-unchecked.png); } "
                                              "QCheckBox::indicator:checked { image: "
                                              "url(:/images/launcher/checkbox-checked.png); }");

const QString kGroupBoxStyle = QStringLiteral(
    "QGroupBox { border-image: url(:/images/launcher/clientpackage-background.png) 16 16 16 16 "
    "repeat repeat; border-top: 16px transparent; border-left: 16px transparent; "
    "border-bottom: 16px transparent; border-right: 16px transparent; background-attachment: "
    "fixed; padding-top: -6px; padding-left: -2px; padding-bottom: -8px; padding-right: -2px; }");

} // namespace

TClientPackageLayoutItem::TClientPackageLayoutItem(std::shared_ptr<TPackage> pPackage,
                                                   bool ShowPackageName)
    : m_pPackage(std::move(pPackage))
{
    m_pLogoLabel = new QLabel;
    m_pLogoLabel->setFixedSize(kLogoSize);
    // The link target comes from the launcher configuration: only a web page is opened.
    m_pLogoLabel->setOpenExternalLinks(false);
    connect(m_pLogoLabel, &QLabel::linkActivated, this,
            [](const QString& Link) { ::shared::openWebLink(QUrl(Link)); });
    updatePackageImageFromPackageStatus();

    m_pButton = new QContextPushButton;
    m_pButton->setFixedSize(QPixmap(uistyle::image(QStringLiteral("Button_Blue_idle.png"))).size());
    updateButtonFromPackageStatus();
    connect(m_pButton, &QPushButton::clicked, this, [this] { emit buttonClicked(m_pPackage); });
    connect(m_pButton, &QContextPushButton::contextTriggered, this,
            [this](const QString&) { emit verifyButtonClicked(m_pPackage); });

    m_pProgressBar = new TTileProgressBar;
    m_pProgressBar->setFixedSize(m_pButton->size());
    m_pProgressBar->setRange(0, 100);
    m_pProgressBar->setValue(0);
    m_pProgressBar->setTextVisible(true);
    // A running installation can be paused, to be resumed where it stopped, or cancelled; both
    // keep what was written.
    m_pProgressBar->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* pause = new QAction(tr("Pause"), m_pProgressBar);
    auto* cancel = new QAction(tr("Cancel"), m_pProgressBar);
    auto* limit = new QAction(tr("Limit download speed..."), m_pProgressBar);
    m_pProgressBar->addAction(pause);
    m_pProgressBar->addAction(cancel);
    m_pProgressBar->addAction(limit);
    connect(limit, &QAction::triggered, this, &TClientPackageLayoutItem::speedLimitRequested);
    connect(pause, &QAction::triggered, this, [this] {
        m_bPaused = true;
        emit stopRequested(m_pPackage, true);
    });
    connect(cancel, &QAction::triggered, this, [this] {
        m_bPaused = false;
        emit stopRequested(m_pPackage, false);
    });
    m_pProgressBar->setStyleSheet(kProgressBarStyle.arg(uistyle::font(13), uistyle::kGoldTop.name(),
                                                        uistyle::kGoldBottom.name()));
    m_pProgressBar->setAccessibleName(tr("Progress of %1").arg(m_pPackage->getName()));
    m_pProgressBar->setAccessibleDescription(tr("Not started"));

    if (ShowPackageName) {
        m_pNameLabel = new QLabel;
        m_pNameLabel->setTextFormat(Qt::PlainText);
        m_pNameLabel->setStyleSheet(uistyle::labelStyle(13));
    }
    m_pVersionLabel = new QLabel;
    m_pVersionLabel->setTextFormat(Qt::PlainText);
    m_pVersionLabel->setStyleSheet(uistyle::labelStyle(13));
    updatePackageNameAndVersion();

    m_pDetailLabel = new QLabel;
    m_pDetailLabel->setTextFormat(Qt::PlainText);
    m_pDetailLabel->setStyleSheet(uistyle::labelStyle(11));
    m_pDetailLabel->hide();

    m_pDefaultClientCheckbox = new QCheckBox(tr("Default Client"));
    QSizePolicy keepSpace = m_pDefaultClientCheckbox->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_pDefaultClientCheckbox->setSizePolicy(keepSpace);
    m_pDefaultClientCheckbox->setStyleSheet(kCheckboxStyle.arg(uistyle::font(13)));
    m_pDefaultClientCheckbox->setAccessibleName(tr("Default Client"));
    logname::set(m_pDefaultClientCheckbox, QStringLiteral("Default Client"));
    m_pDefaultClientCheckbox->setAccessibleDescription(
        tr("Start %1 at once whenever the launcher starts").arg(m_pPackage->getName()));
    connect(m_pDefaultClientCheckbox, &QCheckBox::stateChanged, this,
            [this](int State) { emit defaultChanged(m_pPackage, State == Qt::Checked); });

    setSpacing(0);
    addWidget(m_pLogoLabel, 0, Qt::AlignHCenter | Qt::AlignTop);
    addSpacing(6);
    addWidget(makeGroupBox(), 0, Qt::AlignHCenter | Qt::AlignTop);

    connect(m_pPackage.get(), &TPackage::localPackageStatusChanged, this,
            &TClientPackageLayoutItem::onLocalPackageStatusChanged);
    m_pProgressBar->hide();
    m_pButton->show();
    updateDefaultClientCheckboxFromPackageStatus();
}

QGroupBox* TClientPackageLayoutItem::makeGroupBox()
{
    auto* group = new QGroupBox;
    group->setAlignment(Qt::AlignHCenter);
    group->setStyleSheet(kGroupBoxStyle);
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(0);
    // Two rows of tiles and the hint area must fit the window's maximum height.
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(m_pProgressBar, 0, Qt::AlignHCenter);
    layout->addWidget(m_pButton, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    if (m_pNameLabel)
        layout->addWidget(m_pNameLabel, 0, Qt::AlignHCenter);
    layout->addWidget(m_pVersionLabel, 0, Qt::AlignHCenter);
    layout->addWidget(m_pDefaultClientCheckbox, 0, Qt::AlignHCenter);
    layout->addWidget(m_pDetailLabel, 0, Qt::AlignHCenter);
    return group;
}

QString TClientPackageLayoutItem::logoImagePath() const
{
    const bool installed = m_pPackage->getLocalStatus() == ELocalPackageStatus::Installed;
    return uistyle::image(QStringLiteral("KestrunLogo_%1%2.png")
                              .arg(logoKindWord(m_pPackage->getConfiguration()),
                                   installed ? QString() : QStringLiteral("_disabled")));
}

void TClientPackageLayoutItem::updatePackageImageFromPackageStatus()
{
    const QString path = logoImagePath();
    const QUrl& target = m_pPackage->getLogoLinkTarget();
    if (!target.isEmpty() && !::shared::isWebLink(target))
        qWarning() << "Logo link of" << m_pPackage->getName()
                   << "left out, it is no web address:" << target.toString() << threadSuffix;
    if (!::shared::isWebLink(target)) {
        m_pLogoLabel->setText(QString());
        m_pLogoLabel->setStyleSheet(QStringLiteral("QLabel { image: url(%1); }").arg(path));
    } else {
        m_pLogoLabel->setStyleSheet(QString());
        m_pLogoLabel->setTextFormat(Qt::RichText);
        m_pLogoLabel->setText(uistyle::imageLink(target.toString(QUrl::FullyEncoded), path));
    }
    m_pLogoLabel->setToolTip(uistyle::plainToolTip(m_pPackage->getName()));
    m_pLogoLabel->setAccessibleName(m_pPackage->getName());
    const bool installed = m_pPackage->getLocalStatus() == ELocalPackageStatus::Installed;
    m_pLogoLabel->setAccessibleDescription(
        ::shared::isWebLink(target) ? tr("Logo, opens %1").arg(target.toString(QUrl::FullyEncoded))
        : installed                 ? tr("Logo, installed")
                                    : tr("Logo, not installed"));
}

void TClientPackageLayoutItem::updateButtonFromPackageStatus()
{
    const QString name = m_pPackage->getName();
    QString colour = QStringLiteral("Red");
    QString iconWord;
    QStringList menuTexts;
    // The button shows only an icon: a screen reader needs its word.
    TButtonSpeech speech{tr("Unavailable"), tr("The state of %1 is not known yet").arg(name)};
    switch (m_pPackage->getLocalStatus()) {
    case ELocalPackageStatus::Unknown:
        break;
    case ELocalPackageStatus::NotInstalled:
        colour = QStringLiteral("Blue");
        iconWord = QStringLiteral("Download");
        speech = {tr("Download"), tr("Download and install %1").arg(name)};
        break;
    case ELocalPackageStatus::PartiallyInstalled:
    case ELocalPackageStatus::UpdateAvailable:
        colour = QStringLiteral("Orange");
        iconWord = QStringLiteral("Update");
        speech = {tr("Update"), tr("Bring %1 up to date").arg(name)};
        break;
    case ELocalPackageStatus::Installed:
    default:
        colour = QStringLiteral("Green");
        iconWord = QStringLiteral("Play");
        menuTexts << tr("Verify");
        speech = {tr("Play"), tr("Start %1; its context menu offers Verify").arg(name)};
        break;
    }
    m_pButton->setAccessibleName(speech.Name);
    // The icon's English word names its picture and, for support, the button in the log.
    logname::set(m_pButton, iconWord.isEmpty() ? QStringLiteral("Unavailable") : iconWord);
    m_pButton->setAccessibleDescription(speech.Description);
    m_pButton->menu().clear();
    for (const QString& text : menuTexts)
        m_pButton->menu().addAction(text);
    const bool resumes =
        m_bPaused && (iconWord == QLatin1String("Download") || iconWord == QLatin1String("Update"));
    m_pButton->setToolTip(resumes ? tr("Resume") : iconWord.isEmpty() ? QString() : speech.Name);
    // Said on the tile too: a tool tip alone leaves the player wondering why it stopped.
    if (resumes)
        showDetail(tr("Paused"));
    if (!resumes && m_InstallEstimate &&
        (iconWord == QLatin1String("Download") || iconWord == QLatin1String("Update")))
        m_pButton->setToolTip(
            speech.Name + QStringLiteral("\n") +
            progresstext::estimateText(*m_InstallEstimate, iconWord == QLatin1String("Update")));
    m_pButton->setFixedSize(kButtonSize);
    m_pButton->setStyleSheet(buttonStyle(colour, iconWord));
}

void TClientPackageLayoutItem::setInstallEstimate(const TInstallEstimate& Estimate)
{
    m_InstallEstimate = Estimate;
    updateButtonFromPackageStatus();
}

void TClientPackageLayoutItem::setPaused(bool Paused)
{
    m_bPaused = Paused;
    if (Paused)
        qInfo() << "Tile" << m_pPackage->getName() << "offers to resume" << threadSuffix;
    updateButtonFromPackageStatus();
}

void TClientPackageLayoutItem::updatePackageNameAndVersion()
{
    if (m_pNameLabel)
        m_pNameLabel->setText(m_pPackage->getName());
    const TPackageConfigurationReader* configuration = m_pPackage->getConfiguration();
    if (!configuration)
        m_pVersionLabel->setText(QString());
    else
        m_pVersionLabel->setText(configuration->getVersion().isEmpty()
                                     ? QStringLiteral("?")
                                     : configuration->getVersion());
}

void TClientPackageLayoutItem::updateDefaultClientCheckboxFromPackageStatus()
{
    m_pDefaultClientCheckbox->setVisible(m_pPackage->getLocalStatus() ==
                                         ELocalPackageStatus::Installed);
}

void TClientPackageLayoutItem::onLocalPackageStatusChanged()
{
    updatePackageImageFromPackageStatus();
    updateButtonFromPackageStatus();
    updatePackageNameAndVersion();
    updateDefaultClientCheckboxFromPackageStatus();
}

void TClientPackageLayoutItem::onInstallationOrUpdateStarted(TPackageInstallation* pInstallation)
{
    disconnectInstallation();
    m_pDownloader = &pInstallation->getPackageFileDownloader();
    m_pProgressBar->setRange(0, progresstext::kBarMaximum);
    m_pProgressBar->setValue(0);
    m_pProgressBar->setFormat(QString());
    m_InstallationConnections = {
        connect(pInstallation, &TPackageInstallation::scanProgress, this,
                &TClientPackageLayoutItem::onScanProgress, Qt::QueuedConnection),
        connect(pInstallation, &TPackageInstallation::writeProgress, this,
                &TClientPackageLayoutItem::onWriteProgress, Qt::QueuedConnection),
        connect(pInstallation, &TPackageInstallation::verificationProgress, this,
                &TClientPackageLayoutItem::onVerificationProgress, Qt::QueuedConnection),
        connect(m_pDownloader, &TPackageFileDownloader::progress, this,
                &TClientPackageLayoutItem::onDownloadProgress),
        // The installation goes away when it ends; the tile must not ask its downloader again.
        connect(pInstallation, &QObject::destroyed, this, [this] { disconnectInstallation(); })};
    m_Estimate.reset();
    m_Clock.start();
    m_bPaused = false;
    m_pButton->hide();
    m_pProgressBar->show();
}

void TClientPackageLayoutItem::onInstallationOrUpdateFinished(TPackageInstallation*)
{
    disconnectInstallation();
    m_CurrentPhase.clear();
    showDetail(QString());
    m_pProgressBar->hide();
    m_pButton->show();
    m_pProgressBar->setValue(0);
    updatePackageImageFromPackageStatus();
    updateButtonFromPackageStatus();
    updatePackageNameAndVersion();
    updateDefaultClientCheckboxFromPackageStatus();
}

void TClientPackageLayoutItem::disconnectInstallation()
{
    for (const QMetaObject::Connection& connection : m_InstallationConnections)
        disconnect(connection);
    m_InstallationConnections.clear();
    m_pDownloader = nullptr;
}

void TClientPackageLayoutItem::logPhase(const QString& Phase)
{
    // Once per phase, so support can follow an installation in the log as the player saw it.
    if (Phase == m_CurrentPhase)
        return;
    m_CurrentPhase = Phase;
    qInfo() << "Tile" << m_pPackage->getName() << "shows" << Phase << threadSuffix;
}

void TClientPackageLayoutItem::showPhase(const QString& Phase, const QString& Text, TFileSize Done,
                                         TFileSize Total)
{
    logPhase(Phase);
    showDetail(QString());
    m_pProgressBar->setRange(0, progresstext::kBarMaximum);
    m_pProgressBar->setValue(progresstext::barValue(Done, Total));
    m_pProgressBar->setFormat(Text);
    m_pVersionLabel->setText(progresstext::megabytesText(Done, Total));
    // The bar shows the phase or the rate only; a screen reader gets the amounts as well.
    m_pProgressBar->setAccessibleDescription(
        QStringLiteral("%1 %2").arg(Text, m_pVersionLabel->text()));
}

void TClientPackageLayoutItem::showDetail(const QString& Text)
{
    // The check box is hidden while a package installs; the detail takes its row, no more, so
    // the tile keeps its height and stays in line with its neighbours.
    m_pDetailLabel->setText(Text);
    m_pDetailLabel->setFixedHeight(m_pDefaultClientCheckbox->sizeHint().height());
    m_pDetailLabel->setMinimumWidth(m_pDefaultClientCheckbox->sizeHint().width());
    m_pDetailLabel->setAlignment(Qt::AlignCenter);
    QSizePolicy policy = m_pDefaultClientCheckbox->sizePolicy();
    policy.setRetainSizeWhenHidden(Text.isEmpty());
    m_pDefaultClientCheckbox->setSizePolicy(policy);
    m_pDetailLabel->setVisible(!Text.isEmpty());
    if (!Text.isEmpty())
        m_pDefaultClientCheckbox->hide();
    else
        updateDefaultClientCheckboxFromPackageStatus();
}

void TClientPackageLayoutItem::onScanProgress(TFileSize Done, TFileSize Total)
{
    showPhase(QStringLiteral("Scanning..."), tr("Scanning..."), Done, Total);
}

void TClientPackageLayoutItem::onWriteProgress(TFileSize Done, TFileSize Total)
{
    showPhase(QStringLiteral("Writing..."), tr("Writing..."), Done, Total);
}

void TClientPackageLayoutItem::onVerificationProgress(TFileSize Done, TFileSize Total)
{
    showPhase(QStringLiteral("Verifying..."), tr("Verifying..."), Done, Total);
}

void TClientPackageLayoutItem::onDownloadProgress(TFileSize BytesDownloaded,
                                                  TFileSize BytesTotalToDownload,
                                                  TFileSize BytesWritten,
                                                  TFileSize BytesTotalToWrite)
{
    showDownloadProgress(double(m_Clock.elapsed()) / 1000.0, BytesDownloaded, BytesTotalToDownload,
                         BytesWritten, BytesTotalToWrite);
}

void TClientPackageLayoutItem::showDownloadProgress(double Seconds, TFileSize BytesDownloaded,
                                                    TFileSize BytesTotalToDownload,
                                                    TFileSize BytesWritten,
                                                    TFileSize BytesTotalToWrite)
{
    // One measure over fetching and writing together, so that the bar and the counter never run
    // backwards when the download ends and the writing catches up.
    const bool fetched = BytesDownloaded >= BytesTotalToDownload;
    logPhase(fetched ? QStringLiteral("Writing...") : QStringLiteral("Downloading"));
    m_pProgressBar->setRange(0, progresstext::kBarMaximum);
    m_pProgressBar->setValue(progresstext::barValue(
        std::min(BytesDownloaded, BytesTotalToDownload) + std::min(BytesWritten, BytesTotalToWrite),
        BytesTotalToDownload + BytesTotalToWrite));
    const int percent = progresstext::installationPercent(BytesDownloaded, BytesTotalToDownload,
                                                          BytesWritten, BytesTotalToWrite);
    m_pProgressBar->setFormat(QStringLiteral("%1 %").arg(percent));
    m_pVersionLabel->setText(progresstext::megabytesText(
        std::min(BytesDownloaded, BytesTotalToDownload), BytesTotalToDownload));

    m_Estimate.addSample(Seconds, BytesDownloaded);
    if (fetched) {
        showDetail(tr("Writing..."));
        return;
    }
    double rate = 0;
    double left = 0;
    QString detail = m_Estimate.rate(rate) ? progresstext::rateText(rate) : QString();
    if (m_Estimate.secondsLeft(BytesTotalToDownload - BytesDownloaded, left))
        detail += QStringLiteral(", ") + progresstext::timeLeftText(left);
    showDetail(detail.isEmpty() ? tr("Downloading") : detail);
    m_pProgressBar->setToolTip(
        tr("%1 of the installation done: %2 fetched")
            .arg(m_pProgressBar->format(),
                 progresstext::megabytesText(BytesDownloaded, BytesTotalToDownload)));
}

} // namespace orvik::launcher
