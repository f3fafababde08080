// How a run answers the name-clash question: by asking on the console (the default) or
// with one answer chosen up front on the command line, for runs that nobody watches.
#pragma once

#include <functional>
#include <string>

enum class ClashPolicy { ask, abort, overwrite, rename };

namespace clash_policy {

// The policy named on the command line ("ask", "abort", "overwrite", "rename"); false
// for any other text.
bool parse(const std::string& text, ClashPolicy& policy);
const char* name(ClashPolicy policy);

// The policy every name-clash question of this process follows; `ask` until set.
void set(ClashPolicy policy);
ClashPolicy current();

// The first of NAME_2.EXT, NAME_3.EXT, ... (the extension taken from the last '.', none
// for a name without one) that `usable` accepts; empty when none up to NAME_9999 does.
std::string firstFreeName(const std::string& name,
                          const std::function<bool(const std::string&)>& usable);

}  // namespace clash_policy
