// Function publishing: interface descriptions read from their variable argument lists, and the
// table of core interfaces that modules register while they load.
#include "host/function_publishing.h"

#include <algorithm>
#include <mutex>

namespace {

struct CoreInterfaces {
    std::mutex mutex;
    std::vector<FPInterfaceDesc*> interfaces;
};

// Never destroyed: modules withdraw their interfaces from their static destructors, which may run
// after this library's own.
CoreInterfaces& Registry() {
    static auto* registry = new CoreInterfaces();
    return *registry;
}

// Bounds what one description may declare, so that a list without p_end stops somewhere.
constexpr int kMaxFunctions = 1024;
constexpr int kMaxParams = 64;

}  // namespace

void FPInterfaceDesc::load_descriptor(Interface_ID id, const MCHAR* int_name, StringResID descr,
                                      ClassDesc* pCD, ULONG flag, va_list ap) {
    ID = id;
    internal_name = int_name ? int_name : L"";
    description = descr;
    cd = pCD;
    flags = flag;
    functions.clear();

    // Integral arguments arrive promoted to int (FunctionID is a short).
    for (int n = 0; n < kMaxFunctions; ++n) {
        const int fid = va_arg(ap, int);
        if (fid == p_end) break;
        FPFunctionDef def;
        def.id = static_cast<FunctionID>(fid);
        const MCHAR* name = va_arg(ap, const MCHAR*);
        def.internalName = name ? name : L"";
        def.descriptionId = va_arg(ap, int);
        def.resultType = va_arg(ap, int);
        def.flags = va_arg(ap, unsigned int);
        const int count = va_arg(ap, int);
        for (int i = 0; i < std::clamp(count, 0, kMaxParams); ++i) {
            FPFunctionDef::Param param;
            const MCHAR* paramName = va_arg(ap, const MCHAR*);
            param.internalName = paramName ? paramName : L"";
            param.descriptionId = va_arg(ap, int);
            param.type = va_arg(ap, int);
            def.params.push_back(std::move(param));
        }
        functions.push_back(std::move(def));
    }

    if (flags & FP_CORE) {
        CoreInterfaces& registry = Registry();
        const std::lock_guard lock(registry.mutex);
        if (std::find(registry.interfaces.begin(), registry.interfaces.end(), this) ==
            registry.interfaces.end())
            registry.interfaces.push_back(this);
    }
}

FPInterfaceDesc::~FPInterfaceDesc() {
    CoreInterfaces& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    std::erase(registry.interfaces, this);
}

FPInterface* GetCOREInterface(Interface_ID id) {
    CoreInterfaces& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    for (auto it = registry.interfaces.rbegin(); it != registry.interfaces.rend(); ++it)
        if ((*it)->ID == id) return *it;
    return nullptr;
}

int NumCOREInterfaces() {
    CoreInterfaces& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    return static_cast<int>(registry.interfaces.size());
}

FPInterface* GetCOREInterfaceAt(int i) {
    CoreInterfaces& registry = Registry();
    const std::lock_guard lock(registry.mutex);
    if (i < 0 || i >= static_cast<int>(registry.interfaces.size())) return nullptr;
    return registry.interfaces[i];
}
