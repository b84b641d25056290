#pragma once

#include <QString>

#include <memory>

class QTranslator;

namespace orvik::shared {

// Owns the one translator installed into the application.
class TTranslationManager
{
public:
    TTranslationManager();
    ~TTranslationManager();
    TTranslationManager(const TTranslationManager&) = delete;
    TTranslationManager& operator=(const TTranslationManager&) = delete;

    // Replaces the installed translation; a file that does not load leaves none installed.
    bool installTranslation(const QString& baseName, const QString& directory);

private:
    void removeTranslation();

    std::unique_ptr<QTranslator> m_pTranslator;
};

} // namespace orvik::shared
