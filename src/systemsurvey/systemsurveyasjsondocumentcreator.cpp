#include "systemsurvey/systemsurveyasjsondocumentcreator.h"

#include "systemsurvey/systemsurveycreator.h"
#include "systemsurvey/systemsurveytojsonconverter.h"

namespace systemsurvey {

TSystemSurveyAsJsonDocumentCreator::TSystemSurveyAsJsonDocumentCreator(
    std::shared_ptr<TSystemSurveyCreator> pCreator,
    std::shared_ptr<TSystemSurveyToJsonConverter> pConverter)
    : m_pCreator(std::move(pCreator)), m_pConverter(std::move(pConverter))
{}

TSystemSurveyAsJsonDocumentCreator::~TSystemSurveyAsJsonDocumentCreator() = default;

QJsonDocument TSystemSurveyAsJsonDocumentCreator::createDocument() const
{
    return m_pConverter->convert(m_pCreator->createSystemSurvey());
}

} // namespace systemsurvey
