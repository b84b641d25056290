#include "shared/network/mirrorset.h"

#include <algorithm>

namespace shared {

namespace {

bool isWebAddress(const QUrl& Url)
{
    return Url.isValid() && !Url.isRelative() && !Url.host().isEmpty() &&
           (Url.scheme() == QLatin1String("http") || Url.scheme() == QLatin1String("https"));
}

// The address of the folder, ending with a slash, without query or fragment.
QString folderOf(const QUrl& Url)
{
    QString folder = Url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

TMirrorSet::TMirrorSet(const QUrl& PrimaryFolder, const QList<QUrl>& MirrorFolders)
{
    const QString primary = folderOf(PrimaryFolder);
    m_Bases.push_back({primary, primary});
    if (!isWebAddress(PrimaryFolder))
        return;
    const QString primaryPath = folderOf(QUrl(PrimaryFolder.path()));
    for (const QUrl& mirror : MirrorFolders) {
        if (!isWebAddress(mirror) || folderOf(mirror) == primary)
            continue;
        const QString mirrorFolder = folderOf(mirror);
        const QString mirrorPath = folderOf(QUrl(mirror.path()));
        // The common end of both paths, in whole segments: the tree's folders down to the
        // configuration's.
        int common = 0;
        while (common < primaryPath.size() && common < mirrorPath.size() &&
               primaryPath[primaryPath.size() - 1 - common] ==
                   mirrorPath[mirrorPath.size() - 1 - common])
            ++common;
        while (common > 0 && primaryPath[primaryPath.size() - common] != QLatin1Char('/'))
            --common;
        if (common == 0)
            continue;
        // Both roots keep the slash the common part starts with.
        const int keep = common - 1;
        m_Bases.push_back(
            {primary.left(primary.size() - keep), mirrorFolder.left(mirrorFolder.size() - keep)});
    }
    // Named in the log by its root, as the mirrors are.
    if (m_Bases.size() > 1)
        m_Bases[0].Root = m_Bases[1].PrimaryRoot;
}

QUrl TMirrorSet::onBase(const QUrl& Url, int Base) const
{
    if (Base <= 0 || Base >= size())
        return Url;
    const TBase& base = m_Bases[size_t(Base)];
    const QString address = Url.toString();
    if (!address.startsWith(base.PrimaryRoot))
        return Url;
    return QUrl(base.Root + address.mid(base.PrimaryRoot.size()));
}

int TMirrorSet::chooseBase(int Avoid, qint64 NowMs)
{
    const int count = size();
    int fallback = -1;
    for (int step = 0; step < count; ++step) {
        const int base = (m_NextTurn + step) % count;
        if (!isHealthy(m_Bases[size_t(base)], NowMs))
            continue;
        if (base == Avoid) {
            fallback = base;
            continue;
        }
        m_NextTurn = (base + 1) % count;
        return base;
    }
    if (fallback >= 0)
        return fallback;
    const auto soonest =
        std::min_element(m_Bases.begin(), m_Bases.end(), [](const TBase& A, const TBase& B) {
            return A.AsideUntilMs < B.AsideUntilMs;
        });
    return int(soonest - m_Bases.begin());
}

bool TMirrorSet::reportFailure(int Base, qint64 NowMs)
{
    if (Base < 0 || Base >= size() || size() == 1)
        return false;
    TBase& base = m_Bases[size_t(Base)];
    if (++base.FailuresInARow < kFailuresBeforeSetAside || !isHealthy(base, NowMs))
        return false;
    base.AsideUntilMs = NowMs + kSetAsideMs;
    base.FailuresInARow = 0;
    return true;
}

void TMirrorSet::reportSuccess(int Base)
{
    if (Base >= 0 && Base < size())
        m_Bases[size_t(Base)].FailuresInARow = 0;
}

QString TMirrorSet::describe(int Base) const
{
    return Base >= 0 && Base < size() ? m_Bases[size_t(Base)].Root : QString();
}

} // namespace shared
