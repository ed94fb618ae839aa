// The Proxy through which script uses an automation object: what its traps
// do is listed in dispatch_bridge.h (property get and put, calls of
// members and of the object itself, toString and valueOf, `X(args) = v`).
#pragma once

#include <span>

#include "duktape.h"
#include "host/asp/bridge_frame.h"

namespace quill::asp::bridge {

// Pushes the Proxy for reference `id`, an object already in the table.
// Engine frame.
void PushProxy(duk_context* ctx, DispatchBridge* b, uint32_t id) noexcept;

// The traps of the Proxy handler, by the names the engine looks up.
std::span<const NativeMethod> ProxyTraps();

}  // namespace quill::asp::bridge
