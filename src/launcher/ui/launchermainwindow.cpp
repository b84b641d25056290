#include "launcher/ui/launchermainwindow.h"

#include "launcher/cdntrace/cloudflarecdntrace.h"
#include "launcher/configuration/documentlimits.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/installation/diskspace.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/product/launcherconstants.h"
#include "launcher/startup/launcherapplication.h"
#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/darklook.h"
#include "launcher/ui/desktopnotification.h"
#include "launcher/ui/hintarea.h"
#include "launcher/ui/logname.h"
#include "launcher/ui/progresstext.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "launcher/ui/uistyle.h"
#include "shared/network/downloadpool.h"
#include "shared/qtextbrowserwithnetwork/weblink.h"

#include <QApplication>
#include <QCheckBox>
#include <QChildEvent>
#include <QCloseEvent>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QUrl>

#include <algorithm>

namespace orvik::launcher {

namespace {

const QString kSocialAddress = QStringLiteral("https://www.kestrun-online.com/community/social");
const QString kChatAddress = QStringLiteral("https://www.kestrun-online.com/community/chat");
const QString kMakerAddress = QStringLiteral("https://www.halvern.com/");
constexpr int kHintBorder = 5;

const QString kBackgroundStyle = QStringLiteral(
    "QMainWindow { border-image: url(:/images/launcher/BackgroundImage.jpg) 0 0 450 0; "
    "border-top: 0px transparent; border-left: 0px transparent; border-bottom: 450px "
    "transparent; border-right: 0px transparent; }");

const QString kHintGroupBoxStyle = QStringLiteral(
    "QGroupBox { border-image: url(:/images/launcher/hint-background.png) %1 %1 0 %1 repeat; "
    "border-top: %1px transparent; border-left: %1px transparent; border-bottom: %1px "
    "transparent; border-right: %1px transparent; background-attachment: fixed; %2 } "
    "QGroupBox::title { color: #DADABC; margin-top: 2px transparent; background-color: "
    "transparent; }");

// A picture that opens a web page. Written as rich text so that the picture for the screen's
// scale is chosen; Tab reaches it and Enter or Space opens it, like a click.
ClickableLabel* makeImageLink(const QString& ImagePath, const QString& Name,
                              const QString& Description, const QString& ToolTip)
{
    auto* label = new ClickableLabel;
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<img src=\"%1\"/>").arg(ImagePath.toHtmlEscaped()));
    label->setToolTip(ToolTip);
    label->setAccessibleName(Name);
    label->setAccessibleDescription(Description);
    return label;
}

ClickableLabel* makeWebLink(const QString& Address, const QString& ImagePath, const QString& Name,
                            const QString& ToolTip)
{
    ClickableLabel* label =
        makeImageLink(ImagePath, Name, TLauncherMainWindow::tr("Opens %1").arg(Address), ToolTip);
    QObject::connect(label, &ClickableLabel::clicked,
                     [Address] { ::shared::openWebLink(QUrl(Address)); });
    return label;
}

QString describe(const QWidget* pWidget)
{
    return logname::of(pWidget, pWidget->accessibleName().isEmpty()
                                    ? QString::fromLatin1(pWidget->metaObject()->className())
                                    : pWidget->accessibleName());
}

// The toolkit names the standard buttons of the boxes and the entries of the menus of text fields
// itself. No toolkit translation ships with the launcher: its own carries these.
[[maybe_unused]] const char* const kToolkitTexts[] = {
    QT_TRANSLATE_NOOP("QPlatformTheme", "OK"),
    QT_TRANSLATE_NOOP("QPlatformTheme", "Cancel"),
    QT_TRANSLATE_NOOP("QPlatformTheme", "Close"),
    QT_TRANSLATE_NOOP("QLineEdit", "&Undo"),
    QT_TRANSLATE_NOOP("QLineEdit", "&Redo"),
    QT_TRANSLATE_NOOP("QLineEdit", "Cu&t"),
    QT_TRANSLATE_NOOP("QLineEdit", "&Copy"),
    QT_TRANSLATE_NOOP("QLineEdit", "&Paste"),
    QT_TRANSLATE_NOOP("QLineEdit", "Delete"),
    QT_TRANSLATE_NOOP("QLineEdit", "Select All"),
    QT_TRANSLATE_NOOP("QAbstractSpinBox", "&Step up"),
    QT_TRANSLATE_NOOP("QAbstractSpinBox", "Step &down"),
    QT_TRANSLATE_NOOP("QWidgetTextControl", "&Copy"),
    QT_TRANSLATE_NOOP("QWidgetTextControl", "Copy &Link Location"),
    QT_TRANSLATE_NOOP("QWidgetTextControl", "Select All"),
};

} // namespace

