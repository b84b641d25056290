#include "shared/network/mirrorset.h"

#include <algorithm>

namespace shared {

namespace {

bool isWebAddress(const QUrl& Url)
{
    return Url.isValid() && !Url.isRelative() && !Url.host().isEmpty() &&
           (Url.scheme() == QLatin1String("http") || Url.scheme() == QLatin1String("https"));
}

constexpr qint64 kSampleMs = 1000;
// The others' rate a place is compared with is their latest, if it is this recent: a place
// that has served nothing for a minute tells little about the line now.
constexpr qint64 kHistoryMs = 60 * 1000;

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
    const auto addBase = [this](const QString& PrimaryRoot, const QString& Root) {
        TBase base;
        base.PrimaryRoot = PrimaryRoot;
        base.Root = Root;
        m_Bases.push_back(std::move(base));
    };
    const QString primary = folderOf(PrimaryFolder);
    addBase(primary, primary);
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
        addBase(primary.left(primary.size() - keep), mirrorFolder.left(mirrorFolder.size() - keep));
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

TMirrorSet::TSample& TMirrorSet::sampleAt(TBase& Base, qint64 NowMs)
{
    const qint64 start = NowMs - NowMs % kSampleMs;
    if (Base.Samples.empty() || Base.Samples.back().StartMs != start)
        Base.Samples.push_back({start, 0, 0});
    while (Base.Samples.front().StartMs < NowMs - kHistoryMs)
        Base.Samples.pop_front();
    return Base.Samples.back();
}

void TMirrorSet::advance(TBase& Base, qint64 NowMs)
{
    const qint64 elapsed = NowMs - Base.ChangedMs;
    Base.ChangedMs = NowMs;
    if (Base.Running > 0 && elapsed > 0)
        sampleAt(Base, NowMs).ConnectionMs += Base.Running * elapsed;
}

TMirrorSet::TSample TMirrorSet::latestWindow(const TBase& Base, qint64 NowMs)
{
    TSample window;
    if (Base.Samples.empty() || Base.Samples.back().StartMs < NowMs - kHistoryMs)
        return window;
    const qint64 from = Base.Samples.back().StartMs - kSlowWindowMs;
    for (auto it = Base.Samples.rbegin(); it != Base.Samples.rend() && it->StartMs > from; ++it) {
        window.Bytes += it->Bytes;
        window.ConnectionMs += it->ConnectionMs;
    }
    return window;
}

void TMirrorSet::noteStarted(int Base, qint64 NowMs)
{
    if (Base < 0 || Base >= size())
        return;
    TBase& base = m_Bases[size_t(Base)];
    advance(base, NowMs);
    if (base.Running++ == 0)
        base.BusySinceMs = NowMs;
}

void TMirrorSet::noteEnded(int Base, qint64 NowMs)
{
    if (Base < 0 || Base >= size())
        return;
    TBase& base = m_Bases[size_t(Base)];
    advance(base, NowMs);
    base.Running = std::max(base.Running - 1, 0);
}

void TMirrorSet::noteBytes(int Base, qint64 Bytes, qint64 NowMs)
{
    if (Base >= 0 && Base < size() && Bytes > 0)
        sampleAt(m_Bases[size_t(Base)], NowMs).Bytes += Bytes;
}

int TMirrorSet::setAsideSlowBase(qint64 NowMs)
{
    if (size() < 2)
        return -1;
    for (TBase& base : m_Bases)
        advance(base, NowMs);
    for (int candidate = 0; candidate < size(); ++candidate) {
        TBase& base = m_Bases[size_t(candidate)];
        if (!isHealthy(base, NowMs) || base.Running == 0 ||
            NowMs - base.BusySinceMs < kSlowWindowMs)
            continue;
        const TSample own = latestWindow(base, NowMs);
        TSample others;
        for (int other = 0; other < size(); ++other) {
            if (other == candidate || !isHealthy(m_Bases[size_t(other)], NowMs))
                continue;
            const TSample window = latestWindow(m_Bases[size_t(other)], NowMs);
            others.Bytes += window.Bytes;
            others.ConnectionMs += window.ConnectionMs;
        }
        if (own.ConnectionMs <= 0 || others.ConnectionMs <= 0 || others.Bytes <= 0)
            continue;
        // Bytes per connection-millisecond, compared without dividing.
        if (double(own.Bytes) * kSlowFactor * double(others.ConnectionMs) >=
            double(others.Bytes) * double(own.ConnectionMs))
            continue;
        base.AsideUntilMs = NowMs + kSetAsideMs;
        base.FailuresInARow = 0;
        // Judged afresh when it is back.
        base.Samples.clear();
        return candidate;
    }
    return -1;
}

QString TMirrorSet::describe(int Base) const
{
    return Base >= 0 && Base < size() ? m_Bases[size_t(Base)].Root : QString();
}

} // namespace shared
