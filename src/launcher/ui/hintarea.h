#pragma once

#include "shared/randomhints/randomhints.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QHBoxLayout;
class QLabel;

namespace shared {
class TDownloadPool;
}

namespace orvik::launcher {

// The banner of up to three news hints, one per category, side by side with slanted separators.
// Images come through the download pool: a caption shows at once, its image when it arrives, so
// a slow image server never holds up the window.
class THintArea : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSlotCount = 3;

    explicit THintArea(std::shared_ptr<::shared::TDownloadPool> pDownloadPool);

    // Shows each hint in its category's slot, the later of one category winning; other
    // categories are ignored. True when every slot received a hint from this list.
    bool showHints(const std::vector<::shared::THint>& Hints);

    // For tests and support: the hint a slot shows, its caption and its image label.
    const ::shared::THint& hint(int Slot) const { return m_Slots[size_t(Slot)].Hint; }
    QLabel* caption(int Slot) const { return m_Slots[size_t(Slot)].pCaption; }
    QLabel* image(int Slot) const { return m_Slots[size_t(Slot)].pImage; }
    // The frame that lights up around a slot under the mouse or the keyboard; null until the
    // slot shows a hint.
    QWidget* frame(int Slot) const;

public slots:
    void onImageDownloaded(QUrl Url, QByteArray Data);
    void onImageDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    struct TSlot
    {
        QWidget* pContainer = nullptr;
        QWidget* pHoverFrame = nullptr; // made when the slot shows its first hint
        ::shared::THint Hint;
        QUrl ImageUrl;
        QPointer<QLabel> pImage;
        QPointer<QLabel> pCaption;
    };

    void showHint(int Slot, const ::shared::THint& Hint);

    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    QHBoxLayout* m_pLayout = nullptr;
    std::array<TSlot, kSlotCount> m_Slots;
};

} // namespace orvik::launcher
