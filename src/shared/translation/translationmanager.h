#pragma once

#include <QLocale>
#include <QString>

#include <memory>
#include <vector>

class QTranslator;

namespace orvik::shared {

// Owns the translators installed into the application: the English one, which carries the texts
// looked up by identifier, and above it the one for the player's language.
class TTranslationManager
{
public:
    TTranslationManager();
    ~TTranslationManager();
    TTranslationManager(const TTranslationManager&) = delete;
    TTranslationManager& operator=(const TTranslationManager&) = delete;

    // Replaces the installed translations with BaseName.en.qm from the directory and, for the
    // first of Locale's languages that has a file there before English, BaseName.<language>.qm.
    // Without the English file none is installed; a language without a file shows English.
    bool installTranslation(const QString& BaseName, const QString& Directory,
                            const QLocale& Locale = QLocale(QLocale::English));

    // The language the player's texts are shown in: "en" or that of the installed translation.
    QString language() const { return m_Language; }

private:
    void removeTranslations();
    bool install(const QString& FileName, const QString& Directory);

    std::vector<std::unique_ptr<QTranslator>> m_Translators;
    QString m_Language = QStringLiteral("en");
};

} // namespace orvik::shared