TLauncherMainWindow::TLauncherMainWindow(
    std::shared_ptr<TLauncherConfigurationReader> pConfiguration,
    std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
    TInstallationManager* pInstallationManager, std::shared_ptr<TCloudflareCdnTrace> pCdnTrace)
    : m_pConfiguration(std::move(pConfiguration))
    , m_pDownloadPool(std::move(pDownloadPool))
    , m_pInstallationManager(pInstallationManager)
    , m_pCdnTrace(std::move(pCdnTrace))
{
    std::vector<std::shared_ptr<TPackage>> packages;
    for (const auto& package : m_pConfiguration->getPackages()) {
        if (package->getConfiguration())
            packages.push_back(package);
    }

    setUpWindow();
    auto* central = new QWidget;
    m_pMainLayout = new QVBoxLayout(central);
    m_pMainLayout->setSpacing(11);
    // Four tiles of 196 px fill the 800 px of the window.
    m_pMainLayout->setContentsMargins(8, 8, 8, 14);
    m_pMainLayout->addLayout(makeTileRow(packages));
    setCentralWidget(central);

    if (packages.empty()) {
        m_pMainLayout->addSpacing(300);
        showConnectionProblem();
    }
    m_pMainLayout->addSpacing(6);
    m_pSpacer = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    m_pMainLayout->addSpacerItem(m_pSpacer);
    addHintGroupBox();
    fitToContent();

    connect(pInstallationManager, &TInstallationManager::installationOrUpdateStarted, this,
            &TLauncherMainWindow::onInstallationOrUpdateStarted);
    connect(pInstallationManager, &TInstallationManager::installationOrUpdateFinished, this,
            &TLauncherMainWindow::onInstallationOrUpdateFinished);

    if (const std::shared_ptr<TPackage> current = pInstallationManager->getDefaultPackage())
        m_DefaultPackageIndex = current->getIndex();

    if (TLauncherApplication* application = TLauncherApplication::instance())
        application->sendFunnelEvent(QStringLiteral("launcher_started"),
                                     QStringLiteral("FunnelStartedFirst"));

    // Keyboard users start where mouse users look first: the first tile's action button.
    if (!m_Tiles.empty())
        m_Tiles.begin()->second->button()->setFocus(Qt::OtherFocusReason);
    else
        m_pAboutLabel->setFocus(Qt::OtherFocusReason);
    // Where the keyboard is goes to the log, so that support can follow a keyboard user.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* pNow) {
        if (pNow && (pNow == this || isAncestorOf(pNow)))
            qInfo() << "Focus on" << describe(pNow) << threadSuffix;
    });

    // The configuration handler reads the answer and hands it to setHints.
    if (m_pDownloadPool && m_pConfiguration->getHintsUrl().isValid())
        m_pDownloadPool->queueDownload(m_pConfiguration->getHintsUrl(), kHintsDocumentLimit);
}

TLauncherMainWindow::~TLauncherMainWindow() = default;

void TLauncherMainWindow::setUpWindow()
{
    setWindowTitle(constants::kApplicationName);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedWidth(kWidth);
    setMinimumHeight(kMinimumHeight);
    setMaximumHeight(kMaximumHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::MinimumExpanding);
    setStyleSheet(kBackgroundStyle);
}

void TLauncherMainWindow::fitToContent()
{
    // The fixed minimum height would otherwise win over what two rows of tiles need.
    resize(kWidth, qBound(kMinimumHeight, sizeHint().height(), kMaximumHeight));
    // Centred in the area that panels leave free, and never beyond its top left: the title bar
    // and the links must stay on the screen even where the whole window cannot.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect free = screen->availableGeometry();
        move(free.left() + std::max(0, (free.width() - frameGeometry().width()) / 2),
             free.top() + std::max(0, (free.height() - frameGeometry().height()) / 2));
    }
}

