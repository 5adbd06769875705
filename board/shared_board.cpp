#include "board/shared_board.h"

#include <map>

namespace board {

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<SharedBoard>> boards;
};

// Never destroyed: a link held by a static object may still close its board at shut-down.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

}  // namespace

std::shared_ptr<SharedBoard> SharedBoardFor(const std::string& path) {
  if (path.empty()) return std::make_shared<SharedBoard>();
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (auto it = registry.boards.begin(); it != registry.boards.end();) {
    it = it->second.expired() ? registry.boards.erase(it) : std::next(it);
  }
  std::weak_ptr<SharedBoard>& slot = registry.boards[path];
  std::shared_ptr<SharedBoard> shared = slot.lock();
  if (!shared) {
    shared = std::make_shared<SharedBoard>();
    slot = shared;
  }
  return shared;
}

}  // namespace board
