// How the copy loops of this layer tell the bytes they move to whoever shows them, such
// as the console's progress line, without knowing it: one observer at a time, none by
// default.
#pragma once

#include <cstdint>

namespace copy_progress {

class Observer {
  public:
    virtual void moved(uint64_t bytes) = 0;
    // True while someone sees the count; a loop may then move its bytes in pieces
    // that it would otherwise move at once.
    virtual bool seen() const = 0;

  protected:
    ~Observer() = default;
};

// Makes `observer` the one told from now on; nullptr for none.
void observe(Observer* observer);
// Tells the observer, if any, of `bytes` more moved.
void moved(uint64_t bytes);
// True when an observer is set and sees the count.
bool seen();

}  // namespace copy_progress
