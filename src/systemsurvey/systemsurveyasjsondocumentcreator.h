#pragma once

#include <QJsonDocument>

#include <memory>

namespace systemsurvey {

class TSystemSurveyCreator;
class TSystemSurveyToJsonConverter;

// Measures the machine and returns the survey as the document to post.
class TSystemSurveyAsJsonDocumentCreator
{
public:
    TSystemSurveyAsJsonDocumentCreator(std::shared_ptr<TSystemSurveyCreator> pCreator,
                                       std::shared_ptr<TSystemSurveyToJsonConverter> pConverter);
    virtual ~TSystemSurveyAsJsonDocumentCreator();

    virtual QJsonDocument createDocument() const;

private:
    std::shared_ptr<TSystemSurveyCreator> m_pCreator;
    std::shared_ptr<TSystemSurveyToJsonConverter> m_pConverter;
};

} // namespace systemsurvey
