// The JSON report: the content of the text report, every row included, with
// times both as ISO 8601 UTC ("time") and as the log writes them ("logTime").
#include "tools/replay/json_writer.h"
#include "tools/replay/report.h"

namespace sentrel::replay {

namespace {

const char* StatusName(ReplayStatus status) {
  switch (status) {
    case ReplayStatus::Completed: return "completed";
    case ReplayStatus::Unusable: return "unusable";
    case ReplayStatus::NotLoaded: return "not loaded";
    case ReplayStatus::NotStarted: return "not started";
  }
  return "";
}

void Moment(JsonWriter& j, std::int64_t time, std::int32_t utcOffset, const std::string& logText) {
  j.BeginObject();
  j.Key("time").String(FormatIsoTime(time));
  j.Key("logTime").String(Printable(logText.empty() ? FormatLogTime(time, utcOffset) : logText));
  j.EndObject();
}

void Log(JsonWriter& j, const ReplayReport& r) {
  j.Key("log").BeginObject();
  j.Key("name").String(r.logName);
  j.Key("lines").Unsigned(r.lines);
  j.Key("requests").Unsigned(r.requests);
  j.Key("first");
  if (r.hasRequests) {
    Moment(j, r.first.time, r.first.utcOffset, r.first.text);
  } else {
    j.Null();
  }
  j.Key("last");
  if (r.hasRequests) {
    Moment(j, r.last.time, r.last.utcOffset, r.last.text);
  } else {
    j.Null();
  }
  j.Key("unparsable").BeginObject();
  j.Key("count").Unsigned(r.unparsableCount);
  j.Key("lines").BeginArray();
  for (const UnparsableLine& u : r.unparsable) {
    j.BeginObject().Key("line").Unsigned(u.line).Key("reason").String(Printable(u.reason)).EndObject();
  }
  j.EndArray();
  j.EndObject();
  j.EndObject();
}

void Modules(JsonWriter& j, const ReplayReport& r) {
  j.Key("moduleFiles").Unsigned(r.moduleFiles);
  j.Key("modules").BeginArray();
  for (const ModuleSummary& m : r.modules) {
    j.BeginObject();
    j.Key("number").Number(m.number);
    j.Key("name").String(Printable(m.name));
    j.Key("action").String(DescribeAction(m.execute));
    j.Key("holdSeconds").Number(m.dateline);
    j.Key("firings").Unsigned(m.firings);
    j.Key("clients").Unsigned(m.clients);
    j.EndObject();
  }
  j.EndArray();
  j.Key("allowedAfterModules").BeginObject();
  j.Key("count").Unsigned(r.allowedAfterModules);
  j.Key("holdSeconds").Unsigned(r.dateline);
  j.EndObject();
}

void Decisions(JsonWriter& j, const ReplayReport& r) {
  j.Key("decisions").BeginArray();
  for (const Decision& d : r.decisions) {
    j.BeginObject();
    j.Key("address").String(Printable(d.address));
    j.Key("line").Unsigned(d.line);
    j.Key("from");
    Moment(j, d.time, d.utcOffset, d.timeText);
    j.Key("source").String(DescribeSource(d.source));
    j.Key("module");
    if (d.moduleNumber > 0) {
      j.BeginObject().Key("number").Number(d.moduleNumber).Key("name").String(Printable(d.moduleName)).EndObject();
    } else {
      j.Null();
    }
    j.Key("action").String(DescribeAnswer(d.action));
    j.Key("until");
    if (d.holdUntil == 0xFFFFFFFFu) {
      j.Null();  // a hold that never ends
    } else {
      Moment(j, d.holdUntil, d.utcOffset, "");
    }
    j.Key("requests").Unsigned(d.requests);
    j.EndObject();
  }
  j.EndArray();
}

}  // namespace

std::string FormatJsonReport(const ReplayReport& r) {
  JsonWriter j;
  j.BeginObject();
  j.Key("status").String(StatusName(r.status));
  j.Key("problem");
  if (r.problem.empty()) {
    j.Null();
  } else {
    j.String(Printable(r.problem));
  }
  j.Key("folder").String(r.folder);
  j.Key("programMessages").BeginArray();
  for (const std::string& m : r.programMessages) j.String(PrintableMessage(m, "\t"));
  j.EndArray();
  if (r.status == ReplayStatus::Completed) {
    Log(j, r);
    j.Key("clients").BeginObject();
    j.Key("count").Unsigned(r.clients);
    j.Key("notIpv4").Unsigned(r.notIpv4Clients);
    j.Key("notIpv4Requests").Unsigned(r.notIpv4Requests);
    j.EndObject();
    j.Key("answers").BeginObject();
    j.Key("passed").Unsigned(r.passed);
    j.Key("blocked").Unsigned(r.blocked);
    j.Key("challenged").Unsigned(r.challenged);
    j.EndObject();
    Modules(j, r);
    Decisions(j, r);
    j.Key("variablesNotInLog").BeginArray();
    for (const MissingVariable& v : r.variablesNotInLog) {
      j.BeginObject().Key("name").String(Printable(v.name)).Key("modules").BeginArray();
      for (const std::string& m : v.modules) j.String(Printable(m));
      j.EndArray().EndObject();
    }
    j.EndArray();
    j.Key("waits").BeginObject();
    j.Key("requests").Unsigned(r.requestsWaited);
    j.Key("milliseconds").Unsigned(r.waitedMs);
    j.EndObject();
  }
  j.Key("crawlers").BeginObject();
  j.Key("listed").Bool(r.crawlersListed);
  j.Key("resolved").Bool(r.crawlersResolved);
  j.Key("verified").Unsigned(r.crawlersVerified);
  j.Key("fake").Unsigned(r.crawlersFake);
  j.Key("unknown").Unsigned(r.crawlersUnknown);
  j.EndObject();
  j.Key("scratch").BeginObject();
  j.Key("folder").String(r.scratchFolder);
  j.Key("kept").Bool(r.scratchKept);
  j.Key("journalRestored").Bool(r.journalRestored);
  j.EndObject();
  j.EndObject();
  return j.Text();
}

}  // namespace sentrel::replay