QHBoxLayout*
TLauncherMainWindow::makeTileRow(const std::vector<std::shared_ptr<TPackage>>& Packages)
{
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(0);
    grid->setVerticalSpacing(4);
    const bool showNames = m_pConfiguration->getShowPackageNames();
    int row = 0;
    int column = 0;
    for (const auto& package : Packages) {
        auto* tile = new TClientPackageLayoutItem(package, showNames);
        m_Tiles[package->getIndex()] = tile;
        if (tile->defaultClientCheckbox()->isChecked() != package->isDefault())
            tile->defaultClientCheckbox()->setChecked(package->isDefault());
        grid->addLayout(tile, row, column);
        if (++column == kTilesPerRow) {
            column = 0;
            ++row;
        }
        connect(tile, &TClientPackageLayoutItem::defaultChanged, this,
                &TLauncherMainWindow::onDefaultClientPackageCheckboxChanged);
        connect(tile, &TClientPackageLayoutItem::buttonClicked, this,
                &TLauncherMainWindow::onTileButtonClicked);
        connect(tile, &TClientPackageLayoutItem::speedLimitRequested, this,
                &TLauncherMainWindow::askForSpeedLimit);
        connect(tile, &TClientPackageLayoutItem::stopRequested, this,
                [this](const std::shared_ptr<TPackage>& Package, bool Pause) {
                    qInfo() << (Pause ? "Pause" : "Cancel") << "of" << Package->getName()
                            << "asked for" << threadSuffix;
                    if (!m_pInstallationManager)
                        return;
                    if (Pause)
                        m_pInstallationManager->pauseInstallation(*Package);
                    else
                        m_pInstallationManager->cancelInstallation(*Package);
                });
        if (m_pInstallationManager)
            tile->setPaused(m_pInstallationManager->isPaused(*package));
        refreshInstallEstimate(*tile);
        connect(tile, &TClientPackageLayoutItem::verifyButtonClicked, this,
                &TLauncherMainWindow::clientPackageVerifyButtonClicked);
    }
    auto* tileRow = new QHBoxLayout;
    tileRow->addStretch(1);
    tileRow->addLayout(grid, 2);
    tileRow->addStretch(1);
    return tileRow;
}

QHBoxLayout* TLauncherMainWindow::makeFooterRow()
{
    auto* footer = new QHBoxLayout;
    footer->addStretch();
    m_pAboutLabel = makeImageLink(uistyle::image("icircle.png"), tr("About"),
                                  tr("Shows the version and the licences"), tr("About"));
    logname::set(m_pAboutLabel, QStringLiteral("About"));
    connect(m_pAboutLabel, &ClickableLabel::clicked, this,
            [this] { onAboutDialogRequested(QStringLiteral("about")); });
    footer->addWidget(m_pAboutLabel);
    auto* version = new QLabel(QStringLiteral("v") + constants::kLauncherVersion);
    version->setStyleSheet(uistyle::labelStyle(11));
    version->setAccessibleName(tr("Launcher version"));
    footer->addWidget(version);
    return footer;
}

QHBoxLayout* TLauncherMainWindow::makeSocialRow()
{
    auto* social = new QHBoxLayout;
    social->addStretch();
    m_pSocialLinks = {makeWebLink(kSocialAddress, uistyle::image("Twitter.png"),
                                  QStringLiteral("Twitter"), tr("Follow us on Twitter")),
                      makeWebLink(kChatAddress, uistyle::image("Discord.png"),
                                  QStringLiteral("Discord"), tr("Follow us on Discord"))};
    for (ClickableLabel* link : m_pSocialLinks)
        social->addWidget(link);
    social->addStretch();
    return social;
}

void TLauncherMainWindow::addHintGroupBox()
{
    m_pHintGroupBox = new QGroupBox;
    m_pHintGroupBox->setAlignment(Qt::AlignHCenter);
    m_pHintGroupBox->setStyleSheet(kHintGroupBoxStyle.arg(kHintBorder).arg(uistyle::font(11)));
    m_pHintGroupBox->setMinimumWidth(780);
    m_pHintGroupBox->setMaximumWidth(790);
    auto* layout = new QVBoxLayout(m_pHintGroupBox);
    layout->setContentsMargins(8, 0, 8, 0);

    // The row of hints waits hidden until hints arrive.
    m_pHintArea = new THintArea(m_pDownloadPool);
    m_pHintArea->hide();

    layout->addSpacing(8);
    m_pMakerLink = makeWebLink(kMakerAddress, uistyle::image("HalvernLogo.png"),
                               QStringLiteral("Halvern"), kMakerAddress);
    layout->addWidget(m_pMakerLink, 0, Qt::AlignLeft);
    layout->addSpacing(-22);
    layout->addLayout(makeFooterRow());
    layout->addSpacing(-34);
    layout->addLayout(makeSocialRow());
    layout->addSpacing(8);

    m_pMainLayout->addWidget(m_pHintGroupBox, 0, Qt::AlignHCenter);
    m_pMainLayout->addSpacing(-14);
}

