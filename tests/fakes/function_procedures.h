#pragma once
// Timer and window procedures made of functions, for tests that set timers or
// make windows of their own. The test keeps the object alive as long as the
// timer or window.

#include <functional>
#include <utility>

#include "platform/ui_port.h"

namespace lumivo {

class FunctionTimer : public TimerProcedure {
  public:
    explicit FunctionTimer(std::function<void()> function) : function_(std::move(function)) {}
    void OnTimer(TimerId) override { function_(); }

  private:
    std::function<void()> function_;
};

class FunctionWindowProcedure : public WindowProcedure {
  public:
    using Function = std::function<bool(WindowHandle, unsigned, uintptr, intptr, intptr&)>;
    explicit FunctionWindowProcedure(Function function = nullptr)
        : function_(std::move(function)) {}
    bool HandleMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam,
                       intptr& result) override {
        return function_ && function_(window, message, wParam, lParam, result);
    }

  private:
    Function function_;
};

}  // namespace lumivo
