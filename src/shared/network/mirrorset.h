#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <deque>
#include <vector>

namespace shared {

// The places that serve the same tree of content: the primary, whose addresses the documents
// name, and mirrors of it. Each mirror is given as the address, on that mirror, of the folder the
// primary's configuration lies in; the part of the path both end with is the tree's own, so what
// comes before it on each side is the tree's root there.
//
// A place that fails several times in a row is set aside for a while and tried again after it,
// so one broken edge costs a few requests, not every body's retries. Bodies are spread over the
// places in turn while more than one is healthy.
//
// A place that trickles never fails, and would hold its share of the bodies for as long as it
// likes: one whose rate per connection stays under a fraction of the other places' for a whole
// window is set aside as a failing one is. Rates are per connection, so a place is not judged
// by how many bodies it happens to hold, and a line that is slow for every place slows them
// alike and sets none aside. Lives on one thread.
class TMirrorSet
{
public:
    static constexpr int kFailuresBeforeSetAside = 3;
    static constexpr qint64 kSetAsideMs = 30 * 1000;
    // A place busy this long at under 1/kSlowFactor of the others' rate is set aside.
    static constexpr qint64 kSlowWindowMs = 10 * 1000;
    static constexpr int kSlowFactor = 4;

    // Mirrors that are not absolute http(s) addresses are left out.
    TMirrorSet(const QUrl& PrimaryFolder, const QList<QUrl>& MirrorFolders);

    // The primary counts as one.
    int size() const { return int(m_Bases.size()); }
    // The same resource on another base; Url itself when it lies outside the primary's tree.
    QUrl onBase(const QUrl& Url, int Base) const;
    // The base to ask next for Url: a healthy one, in turn, other than Avoid when another is
    // healthy (-1: none to avoid); when every base is set aside, the one back soonest.
    int chooseBase(int Avoid, qint64 NowMs);
    // True when this failure set the base aside.
    bool reportFailure(int Base, qint64 NowMs);
    void reportSuccess(int Base);
    // What the rates are measured from: a download on Base started or ended (reported, moved
    // or aborted), and body bytes it received.
    void noteStarted(int Base, qint64 NowMs);
    void noteEnded(int Base, qint64 NowMs);
    void noteBytes(int Base, qint64 Bytes, qint64 NowMs);
    // Sets aside the healthy base that has been busy for the whole window at under a quarter
    // of the other healthy bases' latest rate, and returns it; -1 when there is none. The only
    // healthy base is never set aside, nor one when the others have not been measured.
    int setAsideSlowBase(qint64 NowMs);
    // For the log: the root of the tree on that base.
    QString describe(int Base) const;

private:
    // Body bytes and connection time (milliseconds times downloads running) of one second.
    struct TSample
    {
        qint64 StartMs = 0;
        qint64 Bytes = 0;
        qint64 ConnectionMs = 0;
    };
    struct TBase
    {
        // What this base replaces at the start of an address of the primary.
        QString PrimaryRoot;
        QString Root;
        int FailuresInARow = 0;
        qint64 AsideUntilMs = 0;
        int Running = 0;
        // When Running last changed, and since when it has been above zero.
        qint64 ChangedMs = 0;
        qint64 BusySinceMs = 0;
        // Oldest first, reaching back kHistoryMs at most; seconds without activity are left
        // out, so the latest window of a base is its latest activity.
        std::deque<TSample> Samples;
    };
    static TSample& sampleAt(TBase& Base, qint64 NowMs);
    // Books the connection time since ChangedMs.
    static void advance(TBase& Base, qint64 NowMs);
    // The bytes and connection time of the base's latest window of activity.
    static TSample latestWindow(const TBase& Base, qint64 NowMs);
    bool isHealthy(const TBase& Base, qint64 NowMs) const { return Base.AsideUntilMs <= NowMs; }

    std::vector<TBase> m_Bases;
    int m_NextTurn = 0;
};

} // namespace shared
