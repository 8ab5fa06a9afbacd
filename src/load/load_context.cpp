#include "load/load_context.h"

#include "platform/text.h"

namespace prax {

LoadContext::LoadContext(const RunContext& runContext, Status& statusDisplay, store::HistoryStore& historyStore)
    : run(runContext), status(statusDisplay), store(historyStore) {
  for (int i = 0; i < store::kHistoryListCount; ++i) {
    lists_[static_cast<std::size_t>(i)] = std::make_unique<store::ListIds>(
        store.List(static_cast<store::HistoryList>(i)), [this] { status.Yield(); });
  }
}

void LoadContext::OpenAllLists() {
  for (auto& list : lists_) {
    if (list->IsOpen()) list->Close();
    list->Prime();
    list->Open();
  }
}

int16_t LoadContext::Lookup(store::HistoryList list, std::string_view cp1252Name) {
  for (unsigned char c : cp1252Name) {
    if (c >= 0x80) return List(list).Get(text::Cp1252ToUtf8(cp1252Name));
  }
  return List(list).Get(cp1252Name);  // plain ASCII is the same in UTF-8
}

std::string StoredText(std::string_view cp1252) {
  for (unsigned char c : cp1252) {
    if (c >= 0x80) return text::Cp1252ToUtf8(cp1252);
  }
  return std::string(cp1252);
}

}  // namespace prax
