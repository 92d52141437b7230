#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <syslog.h>
#include <systemd/sd-journal.h>

#include "visit/record_channel.h"

namespace {

// Whether standard error is the journal's stream, as systemd documents it:
// $JOURNAL_STREAM holds its device and inode.
bool StandardErrorIsTheJournal() {
  static const bool journal = [] {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat error;
    if (!stream || fstat(2, &error) != 0) return false;
    unsigned long long device = 0, inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && device == error.st_dev &&
           inode == error.st_ino;
  }();
  return journal;
}

}  // namespace

void ReportVisit(const TVisitMade& visit, const TVisitOutcome& outcome, bool) {
  const std::string line = VisitRecordLine(visit, outcome);
  if (StandardErrorIsTheJournal() &&
      sd_journal_send(
          "MESSAGE=%s", line.c_str(), "PRIORITY=%d", IsFailure(outcome) ? LOG_WARNING : LOG_INFO,
          "SYSLOG_IDENTIFIER=hpvisit", "HPVISIT_OUTCOME=%s", OutcomeInRecord(outcome).c_str(),
          "HPVISIT_KIND=%s", OutcomeKindName(outcome), "HPVISIT_STATUS=%d", outcome.status,
          "HPVISIT_ADDRESS=%s", outcome.requested.utf8_string().c_str(), "HPVISIT_FINAL_ADDRESS=%s",
          outcome.address.utf8_string().c_str(), "HPVISIT_MILLISECONDS=%ld", outcome.milliseconds,
          "HPVISIT_TIME_OF_DAY=%s", visit.night ? "night" : "day", "HPVISIT_BY=%s",
          TriggerName(visit.by), nullptr) == 0)
    return;
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}