void TLauncherMainWindow::setHint(const ::shared::THint& Hint)
{
    setHints({Hint});
}

void TLauncherMainWindow::setHints(std::vector<::shared::THint> Hints)
{
    m_pHintGroupBox->hide();
    if (Hints.empty()) {
        m_pHintArea->hide();
        m_pHintGroupBox->show();
        return;
    }
    auto* layout = static_cast<QVBoxLayout*>(m_pHintGroupBox->layout());
    if (layout->indexOf(m_pHintArea) < 0)
        layout->insertWidget(0, m_pHintArea);
    m_pHintArea->show();
    const bool allSlotsFilled = m_pHintArea->showHints(Hints);
    QStringList shown;
    for (int slot = 0; slot < THintArea::kSlotCount; ++slot) {
        if (m_pHintArea->caption(slot))
            shown << m_pHintArea->hint(slot).Category + QLatin1Char(':') +
                         m_pHintArea->hint(slot).Title;
    }
    qInfo() << "Hint banner shows" << shown.join(QStringLiteral(", ")) << threadSuffix;
    if (allSlotsFilled && m_pSpacer) {
        m_pMainLayout->removeItem(m_pSpacer);
        delete m_pSpacer;
        m_pSpacer = nullptr;
    }
    m_pHintGroupBox->show();
    updateTabOrder();
}

