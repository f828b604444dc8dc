// The job's record: what a run did, kept after its window is closed.
//
// Every run that gets past its checks of the two blocks writes one file of
// its own into the user's records folder (RecordsFolder): created new,
// never rewritten, readable by its owner only. The file holds one JSON
// object per line (UTF-8, "\n" ended), each written whole in one write, in
// the order things happened; a line that is there is complete, a job cut
// short leaves the lines up to where it was cut. Every line has
//   "entry"  what it is (below)
//   "ms"     milliseconds since the record was opened
//
// "job"        the first line: "format" (1), "tool" ("ecuprog"), "version",
//              "started" (UTC, "2026-12-11T03:04:05.123Z"), "pc", "user",
//              "process"
// "firmware"   what the tool carries: "target", "release" ("2.3.4"),
//              "minimum boot" ("1.2"), "code block time",
//              "profile block time" (seconds since 1970), "code block
//              sha256" (of the compressed block as embedded), "profile
//              block sha256", lowercase hex as RELEASE.txt gives them
// "screen"     "text": what the console showed: a whole line, or a
//              progress prefix as it stood while its step ran (its result
//              word then starts the next)
// "answer"     "text": the characters read as the operator's answer
// "call"       one call to the server and its answer: "call" (the
//              method's name), "result" (HRESULT, "0x80004005"), and
//                GetVersion         "major", "minor"
//                SetProfile         "bytes"
//                DetectDevices      "units": each 1256-byte unit record as
//                                   hex, as the server gave it; "rest": hex
//                                   of bytes past the last whole record;
//                                   "array": "none" or "not as expected" when the
//                                   answer was no byte array
//                GetIdentities      "unit key a", "unit key b",
//                                   "identities": [[group, id, access], ...]
//                                   ("rest" and "array" as above)
//                GetIdentityName    "identity group", "identity id", "name"
//                GetAccessName      "access level", "name"
//                OpenDevice         "unit address a", "unit address b",
//                                   "unit address c", "given" (true/false)
//                GetCodeProgrammer, GetStoreProgrammer
//                                   "unit key a", "identity id", "given"
//                AcquireGroup       "region" ("code", "store"), "group key",
//                                   "status"
//              "name" is UTF-8, absent when the server gave none.
// "unit"       the unit chosen: "serial", "label", "model", "boot release",
//              "code release" ("2.3.1", null where the listing shows none),
//              "state"
// "restamp"    the image as it goes onto the unit: "programming time"
//              (seconds since 1970), "checksum" ("0x1234ABCD")
// "step"       on the disk before the request that starts the step goes to
//              the server: "step" (below), "started" (UTC)
// "step end"   "step", "ended" (UTC), "duration ms", "busy" (busy answers
//              counted), "result" (HRESULT), "status" (the last status
//              word, absent after a failed call); an erase has "began"
//              (whether the unit began erasing: false for one refused at
//              once or that found the region blank, which has "blank":
//              true); a failed request may have begun anything
// "end"        the run's last words, on the disk before its closing prompt:
//              "message", "exit code", "ended" (UTC)
//
// Steps, the requests that change the unit, in the order a job takes
// them: "code erase", "code program", "store erase", "store program",
// "reset". (Taking a region's programming group changes nothing on the
// unit; it is an AcquireGroup call.)
//
// A record that cannot be written never stops, delays or changes the job:
// the run writes one line naming the folder and the reason on its error
// output, and goes on without a record.
#ifndef ECUPROG_REPORT_JOB_RECORD_H
#define ECUPROG_REPORT_JOB_RECORD_H

#include <nlohmann/json.hpp>
#include <string>

#include "platform/windows_api.h"

/// The format the "job" line names; a reader refuses a later one.
constexpr int kJobRecordFormat = 1;

/// Opens this run's record and writes its "job" line. When the record
/// cannot be had, says so on the error output once; every later call then
/// writes nothing.
void OpenJobRecord();

/// Whether entries go anywhere: a record is open and no write has failed.
bool JobRecordOpen();

/// Appends `entry` (its "entry" is set by the caller, "ms" here) as one
/// line. With `toDisk` it is on the disk, with all before it, when this
/// returns.
void RecordEntry(nlohmann::ordered_json entry, bool toDisk = false);

/// Adds text shown on the console; it is written as a "screen" entry when
/// its line ends, when RecordScreenShown is called or before the next
/// entry.
void RecordScreen(const std::string& text);
void RecordScreenShown();

/// The UTC time now, as the record writes times.
std::string RecordTimeNow();

/// An HRESULT as the record writes it ("0x80004005").
std::string RecordResult(long result);

/// A wide text (a server's name, a line shown) as the record writes it:
/// UTF-8, a lone surrogate as U+FFFD.
std::string RecordText(const OLECHAR* text, size_t length);

/// Writes the "end" line to the disk and closes the record.
void EndJobRecord(int exitCode, const char* message);

/// Closes a record without an "end" line, as a run cut short leaves it
/// (tests).
void DropJobRecord();

#endif  // ECUPROG_REPORT_JOB_RECORD_H
