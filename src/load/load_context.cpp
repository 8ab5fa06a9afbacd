#include "load/load_context.h"

#include <cstdint>

#include "platform/error.h"
#include "platform/text.h"

namespace prax {

LoadContext::LoadContext(const RunContext& runContext, Status& statusDisplay, store::HistoryStore& historyStore)
    : run(runContext), status(statusDisplay), store(historyStore) {
  for (int i = 0; i < store::kHistoryListCount; ++i) {
    lists_[static_cast<std::size_t>(i)] = std::make_unique<store::ListIds>(
        store.List(static_cast<store::HistoryList>(i)), [this] { status.Yield(); });
  }
}

std::vector<store::HistoryList> LoadContext::OpenPassLists(LogKind kind) {
  using L = store::HistoryList;
  const bool alerts = kind == LogKind::kAlert;
  const std::vector<L> lists = alerts ? std::vector<L>{L::kTools, L::kBodyParts, L::kDiscomforts, L::kNotes}
                                      : std::vector<L>{L::kNotes, L::kApplications, L::kWindows, L::kProjects, L::kTasks};
  for (const L l : lists) {
    if (alerts && (l == L::kDiscomforts || l == L::kNotes)) {
      List(l).Prime();
    } else {
      TryStep(&status, store.List(l).TableName(), [&] { List(l).Prime(); });
    }
  }
  for (const L l : lists) List(l).Open();
  return lists;
}

namespace {

// What a site can do about a list running out of ids.
std::string RoomAdvice(store::HistoryList list) {
  std::string advice;
  if (list == store::HistoryList::kApplications || list == store::HistoryList::kWindows) {
    advice = "Put an empty file APPS.NO in the program folder to stop recording application and window names, or ";
  } else {
    advice = "To go on recording new names, ";
  }
  return advice + "start a fresh History database (Create fresh), which begins the lists anew.";
}

}  // namespace

int16_t LoadContext::Lookup(store::HistoryList list, std::string_view cp1252Name) {
  const auto i = static_cast<std::size_t>(list);
  store::ListIds& ids = List(list);
  LastName& last = last_[i];
  if (last.known && last.generation == ids.Generation() && cp1252Name == last.cp1252) {
    status.Yield();  // as the list does after every lookup
    if (ids.NearlyFull() && !nearlyFullSaid_[i]) SayRoom(list);
    return last.id;
  }
  try {
    int16_t id;
    bool ascii = true;
    for (unsigned char c : cp1252Name) ascii = ascii && c < 0x80;
    // Plain ASCII is the same in UTF-8.
    id = ascii ? ids.Get(cp1252Name) : ids.Get(text::Cp1252ToUtf8(cp1252Name));
    last.cp1252.assign(cp1252Name);
    last.id = id;
    last.generation = ids.Generation();
    last.known = true;
    if (ids.NearlyFull() && !nearlyFullSaid_[i]) SayRoom(list);
    return id;
  } catch (const Error&) {
    if (ids.Unnumbered() > 0 && !fullSaid_[i]) SayRoom(list);
    throw;
  }
}

void LoadContext::SayRoom(store::HistoryList list) {
  const auto i = static_cast<std::size_t>(list);
  const store::ListIds& ids = List(list);
  const std::string& table = store.List(list).TableName();
  std::string line;
  // Full once the last id is given out, before any name is refused.
  if (ids.Unnumbered() > 0 || ids.Max() == INT16_MAX) {
    fullSaid_[i] = nearlyFullSaid_[i] = true;
    line = table + " is full (it holds id 32767, the last a list can give): new names get no id in this run, "
                   "and the rows that would carry them keep the id looked up before. ";
  } else {
    nearlyFullSaid_[i] = true;
    line = table + " is 90 % full (id " + std::to_string(ids.Max()) +
           " of 32767 given out); once it is full, new names get no id. ";
  }
  line += RoomAdvice(list);
  status.SetStatus(line);
  status.Warn("    " + line);
}

std::vector<std::pair<std::string, int64_t>> LoadContext::Unnumbered() const {
  std::vector<std::pair<std::string, int64_t>> out;
  for (int i = 0; i < store::kHistoryListCount; ++i) {
    const std::size_t n = lists_[static_cast<std::size_t>(i)]->Unnumbered();
    if (n > 0) out.emplace_back(store.List(static_cast<store::HistoryList>(i)).TableName(), static_cast<int64_t>(n));
  }
  return out;
}

std::string StoredText(std::string_view cp1252) {
  for (unsigned char c : cp1252) {
    if (c >= 0x80) return text::Cp1252ToUtf8(cp1252);
  }
  return std::string(cp1252);
}

}  // namespace prax
