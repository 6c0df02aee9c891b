// A fault table entry arms one hook of the table of calls while the holder it returns lives.
#pragma once
#include "tests/support/SysHooks.h"
#include <functional>
#include <memory>

using CFault = std::function<std::shared_ptr<void>()>;

// The nth call of a row (from 1) fails with error and the row's failure value.
template <auto Slot, class R>
CFault FailNth(int nth, DWORD error, R value)
{
    return [=] { return std::make_shared<CSysFailNth<Slot>>(nth, error, value); };
}

// The row answers through handler instead.
template <auto Slot>
CFault Answer(typename CSysHook<Slot>::Handler handler)
{
    return [=] { return std::make_shared<CSysHook<Slot>>(handler); };
}
