#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <vector>

namespace shared {

// The places that serve the same tree of content: the primary, whose addresses the documents
// name, and mirrors of it. Each mirror is given as the address, on that mirror, of the folder the
// primary's configuration lies in; the part of the path both end with is the tree's own, so what
// comes before it on each side is the tree's root there.
//
// A place that fails several times in a row is set aside for a while and tried again after it,
// so one broken edge costs a few requests, not every body's retries. Bodies are spread over the
// places in turn while more than one is healthy. Lives on one thread.
class TMirrorSet
{
public:
    static constexpr int kFailuresBeforeSetAside = 3;
    static constexpr qint64 kSetAsideMs = 30 * 1000;

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
    // For the log: the root of the tree on that base.
    QString describe(int Base) const;

private:
    struct TBase
    {
        // What this base replaces at the start of an address of the primary.
        QString PrimaryRoot;
        QString Root;
        int FailuresInARow = 0;
        qint64 AsideUntilMs = 0;
    };
    bool isHealthy(const TBase& Base, qint64 NowMs) const { return Base.AsideUntilMs <= NowMs; }

    std::vector<TBase> m_Bases;
    int m_NextTurn = 0;
};

} // namespace shared
