#pragma once

#include "shared/jsonupload/jsondocumentuploaderbase.h"

#include <QUrl>

#include <memory>

namespace systemsurvey {

class TSystemSurveyAsJsonDocumentCreator;

// Measures the machine and posts the survey to the survey service, once.
class TSystemSurveyUploader : public ::shared::TJsonDocumentUploaderBase
{
    Q_OBJECT

public:
    TSystemSurveyUploader(std::shared_ptr<::shared::TJsonDocumentHttpPostSender> pSender,
                          const QUrl& TargetUrl,
                          std::shared_ptr<TSystemSurveyAsJsonDocumentCreator> pDocumentCreator);

    // The chain for this machine with a transport of its own.
    static std::unique_ptr<TSystemSurveyUploader> createForThisMachine(const QUrl& TargetUrl);

    // A second call does nothing: one survey per uploader.
    virtual void uploadSystemSurvey();

private:
    QUrl m_TargetUrl;
    std::shared_ptr<TSystemSurveyAsJsonDocumentCreator> m_pDocumentCreator;
    bool m_bUploadStarted = false;
};

} // namespace systemsurvey
