#pragma once

#include "systemsurvey/systemsurvey.h"

#include <memory>

namespace systemsurvey {

class TSystemSurveyValueRetriever;

// Puts the retriever's values together into one survey.
class TSystemSurveyCreator
{
public:
    // With the machine's own retriever.
    TSystemSurveyCreator();
    explicit TSystemSurveyCreator(std::shared_ptr<TSystemSurveyValueRetriever> pRetriever);
    virtual ~TSystemSurveyCreator();

    virtual TSystemSurvey createSystemSurvey() const;

private:
    std::shared_ptr<TSystemSurveyValueRetriever> m_pRetriever;
};

} // namespace systemsurvey
