#pragma once
// The folder of documents fetched from the bank's service: one file per
// requested date ("2026-03-18.xml"), the raw bytes as the service sent them,
// written so that a crash leaves the old file or the new one, never a torn
// one.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "tools/rates-server/RatesTable.h"

namespace rates {

using WallClock = std::chrono::system_clock;

// The date in Moscow (UTC+3 all year) at a moment.
Date MoscowDateAt(WallClock::time_point t);

// Whether a copy of the document of a date, fetched at fetchedAt, may be
// served without asking again at now.  The document of a date that had
// passed in Moscow when it was fetched never changes; any other copy is
// fresh for ttl.
bool IsFresh(const Date& requested, WallClock::time_point fetchedAt, WallClock::time_point now,
             std::chrono::seconds ttl);

// The bank answers a date with the document in force then: dated on the
// date or before it, at most 15 days before (the New Year holidays are the
// longest gap).  For a date after tomorrow it answers its latest document,
// which is then at most 15 days older than tomorrow.  Why a document dated
// `dated` cannot be the answer for `requested` on `today` (in Moscow); empty
// when it can.
std::string DocumentDateProblem(const Date& requested, const Date& dated, const Date& today);

class DocumentCache {
  public:
    // dir empty: keeps nothing.
    explicit DocumentCache(std::string dir) : FDir(std::move(dir)) {}

    bool Enabled() const { return !FDir.empty(); }
    std::string PathOf(const Date& requested) const;

    struct Copy {
        RatesTable Table;
        WallClock::time_point FetchedAt;  // the file's modification time
        std::string Bytes;                // the document as the bank sent it
    };
    // The stored document of the date if there is one and it still reads as
    // a rates document.  A file that does not is reported in damaged (when
    // given) and otherwise ignored; it is replaced by the next Store.
    // A symbolic link is never followed: it is reported as damaged too.
    std::optional<Copy> Load(const Date& requested, std::string* damaged = nullptr) const;

    // Removes what writers killed mid-way left behind: temporary files of
    // Store whose last change is more than a minute before now.  The number
    // removed.
    int RemoveLeftovers(WallClock::time_point now) const;

    // Stores a document that was read successfully, dated fetchedAt; creates
    // the folder (mode 0700) when needed.  An empty string when done,
    // otherwise why not.
    std::string Store(const Date& requested, std::string_view bytes,
                      WallClock::time_point fetchedAt) const;

  private:
    std::string FDir;
};

}  // namespace rates
