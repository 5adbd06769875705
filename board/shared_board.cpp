#include "board/shared_board.h"

#include <map>

namespace board {

namespace {

struct Registry {
  // Re-entrant: a board made for the registry is forgotten by its deleter, which may run while
  // SharedBoardFor holds the lock (when filing it fails).
  std::recursive_mutex mutex;
  std::map<std::string, std::weak_ptr<SharedBoard>> boards;
};

// Never destroyed: a link held by a static object may still close its board at shut-down.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

// The deleter of every filed board: its entry goes with it, so the registry holds exactly the
// boards some link has open (a later board filed under the same path keeps its entry).
void Forget(SharedBoard* board) {
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::recursive_mutex> lock(registry.mutex);
    const auto it = registry.boards.find(board->path);
    if (it != registry.boards.end() && it->second.expired()) registry.boards.erase(it);
  }
  delete board;
}

}  // namespace

std::shared_ptr<SharedBoard> SharedBoardFor(const std::string& path) {
  if (path.empty()) return std::make_shared<SharedBoard>();
  Registry& registry = TheRegistry();
  std::lock_guard<std::recursive_mutex> lock(registry.mutex);
  const auto it = registry.boards.find(path);
  if (it != registry.boards.end()) {
    if (std::shared_ptr<SharedBoard> shared = it->second.lock()) return shared;
  }
  SharedBoard* board = new SharedBoard;
  try {
    board->path = path;
  } catch (...) {
    delete board;
    throw;
  }
  std::shared_ptr<SharedBoard> shared(board, &Forget);  // should this throw, Forget has run
  registry.boards[path] = shared;  // should this throw, `shared` goes and Forget runs
  return shared;
}

}  // namespace board
