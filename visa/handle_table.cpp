#include "visa/handle_table.h"

#include "visa/provider_registry.h"

namespace fg::visa {

ViObject HandleTable::Add(std::shared_ptr<Object> object) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (object->parent != VI_NULL && objects_.count(object->parent) == 0) return VI_NULL;
  do {
    ++next_;
  } while (next_ == VI_NULL || objects_.count(next_) != 0);
  objects_[next_] = std::move(object);
  return next_;
}

bool HandleTable::Has(ViObject handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_.count(handle) != 0;
}

std::vector<std::shared_ptr<Object>> HandleTable::Remove(ViObject handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<Object>> removed;
  auto it = objects_.find(handle);
  if (it == objects_.end()) return removed;
  removed.push_back(it->second);
  objects_.erase(it);
  std::vector<ViObject> parents{handle};
  while (!parents.empty()) {
    const ViObject parent = parents.back();
    parents.pop_back();
    for (auto child = objects_.begin(); child != objects_.end();) {
      if (child->second->parent == parent) {
        parents.push_back(child->first);
        removed.push_back(child->second);
        child = objects_.erase(child);
      } else {
        ++child;
      }
    }
  }
  return removed;
}

size_t HandleTable::Size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_.size();
}

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

size_t OpenHandleCountForTesting() { return Handles().Size(); }

}  // namespace fg::visa
