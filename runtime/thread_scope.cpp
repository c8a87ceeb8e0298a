#include "runtime/thread_scope.h"

#include <mutex>

#include "runtime/temp_buffer.h"

namespace {

struct ScopeHooks {
    std::mutex lock;
    ThreadScopeBegin begin = nullptr;
    ThreadScopeEnd end = nullptr;
};

// Never destroyed: a detached thread may still end its scope while the process exits.
ScopeHooks& Hooks() {
    static ScopeHooks* hooks = new ScopeHooks;
    return *hooks;
}

}  // namespace

void SetThreadScopeHooks(ThreadScopeBegin begin, ThreadScopeEnd end) {
    ScopeHooks& hooks = Hooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    hooks.begin = begin;
    hooks.end = end;
}

ThreadReleaseScope::ThreadReleaseScope() {
    ThreadScopeBegin begin = nullptr;
    {
        ScopeHooks& hooks = Hooks();
        std::lock_guard<std::mutex> guard(hooks.lock);
        begin = hooks.begin;
        end_ = hooks.end;
    }
    if (begin != nullptr) token_ = begin();
}

ThreadReleaseScope::~ThreadReleaseScope() {
    StringSystemEnd();
    if (end_ != nullptr) end_(token_);
}
