// Feeds arbitrary bytes to the rename journal's parser, which reads a file that anyone who
// made the folder may have written. What the recovery relies on must hold for whatever it
// accepts: every name is a plain entry name of the folder (no "/", not "." or "..", no NUL),
// temporary names are the program's own, no name appears twice in a role, and every intent
// is about an entry of the plan.
#include "platform/file_names.h"
#include "platform/folder_handle.h"
#include "rename/rename_journal.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <span>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorowa;
    const TJournalParse parse =
        ParseRenameJournal(std::span(reinterpret_cast<const char*>(data), size));
    if (!parse.ok) {
        Check(!parse.reason.isEmpty());
        return 0;
    }
    const TJournalText& text = parse.text;
    const int count = static_cast<int>(text.entries.size());
    Check(text.planEnded);
    std::set<QString> to;
    for (int i = 0; i < count; ++i) {
        const TJournalEntry& entry = text.entries[i];
        for (const QString* name : {&entry.from, &entry.temporary, &entry.to, &entry.back}) {
            Check(platform::IsPlainEntryName(*name));
            Check(*name != QString::fromLatin1(kRenameJournalName));
        }
        Check(entry.temporary.startsWith(QStringLiteral(".sorowa-")));
        Check(entry.temporary.endsWith(u'-' + QString::number(i)));
        Check(to.insert(entry.to).second);
    }
    for (const int i : text.failed)
        Check(i >= 0 && i < count);
    for (const int i : text.sentBack)
        Check(i >= 0 && i < count);
    for (const auto& [first, last] : text.finalMoves)
        Check(0 <= first && first <= last && last < count);
    return 0;
}
