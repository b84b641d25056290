#include "shared/translation/translationmanager.h"

#include <QCoreApplication>
#include <QTranslator>

namespace orvik::shared {

TTranslationManager::TTranslationManager() = default;

TTranslationManager::~TTranslationManager()
{
    removeTranslation();
}

bool TTranslationManager::installTranslation(const QString& baseName, const QString& directory)
{
    removeTranslation();
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(baseName, directory))
        return false;
    QCoreApplication::installTranslator(translator.get());
    m_pTranslator = std::move(translator);
    return true;
}

void TTranslationManager::removeTranslation()
{
    if (m_pTranslator && QCoreApplication::instance())
        QCoreApplication::removeTranslator(m_pTranslator.get());
    m_pTranslator.reset();
}

} // namespace orvik::shared
