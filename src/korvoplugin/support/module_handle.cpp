#include "support/module_handle.h"

#include <atomic>

namespace Korvo {
namespace {
std::atomic<HINSTANCE> gInstance{nullptr};
}

HINSTANCE PluginInstance() { return gInstance.load(std::memory_order_acquire); }
void SetPluginInstance(HINSTANCE instance) { gInstance.store(instance, std::memory_order_release); }

}  // namespace Korvo
