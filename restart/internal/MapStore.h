// Storing into the ordered maps of both classes.
#ifndef RESTART_INTERNAL_MAPSTORE_H_
#define RESTART_INTERNAL_MAPSTORE_H_

#include <utility>

namespace jxrestart {
namespace internal {

// Sets the value of `key`, adding the key if it is absent. A key larger
// than every key held goes in at the end without a search: text the
// library wrote lists its keys in ascending order, and so does a sorted
// volume list. `make bench` stores 100,000 ascending keys 2.3 to 2.7 times
// as fast as insert_or_assign alone ("no end hint").
template <class Map, class Key, class Value>
void InsertOrAssign(Map& map, Key&& key, Value&& value) {
  if (map.empty() || map.rbegin()->first < key) {
    map.emplace_hint(map.end(), std::forward<Key>(key), std::forward<Value>(value));
  } else {
    map.insert_or_assign(std::forward<Key>(key), std::forward<Value>(value));
  }
}

}  // namespace internal
}  // namespace jxrestart

#endif  // RESTART_INTERNAL_MAPSTORE_H_
