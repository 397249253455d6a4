// The console's statement history while the window is open: every text that
// ran without error, oldest first, and the operator's place in it. Nothing of
// it is written anywhere.
//
// Stepping keeps what the editor showed at the place being left: the draft
// typed after the newest entry, and any entry changed but not run, come back
// when the operator steps back to them. A run starts over at a new draft
// holding the text just run.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace dv {

class SqlHistory {
public:
    // A text ran without error; a repeat of the newest entry is not added again.
    void ran(const QString &text);

    // The text to show one step older / newer than the current place, given
    // what the editor shows now; nullopt when there is no step that way.
    // A step passes over places that show the same text as the editor, so
    // that each step visibly changes it.
    std::optional<QString> older(const QString &shown);
    std::optional<QString> newer(const QString &shown);

    const QStringList &entries() const { return m_entries; }

private:
    QStringList m_entries;
    QStringList m_shown{QString()}; // per place: the entry as last shown, then the draft
    qsizetype m_place = 0;          // m_entries.size() is the draft
};

} // namespace dv
