#pragma once

#include "common/dropengine.h"
#include "common/signalfiles.h"

namespace tarv {

class TimeSignals;

using InstallOptions = DropEngine::Options;

// db/zihodropping.txt: the note of the time-signal drops (see common/dropnote.h).
QString pendingSignalCopiesFile(const AppPaths& paths);

// Settles the note a killed installation left against db/ziholist.txt (see settleDropNote()).
Recovery recoverInterruptedInstallation(const AppPaths& paths);

// One drop of videos onto the settings window (see DropEngine), never over a video in use: the
// intro, a song or any time-signal entry.
class SignalInstallation : public DropEngine
{
public:
    SignalInstallation(TimeSignals& settings, QStringList files, InstallOptions options);
    ~SignalInstallation() override;

    // What was installed is listed at once, so that a later "Save" keeps it in the file.
    bool refreshLists() const override { return registered() > 0; }

private:
    bool prepare() override;
    QString firstNumberProposal(const QString& refused) const override;
    std::optional<qint64> parseNumber(const QString& text) const override { return parseSignalNumber(text); }
    QString badNumberMessage(const QString& typed) const override;
    std::optional<Settled> settleAutomatic(const QString& path, int index) override;
    std::optional<Settled> settleManual(const QString& path) override;
    QString folderReason() const override { return QStringLiteral("フォルダはインストールできません"); }
    QString noteFile() const override { return pendingSignalCopiesFile(paths()); }
    QString videoName(qint64 number) const override { return sixDigits(number); }
    bool mayDeleteSource(const QString& path, qint64 number) override;
    void list(const Settled& entry) override;
    QString writeList() override;
    void unlist(const QSet<qint64>& numbers) override;
    QString listWriteFailure(const QString& error) const override;
    void ended(State state) override;

    bool inUse(qint64 number) const;

    TimeSignals& m_signals;
    QList<SignalEntry> m_unlisted; // copied in, not yet in the file
};

} // namespace tarv
