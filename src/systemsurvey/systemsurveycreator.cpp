#include "systemsurvey/systemsurveycreator.h"

#include "systemsurvey/systemsurveyvalueretriever.h"

namespace systemsurvey {

TSystemSurveyCreator::TSystemSurveyCreator()
    : m_pRetriever(std::make_shared<TSystemSurveyValueRetriever>())
{}

TSystemSurveyCreator::TSystemSurveyCreator(std::shared_ptr<TSystemSurveyValueRetriever> pRetriever)
    : m_pRetriever(std::move(pRetriever))
{}

TSystemSurveyCreator::~TSystemSurveyCreator() = default;

TSystemSurvey TSystemSurveyCreator::createSystemSurvey() const
{
    TSystemSurvey survey;
    survey.monitors = m_pRetriever->getMonitors();
    const TOperatingSystem system = m_pRetriever->getOperatingSystemInfo();
    survey.baseSystem = system.baseSystem;
    survey.systemName = system.name;
    survey.release = system.release;
    survey.mainMemorySize = m_pRetriever->getMainMemorySize();
    survey.processor = m_pRetriever->getCpuInfo();
    survey.graphics = m_pRetriever->getGpus();
    return survey;
}

} // namespace systemsurvey
