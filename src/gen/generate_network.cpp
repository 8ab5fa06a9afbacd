#include "gen/generate_network.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "store/roster_store.h"
#include "gen/day_logs.h"
#include "gen/gen_random.h"
#include "gen/malformed_lines.h"
#include "logs/user_dir.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace prax::gen {

namespace stdfs = std::filesystem;

namespace {

// The generator's own record of a network it made, so that days can be
// appended later with the same users and seed.
constexpr const char* kStateFile = "praxgen.ini";

struct NetworkState {
  uint64_t seed = 1;
  int32_t users = 0;
  int32_t unassigned = 0;
  dt::Date start{};
  int days = 0;
  double nasty = 0;  // share of log lines damaged (InjectMalformedLines)
};

std::string DateText(const dt::Date& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

void WriteBytes(const stdfs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw Error(err::kPathFileAccess, "Cannot write \"" + fs::ForDisplay(fs::ToText(file)) + "\". Check the folder's permissions and free space.", Cause::kEnvironment);
}

void WriteState(const stdfs::path& networkDir, const NetworkState& s) {
  std::string t = "[PRAXGEN]\r\n";
  t += "SEED=" + std::to_string(s.seed) + "\r\n";
  t += "USERS=" + std::to_string(s.users) + "\r\n";
  t += "UNASSIGNED=" + std::to_string(s.unassigned) + "\r\n";
  t += "START=" + DateText(s.start) + "\r\n";
  t += "DAYS=" + std::to_string(s.days) + "\r\n";
  if (s.nasty > 0) t += "NASTY=" + std::to_string(s.nasty) + "\r\n";
  WriteBytes(networkDir / kStateFile, t);
}

NetworkState ReadState(const stdfs::path& networkDir) {
  const stdfs::path file = networkDir / kStateFile;
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw Error(err::kFileNotFound, "\"" + fs::ForDisplay(fs::ToText(file)) +
                                        "\" not found: days can be appended only to a network made by praxgen.", Cause::kData);
  NetworkState s;
  bool haveSeed = false, haveUsers = false, haveStart = false, haveDays = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    try {
      if (key == "SEED") s.seed = std::stoull(value), haveSeed = true;
      else if (key == "USERS") s.users = std::stoi(value), haveUsers = true;
      else if (key == "UNASSIGNED") s.unassigned = std::stoi(value);
      else if (key == "DAYS") s.days = std::stoi(value), haveDays = true;
      else if (key == "NASTY") s.nasty = std::stod(value);
      else if (key == "START" &&
               std::sscanf(value.c_str(), "%d-%d-%d", &s.start.year, &s.start.month, &s.start.day) == 3)
        haveStart = true;
    } catch (const std::exception&) {
      // Reported below as a damaged file.
    }
  }
  if (!haveSeed || !haveUsers || !haveStart || !haveDays || s.users < 1 || s.days < 0)
    throw Error(err::kInputPastEnd, "\"" + fs::ForDisplay(fs::ToText(file)) + "\" is damaged: it needs SEED, USERS, START and DAYS.", Cause::kData);
  return s;
}

stdfs::path UserDirectory(const stdfs::path& networkDir, int32_t slot) {
  const std::string bucket = ThousandFolderName(slot);
  return bucket.empty() ? networkDir / UserDirName(slot) : networkDir / bucket / UserDirName(slot);
}

// Writes the logs of days [firstDay, firstDay + days) for every assigned user,
// spreading the users over worker threads.
void WriteDays(const stdfs::path& networkDir, const NetworkState& s, int firstDay, int days, int threads,
               GenSummary& summary) {
  const int32_t slots = s.users + s.unassigned;
  std::vector<dt::Date> dates;
  for (int d = firstDay; d < firstDay + days; ++d) dates.push_back(NthWeekday(s.start, d));

  std::atomic<int32_t> next{1};
  std::atomic<int64_t> files{0}, bytes{0};
  std::mutex failureMutex;
  std::exception_ptr failure;
  auto work = [&] {
    try {
      for (int32_t slot = next++; slot <= slots; slot = next++) {
        if (IsUnassignedSlot(slot, s.users, s.unassigned)) continue;
        const UserProfile profile = MakeProfile(s.seed, slot);
        const stdfs::path dir = UserDirectory(networkDir, slot);
        stdfs::create_directories(dir);
        for (int i = 0; i < days; ++i) {
          const int dayIndex = firstDay + i;
          const dt::Date& date = dates[static_cast<std::size_t>(i)];
          const DayLogs logs = GenerateDayLogs(s.seed, slot, dayIndex, date);
          const fs::CivilTime mtime{date.year, date.month, date.day, logs.endHour, logs.endMinute, 0};
          for (const auto& [ext, content] : {std::pair<const char*, const std::string*>{"PXL", &logs.alert},
                                             std::pair<const char*, const std::string*>{"PXT", &logs.activity}}) {
            const stdfs::path file = dir / LogFileName(profile, dayIndex, date, ext);
            if (s.nasty > 0) {
              WriteBytes(file, InjectMalformedLines(*content, s.nasty, Mix(s.seed, static_cast<uint64_t>(slot),
                                                                           static_cast<uint64_t>(dayIndex) * 2 + (*ext == 'L'))));
            } else {
              WriteBytes(file, *content);
            }
            // The client's files carry the time of their last line; the year
            // of a PRAXnnn file is known only from it.
            fs::SetLastModified(fs::ToText(file), mtime);
            ++files;
            bytes += static_cast<int64_t>(content->size());
          }
        }
        if (failure) return;
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureMutex);
      if (!failure) failure = std::current_exception();
    }
  };
  int n = threads > 0 ? threads : static_cast<int>(std::min(8u, std::max(1u, std::thread::hardware_concurrency())));
  n = std::max(1, std::min(n, static_cast<int>(slots)));
  std::vector<std::thread> workers;
  for (int i = 1; i < n; ++i) workers.emplace_back(work);
  work();
  for (std::thread& t : workers) t.join();
  if (failure) std::rethrow_exception(failure);

  summary.firstDay = firstDay;
  summary.days = days;
  if (days > 0) {
    summary.firstDate = dates.front();
    summary.lastDate = dates.back();
  }
  summary.files += files.load();
  summary.bytes += bytes.load();
}

void WriteRoster(const stdfs::path& networkDir, const NetworkState& s) {
  auto roster = store::Roster::Create(networkDir / "MASTER.MDB");
  const int32_t slots = s.users + s.unassigned;
  for (int32_t slot = 1; slot <= slots; ++slot) {
    store::RosterRow row;
    if (IsUnassignedSlot(slot, s.users, s.unassigned)) {
      row.lastName = std::string(store::kUnassignedLastName);
    } else {
      const PersonName name = MakePersonName(s.seed, slot);
      char id[16];
      std::snprintf(id, sizeof id, "U%06d", slot);
      row.userId = std::string(id);
      row.lastName = name.last;
      row.firstName = name.first;
      if (!name.middle.empty()) row.middleInit = name.middle;
    }
    row.subDir = UserDirName(slot);
    roster->AppendUser(row);
  }
  roster->Close();
}

// UserDefs.Prn: one record per assigned user, "id","location","department","position".
// Some ids are written in small letters, as administrators do; the roster match ignores case.
std::string UserDefsBytes(const NetworkState& s) {
  std::string out;
  const int32_t slots = s.users + s.unassigned;
  for (int32_t slot = 1; slot <= slots; ++slot) {
    if (IsUnassignedSlot(slot, s.users, s.unassigned)) continue;
    const UserDefinition d = MakeUserDefinition(s.seed, slot);
    char id[16];
    std::snprintf(id, sizeof id, slot % 8 == 3 ? "u%06d" : "U%06d", slot);
    out += '"';
    out += id;
    for (const std::string* item : {&d.location, &d.department, &d.position}) {
      out += "\",\"";
      out += text::Utf8ToCp1252(*item);
    }
    out += "\"\r\n";
  }
  return out;
}

void WriteProgramFolder(const stdfs::path& programDir, const stdfs::path& networkDir) {
  stdfs::create_directories(programDir);
  // INIPATH.TXT names the folder of PXNET.INI as a prefix to which the file
  // name is appended; PXNET.INI names the network directory. Both are written
  // as an administrator would type them, with the system's own separators.
  WriteBytes(programDir / "INIPATH.TXT", fs::ForDisplay(fs::ToText(programDir) + "/") + "\r\n");
  WriteBytes(programDir / "PXNET.INI", "[MAIN]\r\nNETDIR=" + fs::ForDisplay(fs::ToText(networkDir) + "/") + "\r\n");
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

bool IsUnassignedSlot(int32_t slot, int32_t users, int32_t unassigned) {
  if (unassigned <= 0) return false;
  const int64_t slots = static_cast<int64_t>(users) + unassigned;
  // Free slots at j * slots / (unassigned + 1) for j = 1..unassigned.
  for (int64_t j = 1; j <= unassigned; ++j) {
    const int64_t s = j * slots / (unassigned + 1);
    if (s == slot) return true;
    if (s > slot) return false;
  }
  return false;
}

GenSummary GenerateNetwork(const GenOptions& options) {
  const auto t0 = std::chrono::steady_clock::now();
  if (options.users < 1 || options.users > 32000)
    throw Error(err::kInvalidCall, "The number of users must be between 1 and 32000.", Cause::kData);
  if (options.days < 0 || options.days > 2000)
    throw Error(err::kInvalidCall, "The number of days must be between 0 and 2000.", Cause::kData);
  if (!dt::IsValid(options.start.year, options.start.month, options.start.day) || options.start.year < 1992 ||
      options.start.year > 2080)
    throw Error(err::kInvalidCall, "The start date must be a valid date between 1992 and 2080.", Cause::kData);

  const stdfs::path networkDir = stdfs::absolute(options.networkDir).lexically_normal();
  std::error_code ec;
  if (stdfs::exists(networkDir, ec) && !stdfs::is_empty(networkDir, ec))
    throw Error(err::kPathFileAccess, "The folder \"" + fs::ForDisplay(fs::ToText(networkDir)) +
                                          "\" is not empty. praxgen writes a network into a new or empty folder.", Cause::kData);
  stdfs::create_directories(networkDir, ec);
  if (ec) throw Error(err::kPathFileAccess, "Cannot create the folder \"" + fs::ForDisplay(fs::ToText(networkDir)) + "\": " + ec.message(), Cause::kEnvironment);

  NetworkState s;
  s.seed = options.seed;
  s.users = options.users;
  s.unassigned = options.unassigned >= 0 ? options.unassigned : std::max(1, options.users / 20);
  if (static_cast<int64_t>(s.users) + s.unassigned > 32767)
    throw Error(err::kInvalidCall, "Users and unassigned slots together must not exceed 32767.", Cause::kData);
  s.start = options.start;
  s.days = options.days;
  s.nasty = options.nasty;

  GenSummary summary;
  summary.networkDir = networkDir;
  summary.users = s.users;
  summary.slots = s.users + s.unassigned;
  WriteRoster(networkDir, s);
  const std::string defs = UserDefsBytes(s);
  WriteBytes(networkDir / "UserDefs.Prn", defs);
  WriteDays(networkDir, s, 0, s.days, options.threads, summary);
  WriteState(networkDir, s);
  if (!options.programDir.empty())
    WriteProgramFolder(stdfs::absolute(options.programDir).lexically_normal(), networkDir);
  summary.seconds = SecondsSince(t0);
  return summary;
}

dt::Date DefaultStart(const dt::Date& today, int days) {
  int64_t serial = dt::SerialDay(today);
  for (int weekdays = 0; weekdays < kAppendRoom + std::max(days, 1);) {
    --serial;
    if (dt::Weekday(dt::FromSerialDay(serial)) < 5) ++weekdays;
  }
  return dt::FromSerialDay(serial);
}

GenSummary AppendDay(const stdfs::path& networkDirIn, int threads, dt::Date today) {
  const auto t0 = std::chrono::steady_clock::now();
  const stdfs::path networkDir = stdfs::absolute(networkDirIn).lexically_normal();
  NetworkState s = ReadState(networkDir);
  const dt::Date next = NthWeekday(s.start, s.days);
  if (dt::SerialDay(next) >= dt::SerialDay(today)) {
    throw Error(err::kInvalidCall, "The next day of " + fs::ForDisplay(fs::ToText(networkDir)) + ", " + DateText(next) +
                                       ", is not over yet: days are appended up to yesterday. Nothing was written.", Cause::kData);
  }
  GenSummary summary;
  summary.networkDir = networkDir;
  summary.users = s.users;
  summary.slots = s.users + s.unassigned;
  WriteDays(networkDir, s, s.days, 1, threads, summary);
  ++s.days;
  WriteState(networkDir, s);
  summary.seconds = SecondsSince(t0);
  return summary;
}

std::string SummaryLine(const GenSummary& g) {
  char buf[512];
  std::string range = g.days > 0 ? DateText(g.firstDate) + ".." + DateText(g.lastDate) : std::string("none");
  std::snprintf(buf, sizeof buf, "praxgen: %d users (%d roster slots), %d day%s (%s), %lld log files, %.1f MB in %.2f s: %s",
                g.users, g.slots, g.days, g.days == 1 ? "" : "s", range.c_str(), static_cast<long long>(g.files),
                static_cast<double>(g.bytes) / 1e6, g.seconds, fs::ForDisplay(fs::ToText(g.networkDir)).c_str());
  return buf;
}

}  // namespace prax::gen
