#include "base/clash_policy.h"

#include "base/console_log.h"

namespace clash_policy {

namespace {

constexpr unsigned kLastSuffix = 9999;

struct Named {
    ClashPolicy policy;
    const char* name;
};

constexpr Named kNames[] = {{ClashPolicy::ask, "ask"},
                            {ClashPolicy::abort, "abort"},
                            {ClashPolicy::overwrite, "overwrite"},
                            {ClashPolicy::rename, "rename"}};

ClashPolicy chosen = ClashPolicy::ask;

}  // namespace

bool parse(const std::string& text, ClashPolicy& policy) {
    for (const Named& named : kNames) {
        if (text == named.name) {
            policy = named.policy;
            return true;
        }
    }
    return false;
}

const char* name(ClashPolicy policy) {
    for (const Named& named : kNames) {
        if (named.policy == policy) {
            return named.name;
        }
    }
    return "ask";
}

void set(ClashPolicy policy) {
    chosen = policy;
}

ClashPolicy current() {
    return chosen;
}

std::string firstFreeName(const std::string& name,
                          const std::function<bool(const std::string&)>& usable) {
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = stem.size() == name.size() ? std::string() : name.substr(dot);
    for (unsigned suffix = 2; suffix <= kLastSuffix; ++suffix) {
        const std::string candidate =
            formatText("%s_%u%s", stem.c_str(), suffix, extension.c_str());
        if (usable(candidate)) {
            return candidate;
        }
    }
    return "";
}

}  // namespace clash_policy
