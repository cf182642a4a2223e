// Runs a step when the scope it guards is left, by return or by exception: the undo of a change
// made to the user's scene or to the host's state must happen on every way out.
#pragma once

#include <utility>

namespace Korvo {

template <class Step>
class [[nodiscard]] ScopeExit {
  public:
    explicit ScopeExit(Step step) : step_(std::move(step)) {}
    ~ScopeExit() {
        if (armed_) step_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    // The step is not needed after all (the change is kept).
    void Release() { armed_ = false; }

  private:
    Step step_;
    bool armed_ = true;
};

}  // namespace Korvo
