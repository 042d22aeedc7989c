#pragma once

#include <exception>
#include <utility>

namespace platform {

// Lets pending events and messages be handled once, then returns. Handlers may run inside.
void processPendingEvents();

// Runs one step under the ignore-errors rule: a step that throws is skipped and the caller
// goes on. Returns whether the step completed. Never throws.
template <typename Step> bool ignoringErrors(Step &&step) noexcept {
    try {
        std::forward<Step>(step)();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace platform
