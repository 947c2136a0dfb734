#include "history/playhistory.h"

#include <QElapsedTimer>
#include <QLoggingCategory>

#include <mutex>

namespace tarv {

Q_DECLARE_LOGGING_CATEGORY(lcHistory)

struct PlayHistory::Private
{
    Private(const AppPaths& paths, const Clock& clock, qint64 rotationBytes)
        : clock(clock), log(paths, clock, rotationBytes), counts(clock.now()), current(counts.snapshot())
    {
    }

    PlayLogReport loadLocked();
    void publishLocked();

    const Clock& clock;
    std::mutex mutex; // the log and the counts
    PlayLog log;
    PlayCounts counts;
    bool loaded = false;

    mutable std::mutex snapshotMutex;
    mutable std::shared_ptr<const PlaySnapshot> current;
};

PlayLogReport PlayHistory::Private::loadLocked()
{
    if (loaded)
        return {};
    loaded = true;
    QElapsedTimer timer;
    timer.start();
    const PlayLogReport report = log.read(counts);
    for (const QString& problem : report.problems)
        qCWarning(lcHistory).noquote() << "play log not read:" << problem;
    qCInfo(lcHistory) << "play log:" << report.lines << "lines of" << report.files << "files read in" << timer.elapsed()
                      << "ms";
    publishLocked();
    return report;
}

void PlayHistory::Private::publishLocked()
{
    counts.setMonth(monthKey(clock.now().date()));
    auto snapshot = counts.snapshot();
    const std::lock_guard lock(snapshotMutex);
    current = std::move(snapshot);
}

PlayHistory::PlayHistory(const AppPaths& paths, const Clock& clock, qint64 rotationBytes)
    : d(std::make_unique<Private>(paths, clock, rotationBytes))
{
}

PlayHistory::~PlayHistory() = default;

PlayLogReport PlayHistory::load()
{
    const std::lock_guard lock(d->mutex);
    return d->loadLocked();
}

quint64 PlayHistory::songStarted(const PlayStart& start)
{
    const std::lock_guard lock(d->mutex);
    d->loadLocked();
    const auto play = d->log.appendStart(start);
    if (!play)
        return 0;
    d->counts.started(*play);
    d->publishLocked();
    return play->id;
}

void PlayHistory::songEnded(quint64 id, int seconds, KeyTempo endedAt)
{
    const std::lock_guard lock(d->mutex);
    d->loadLocked();
    d->log.appendEnd(id, seconds, endedAt);
    d->counts.ended(id, seconds, endedAt.clamped());
    d->publishLocked();
}

void PlayHistory::setSessionStart(const QDateTime& start)
{
    const std::lock_guard lock(d->mutex);
    d->counts.setSessionStart(start.toSecsSinceEpoch());
    d->publishLocked();
}

void PlayHistory::syncIfDue()
{
    const std::lock_guard lock(d->mutex);
    d->log.syncIfDue();
}

std::shared_ptr<const PlaySnapshot> PlayHistory::snapshot() const
{
    const int month = monthKey(d->clock.now().date());
    const std::lock_guard lock(d->snapshotMutex);
    if (month > d->current->month())
        d->current = d->current->inMonth(month);
    return d->current;
}

QString PlayHistory::logError() const
{
    const std::lock_guard lock(d->mutex);
    return d->log.error();
}

} // namespace tarv