void TLauncherMainWindow::updateTabOrder()
{
    // Hints arrive last but stand between the tiles and the footer: Tab follows the eye.
    std::vector<QWidget*> order;
    for (const auto& [index, tile] : m_Tiles) {
        order.push_back(tile->button());
        order.push_back(tile->defaultClientCheckbox());
    }
    for (int slot = 0; slot < THintArea::kSlotCount; ++slot) {
        if (QLabel* caption = m_pHintArea->caption(slot))
            order.push_back(caption);
    }
    order.push_back(m_pMakerLink);
    order.push_back(m_pAboutLabel);
    for (ClickableLabel* link : m_pSocialLinks)
        order.push_back(link);
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

bool TLauncherMainWindow::event(QEvent* pEvent)
{
    // Dialogs are windows of their own and take no colours from this one; each gets the dark
    // look before it is first shown, whoever made it.
    if (pEvent->type() == QEvent::ChildPolished) {
        auto* dialog = qobject_cast<QDialog*>(static_cast<QChildEvent*>(pEvent)->child());
        if (dialog)
            darklook::apply(dialog);
    }
    return TDraggableMainWindow::event(pEvent);
}

void TLauncherMainWindow::onDefaultClientPackageCheckboxChanged(std::shared_ptr<TPackage> pPackage,
                                                                bool IsDefault)
{
    const bool isRecordedDefault = pPackage->getIndex() == m_DefaultPackageIndex;
    if (IsDefault == isRecordedDefault)
        return;
    recordDefault(pPackage, IsDefault);
    emit defaultChanged(pPackage, IsDefault);
}

void TLauncherMainWindow::setDefault(std::shared_ptr<TPackage> pPackage, bool IsDefault)
{
    recordDefault(pPackage, IsDefault);
}

void TLauncherMainWindow::recordDefault(const std::shared_ptr<TPackage>& pPackage, bool IsDefault)
{
    m_DefaultPackageIndex = IsDefault ? pPackage->getIndex() : -1;
    for (const auto& [index, tile] : m_Tiles) {
        QCheckBox* checkbox = tile->defaultClientCheckbox();
        // Signals stay connected: a tile unchecked here reports a change that is no longer the
        // recorded default, which the first step of the handler ignores.
        if (index == pPackage->getIndex()) {
            if (checkbox->isChecked() != IsDefault)
                checkbox->setChecked(IsDefault);
        } else if (checkbox->isChecked()) {
            checkbox->setChecked(false);
        }
    }
}

void TLauncherMainWindow::onInstallationOrUpdateStarted(TPackageInstallation* pInstallation)
{
    const auto tile = m_Tiles.find(pInstallation->getPackage()->getIndex());
    if (tile != m_Tiles.end())
        tile->second->onInstallationOrUpdateStarted(pInstallation);
}

void TLauncherMainWindow::onInstallationOrUpdateFinished(TPackageInstallation* pInstallation)
{
    const auto& package = pInstallation->getPackage();
    qInfo() << "onInstallationOrUpdateFinished package: " << package->getName()
            << " error reason: " << static_cast<int>(pInstallation->getErrorReason())
            << threadSuffix;
    const auto tile = m_Tiles.find(package->getIndex());
    if (tile != m_Tiles.end()) {
        tile->second->onInstallationOrUpdateFinished(pInstallation);
        refreshInstallEstimate(*tile->second);
    }

    const QString name = package->getName();
    switch (pInstallation->getErrorReason()) {
    case EPackageDownloaderError::NoError:
        if (pInstallation->isVerificationOnly() || pInstallation->isRepair())
            showVerified(*pInstallation);
        break;
    case EPackageDownloaderError::DownloadFailed:
        showDownloadFailed(name);
        break;
    case EPackageDownloaderError::SavingOperationFailed: {
        // Free disk space is the advice only where the disk is full: for a folder of the
        // player's in a file's place it sent the player looking in the wrong place.
        const TSaveFailure& failure = pInstallation->getSaveFailure();
        if (failure.isKnown() && !failure.OutOfSpace)
            showInstallationFailed(tr("The installation of %1 failed.\n\nCould not write '%2': %3")
                                       .arg(name, failure.Path, failure.Reason));
        else
            showInstallationFailed(
                tr("The installation of %1 failed.\n\nMake sure you have enough free disk space "
                   "and the application isn't currently running, then try again.")
                    .arg(name));
        break;
    }
    case EPackageDownloaderError::VerificationFailed:
        showInstallationFailed(verificationFailedText(name, pInstallation->getDamagedFiles()));
        break;
    case EPackageDownloaderError::Stopped:
        // The player stopped it and knows.
        return;
    }
    notifyWhenAway(*pInstallation);
}

void TLauncherMainWindow::notifyWhenAway(const TPackageInstallation& Installation)
{
    // A player who went elsewhere during a long download learns of its end there.
    if (isActiveWindow())
        return;
    const QString name = Installation.getPackage()->getName();
    if (Installation.getErrorReason() != EPackageDownloaderError::NoError)
        TDesktopNotification::send(tr("Installation failed"),
                                   tr("The installation of %1 failed.").arg(name));
    else if (Installation.isVerificationOnly())
        TDesktopNotification::send(tr("Kestrun Online is intact"),
                                   tr("Every file of %1 was checked.").arg(name));
    else
        TDesktopNotification::send(tr("Kestrun Online is ready"),
                                   tr("%1 is installed and ready to play.").arg(name));
}

void TLauncherMainWindow::showVerified(const TPackageInstallation& Installation)
{
    const QString name = Installation.getPackage()->getName();
    const int repaired = Installation.getRepairedFiles().size();
    const QString text =
        repaired == 0
            ? tr("Kestrun Online is intact.\n\nEvery file of %1 matches the published build.")
                  .arg(name)
        : repaired == 1
            ? tr("Kestrun Online is repaired.\n\n1 file of %1 repaired, %2 downloaded. Every "
                 "file now matches the published build.")
                  .arg(name, progresstext::sizeText(Installation.getPlannedDownloadBytes()))
            : tr("Kestrun Online is repaired.\n\n%1 files of %2 repaired, %3 downloaded. Every "
                 "file now matches the published build.")
                  .arg(QLocale().toString(repaired), name,
                       progresstext::sizeText(Installation.getPlannedDownloadBytes()));
    qInfo() << "Verification complete:" << text << threadSuffix;
    auto* box = new QMessageBox(QMessageBox::Information, tr("Verification complete"), text,
                                QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->show();
}

QString TLauncherMainWindow::verificationFailedText(const QString& PackageName,
                                                    const QStringList& DamagedFiles)
{
    // A few names tell the player and support where to look; thousands would fill the screen.
    constexpr int kNamesShown = 5;
    QString text =
        tr("The installation of %1 failed.\n\nVerification of game data failed!").arg(PackageName);
    if (DamagedFiles.isEmpty())
        return text;
    QStringList names = DamagedFiles.mid(0, kNamesShown);
    if (DamagedFiles.size() > kNamesShown)
        names.append(tr("and %1 more").arg(QLocale().toString(DamagedFiles.size() - kNamesShown)));
    return text + QLatin1String("\n\n") +
           tr("Missing or different: %1").arg(names.join(QLatin1String(", ")));
}

void TLauncherMainWindow::askForSpeedLimit()
{
    if (!m_pInstallationManager)
        return;
    // Without a nested event loop, like the window's boxes: downloads go on while it is open.
    auto* dialog = new QInputDialog(this);
    dialog->setWindowTitle(tr("Download speed"));
    dialog->setLabelText(tr("Limit all downloads to this many MB per second (0 for no limit):"));
    dialog->setInputMode(QInputDialog::DoubleInput);
    dialog->setDoubleRange(0, 10000);
    dialog->setDoubleDecimals(1);
    dialog->setDoubleValue(double(m_pInstallationManager->maxDownloadRate().value_or(0)) / 1e6);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QInputDialog::doubleValueSelected, this, [this](double MegabytesPerSecond) {
        const auto bytes = qint64(MegabytesPerSecond * 1e6);
        m_pInstallationManager->setMaxDownloadRate(bytes);
        emit maxDownloadRateChosen(bytes);
    });
    dialog->show();
}

void TLauncherMainWindow::closeEvent(QCloseEvent* pEvent)
{
    const bool installing =
        m_pInstallationManager && !m_pInstallationManager->getInstallationsInProgress().empty();
    if (installing && !m_bCloseConfirmed) {
        // Asked without a nested event loop: the installation goes on while the player reads.
        auto* box = new QMessageBox(
            QMessageBox::Question, tr("Close Kestrun Online?"),
            tr("An installation is running. Close Kestrun Online anyway?\n\nWhat was downloaded "
               "is kept: the installation goes on from there next time."),
            QMessageBox::Close | QMessageBox::Cancel, this);
        box->setDefaultButton(QMessageBox::Cancel);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        connect(box, &QMessageBox::finished, this, [this](int Result) {
            if (Result != QMessageBox::Close)
                return;
            m_bCloseConfirmed = true;
            close();
        });
        qInfo() << "Closing asked for during an installation" << threadSuffix;
        box->show();
        pEvent->ignore();
        return;
    }
    TDraggableMainWindow::closeEvent(pEvent);
}

void TLauncherMainWindow::refreshInstallEstimate(TClientPackageLayoutItem& Tile)
{
    const TPackageConfigurationReader* build = Tile.package()->getConfiguration();
    if (!build || !m_pInstallationManager)
        return;
    Tile.setInstallEstimate(
        estimateInstall(*build, m_pInstallationManager->getInstallationDirectory(*Tile.package())));
}

void TLauncherMainWindow::onTileButtonClicked(std::shared_ptr<TPackage> pPackage)
{
    // A first install that cannot fit is refused before anything starts: planning would find
    // it too, but only after the player had committed and waited.
    const TPackageConfigurationReader* build = pPackage->getConfiguration();
    if (build && m_pInstallationManager &&
        pPackage->getLocalStatus() == ELocalPackageStatus::NotInstalled) {
        const TInstallEstimate estimate =
            estimateInstall(*build, m_pInstallationManager->getInstallationDirectory(*pPackage));
        if (!estimate.fits()) {
            showInstallationFailed(
                tr("There is not enough free disk space to install %1.\n\nIt needs %2; %3 are "
                   "free on %4.")
                    .arg(pPackage->getName(), progresstext::sizeText(estimate.Write),
                         progresstext::sizeText(estimate.Available),
                         QDir::toNativeSeparators(estimate.FileSystemRoot)));
            return;
        }
    }
    emit clientPackageButtonClicked(pPackage);
}

void TLauncherMainWindow::showConnectionProblem()
{
    if (!m_pMessageBox)
        m_pMessageBox = new QMessageBox(this);
    m_pMessageBox->setModal(false);
    m_pMessageBox->setIcon(QMessageBox::Critical);
    m_pMessageBox->setWindowTitle(tr("Connection problem"));
    m_pMessageBox->setText(
        tr("Could not connect to the update service.\n\nPlease try again later.\n"));
    qWarning() << "Connection problem: no package for this machine" << threadSuffix;
    m_pMessageBox->show();
}

void TLauncherMainWindow::showDownloadFailed(const QString& PackageName)
{
    if (!m_pMessageBox)
        m_pMessageBox = new QMessageBox(this);
    m_pMessageBox->setModal(false);
    m_pMessageBox->setIcon(QMessageBox::Critical);
    // The package name and the trace come from servers: shown as written, never as rich text.
    m_pMessageBox->setTextFormat(Qt::PlainText);
    m_pMessageBox->setWindowTitle(tr("Download failed"));
    if (m_pCdnTrace && !m_pCdnTrace->hasSucceeded() && !m_pCdnTrace->hasFailed()) {
        // The text is filled in place once the trace arrives, if the box is still open.
        disconnect(m_TraceConnection);
        m_TraceConnection =
            connect(m_pCdnTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived, this,
                    [this, PackageName] {
                        disconnect(m_TraceConnection);
                        if (!m_pMessageBox->isVisible())
                            return;
                        m_pMessageBox->setText(downloadFailedText(PackageName));
                        // Every text a box shows is in the log, as support reads it there.
                        qCritical() << "Download failed:" << m_pMessageBox->text() << threadSuffix;
                    });
        m_pCdnTrace->requestTrace();
    }
    m_pMessageBox->setText(downloadFailedText(PackageName));
    qCritical() << "Download failed:" << m_pMessageBox->text() << threadSuffix;
    m_pMessageBox->show();
}

QString TLauncherMainWindow::downloadFailedText(const QString& PackageName) const
{
    QString diagnostics = tr("Failed to obtain information.");
    if (m_pCdnTrace && m_pCdnTrace->hasSucceeded())
        diagnostics = QStringLiteral("FL: %1, TS: %2, COLO: %3, IP: %4")
                          .arg(m_pCdnTrace->getFl(), m_pCdnTrace->getTs(), m_pCdnTrace->getColo(),
                               m_pCdnTrace->getIp());
    else if (m_pCdnTrace && !m_pCdnTrace->hasFailed())
        diagnostics = tr("Loading, please wait...");
    return tr("The installation of %1 failed.\n\nNot all files necessary could be downloaded. "
              "Please try again later.\n\nDiagnostic information: %2")
        .arg(PackageName, diagnostics);
}

void TLauncherMainWindow::showInstallationFailed(const QString& Text)
{
    qCritical() << "Installation failed:" << Text << threadSuffix;
    // Modal to the window but without a nested event loop: the installations and the decisions
    // after them go on while the player reads it.
    auto* box = new QMessageBox(QMessageBox::Critical, tr("Installation failed"), Text,
                                QMessageBox::Ok, this);
    // The text names the package as a server wrote it.
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->show();
}

void TLauncherMainWindow::onAboutDialogRequested(QString Link)
{
    Q_UNUSED(Link)
    const QString licence = QStringLiteral("https://www.gnu.org/licenses/lgpl-3.0.html");
    const QString qtSource = QStringLiteral("https://code.qt.io/cgit/qt/qtbase.git/");
    // A rich text label takes the colour of its links from the application, not from the
    // dark look of the box: the links carry it themselves.
    const QString text =
        //% "About text"
        qtTrId("launcher.about.text")
            .arg(QStringLiteral("2002"), QString::number(QDate::currentDate().year()), licence,
                 licence, qtSource, qtSource)
            .replace(QStringLiteral("<a "),
                     QStringLiteral("<a style=\"color: %1\" ").arg(uistyle::kLink.name()));
    //% "About Kestrun Online"
    auto* box = new QMessageBox(QMessageBox::Information, qtTrId("launcher.about.title"), text,
                                QMessageBox::Ok, this);
    box->setTextFormat(Qt::RichText);
    // The links in the text are reached with Tab as well.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                 Qt::LinksAccessibleByKeyboard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Modal to the window without a nested event loop, like the other boxes of the window.
    box->setWindowModality(Qt::WindowModal);
    qInfo() << "About dialog shown" << threadSuffix;
    box->show();
}

} // namespace orvik::launcher
