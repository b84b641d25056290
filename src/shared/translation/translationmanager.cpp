#include "shared/translation/translationmanager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTranslator>

namespace orvik::shared {

namespace {

const QString kEnglish = QStringLiteral("en");

// "de" of "de-AT", "de_DE.UTF-8" or "de"; empty for the C locale, which names no language.
QString languageOf(const QString& UiLanguage)
{
    const QString language = UiLanguage.section(QLatin1Char('-'), 0, 0)
                                 .section(QLatin1Char('_'), 0, 0)
                                 .section(QLatin1Char('.'), 0, 0)
                                 .toLower();
    return language == QLatin1String("c") ? QString() : language;
}

} // namespace

TTranslationManager::TTranslationManager() = default;

TTranslationManager::~TTranslationManager()
{
    removeTranslations();
}

bool TTranslationManager::installTranslation(const QString& BaseName, const QString& Directory,
                                             const QLocale& Locale)
{
    removeTranslations();
    if (!install(BaseName + QLatin1Char('.') + kEnglish, Directory))
        return false;
    // The languages in the player's order of preference; English ends the search, as its texts
    // are the source and need no file of their own.
    for (const QString& uiLanguage : Locale.uiLanguages()) {
        const QString language = languageOf(uiLanguage);
        if (language.isEmpty() || language == kEnglish)
            break;
        // Only a letter code: a locale name must not reach the file name with a path in it.
        if (!QRegularExpression(QStringLiteral("^[a-z]{2,3}$")).match(language).hasMatch())
            continue;
        const QString fileName = BaseName + QLatin1Char('.') + language;
        if (!QFileInfo::exists(Directory + QLatin1Char('/') + fileName + QLatin1String(".qm")))
            continue;
        if (install(fileName, Directory)) {
            m_Language = language;
            break;
        }
    }
    return true;
}

bool TTranslationManager::install(const QString& FileName, const QString& Directory)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(FileName, Directory))
        return false;
    // A translator installed later is asked first.
    QCoreApplication::installTranslator(translator.get());
    m_Translators.push_back(std::move(translator));
    return true;
}

void TTranslationManager::removeTranslations()
{
    for (const auto& translator : m_Translators) {
        if (QCoreApplication::instance())
            QCoreApplication::removeTranslator(translator.get());
    }
    m_Translators.clear();
    m_Language = kEnglish;
}

} // namespace orvik::shared
