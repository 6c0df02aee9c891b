// Scoped hooks on rows of the table of calls; hooks on one row nest, the innermost runs first.
#pragma once
#include "platform/SysCalls.h"
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

template <auto Slot, class Fn = std::remove_reference_t<decltype(g_Sys.*Slot)>>
struct SysThunk;

template <auto Slot, class R, class... A>
struct SysThunk<Slot, R (*)(A...)>
{
    using Fn = R (*)(A...);
    using Ret = R;
    using Handler = std::function<R(A...)>;
    using Args = std::tuple<std::decay_t<A>...>;
    static inline std::vector<Handler> handlers;
    static inline Fn original = nullptr;  // what the row held below the first hook
    static inline size_t cursor = 0;      // the handler running now

    struct CursorScope
    {
        size_t saved;
        explicit CursorScope(size_t at) : saved(cursor) { cursor = at; }
        ~CursorScope() { cursor = saved; }
    };
    static R Call(A... args)
    {
        CursorScope scope(handlers.size() - 1);
        return handlers[cursor](args...);
    }
    static R CallNext(A... args)
    {
        if (cursor == 0)
            return original(args...);
        CursorScope scope(cursor - 1);
        return handlers[cursor](args...);
    }
};

template <auto Slot>
class CSysHook
{
public:
    using Thunk = SysThunk<Slot>;
    using Fn = typename Thunk::Fn;
    using Handler = typename Thunk::Handler;

    explicit CSysHook(Handler handler)
    {
        if (Thunk::handlers.empty())
            Thunk::original = g_Sys.*Slot;
        Thunk::handlers.push_back(std::move(handler));
        g_Sys.*Slot = &Thunk::Call;
    }
    ~CSysHook()
    {
        Thunk::handlers.pop_back();
        if (Thunk::handlers.empty())
            g_Sys.*Slot = Thunk::original;
    }
    CSysHook(const CSysHook&) = delete;

    // Inside a handler: the next hook, or the real function.
    static Fn Next() { return &Thunk::CallNext; }
};

// Fails the n-th call (from 1), with persist every call from the n-th on, with error and result.
template <auto Slot>
class CSysFailNth
{
public:
    using Thunk = SysThunk<Slot>;
    using Ret = typename Thunk::Ret;

    CSysFailNth(int nth, DWORD error, Ret failValue, bool persist = false)
        : m_hook([this](auto... args) -> Ret {
              ++m_nCalls;
              if (m_nCalls == m_nNth || (m_bPersist && m_nCalls > m_nNth)) {
                  g_Sys.SetLastError(m_dwError);
                  return m_failValue;
              }
              return CSysHook<Slot>::Next()(args...);
          }),
          m_nNth(nth), m_dwError(error), m_failValue(failValue), m_bPersist(persist)
    {
    }

    int Calls() const { return m_nCalls; }

private:
    CSysHook<Slot> m_hook;
    int m_nNth;
    DWORD m_dwError;
    Ret m_failValue;
    bool m_bPersist;
    int m_nCalls = 0;
};

// What a case arranges (hooks armed, files planted), undone when the last holder goes.
using Hold = std::shared_ptr<void>;
template <class T, class... A>
Hold Arrange(A&&... args)
{
    return std::make_shared<T>(std::forward<A>(args)...);
}

// An entry of a table of faults: armed while the holder it returns lives.
using CFault = std::function<Hold()>;

// The nth call of a row (from 1) fails with error and the row's failure value.
template <auto Slot, class R>
CFault FailNth(int nth, DWORD error, R value)
{
    return [=] { return Arrange<CSysFailNth<Slot>>(nth, error, value); };
}

// The row answers through handler instead.
template <auto Slot>
CFault Answer(typename CSysHook<Slot>::Handler handler)
{
    return [=] { return Arrange<CSysHook<Slot>>(handler); };
}

// Records the arguments of every call and passes it on.
template <auto Slot>
class CSysRecorder
{
public:
    using Thunk = SysThunk<Slot>;
    using Args = typename Thunk::Args;

    CSysRecorder()
        : m_hook([this](auto... args) -> typename Thunk::Ret {
              m_Calls.emplace_back(args...);
              return CSysHook<Slot>::Next()(args...);
          })
    {
    }
    const std::vector<Args>& Calls() const { return m_Calls; }
    size_t Count() const { return m_Calls.size(); }

private:
    std::vector<Args> m_Calls;
    CSysHook<Slot> m_hook;
};

// Sleep adds to it; a wait asks the real one with no time-out and spends its time-out if unsignalled.
class CVirtualClock
{
public:
    CVirtualClock()
        : m_sleep([this](DWORD ms) {
              m_ullNow += ms;
              m_Sleeps.push_back(ms);
          }),
          m_wait([this](HANDLE h, DWORD ms) -> DWORD {
              DWORD r = CSysHook<&CSysCalls::WaitForSingleObject>::Next()(h, 0);
              if (r == WAIT_TIMEOUT && ms != INFINITE)
                  m_ullNow += ms;
              m_Waits.push_back(ms);
              return r;
          }),
          m_tick([this]() -> ULONGLONG { return m_ullNow; })
    {
    }
    ULONGLONG Now() const { return m_ullNow; }
    const std::vector<DWORD>& Sleeps() const { return m_Sleeps; }
    const std::vector<DWORD>& Waits() const { return m_Waits; }

private:
    ULONGLONG m_ullNow = 0;
    std::vector<DWORD> m_Sleeps;
    std::vector<DWORD> m_Waits;
    CSysHook<&CSysCalls::Sleep> m_sleep;
    CSysHook<&CSysCalls::WaitForSingleObject> m_wait;
    CSysHook<&CSysCalls::GetTickCount64> m_tick;
};

// Collects what the program sends to the debugger output.
class CDebugCapture
{
public:
    CDebugCapture()
        : m_hook([this](LPCWSTR text) { m_Lines.push_back(text ? text : L""); })
    {
    }
    const std::vector<std::wstring>& Lines() const { return m_Lines; }
    std::wstring All() const
    {
        std::wstring all;
        for (const std::wstring& l : m_Lines)
            all += l;
        return all;
    }
    void Clear() { m_Lines.clear(); }

private:
    std::vector<std::wstring> m_Lines;
    CSysHook<&CSysCalls::OutputDebugStringW> m_hook;
};
