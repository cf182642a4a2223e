// The renderer's mi_ functions, reached through the module the renderer names with
// miSetModuleHandle. Each function here is a stub of the same name and signature: on its first
// call it looks the real function up by name, keeps the address in its slot and forwards to it.
//
// Slots and the module handle are atomics: stubs run on many render threads at once, and two
// threads that resolve the same slot together store the same address. No lock is taken.
#include <dlfcn.h>

#include <array>
#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mi_interface.h"

#define KORVO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Error codes of a failed lookup, as the host platform reports them.
constexpr int kErrorInvalidHandle = 6;
constexpr int kErrorProcNotFound = 127;

// Messages longer than this are cut.
constexpr std::size_t kMessageSize = 1024;

// clang-format off
#define KORVO_BOUND_FUNCTIONS(X) \
    X(mi_info) \
    X(mi_progress) \
    X(mi_warning) \
    X(mi_error) \
    X(mi_fatal) \
    X(mi_debug) \
    X(mi_vdebug) \
    X(mi_nwarning) \
    X(mi_nerror) \
    X(mi_nfatal) \
    X(mi_api_warning) \
    X(mi_api_error) \
    X(mi_phen_eval) \
    X(mi_point_from_camera) \
    X(mi_point_to_world) \
    X(mi_point_from_world) \
    X(mi_vector_from_camera) \
    X(mi_vector_to_world) \
    X(mi_vector_from_world) \
    X(mi_vector_transform) \
    X(mi_trace_eye)
// clang-format on

enum class Bound {
#define KORVO_ENUM(name) name,
    KORVO_BOUND_FUNCTIONS(KORVO_ENUM)
#undef KORVO_ENUM
        Count
};

constexpr std::array<const char*, static_cast<std::size_t>(Bound::Count)> kNames{{
#define KORVO_NAME(name) #name,
    KORVO_BOUND_FUNCTIONS(KORVO_NAME)
#undef KORVO_NAME
}};

std::atomic<void*> gModule{nullptr};
std::array<std::atomic<void*>, static_cast<std::size_t>(Bound::Count)> gSlots{};

// Looks a bound function up in the module and keeps it in its slot.
[[gnu::noinline]] void* ResolveSlot(Bound function) {
    std::atomic<void*>& slot = gSlots[static_cast<std::size_t>(function)];
    const char* name = kNames[static_cast<std::size_t>(function)];
    void* module = gModule.load(std::memory_order_acquire);
    if (!module) std::fputs("DYNLOAD: dl_handle null\n", stderr);
    // A null handle would make dlsym search every loaded object; an empty module handle
    // names no module, so nothing is found in it.
    void* address = nullptr;
    int error = kErrorInvalidHandle;
    if (module) {
        ::dlerror();
        address = ::dlsym(module, name);
        error = kErrorProcNotFound;
    }
    slot.store(address, std::memory_order_release);
    if (!address) {
        std::fprintf(stderr, "dlsym failed on \"%s\" (handle: 0x%016" PRIXPTR ", error: %d)\n",
                     name, reinterpret_cast<std::uintptr_t>(module), error);
    }
    return address;
}

// The address of a bound function, resolving it when its slot is empty. Null when the module
// does not export it; the caller then cannot forward and gives a neutral answer instead. Inlined
// into every stub: a shader calls several stubs for each ray.
[[gnu::always_inline]] inline void* Resolve(Bound function) {
    void* address = gSlots[static_cast<std::size_t>(function)].load(std::memory_order_acquire);
    return address ? address : ResolveSlot(function);
}

template <typename Function>
Function Lookup(Bound function) {
    return reinterpret_cast<Function>(Resolve(function));
}

// Formats into a buffer of kMessageSize characters, cutting what does not fit.
void Format(char (&buffer)[kMessageSize], const char* format, va_list args) {
    if (!format) {
        buffer[0] = '\0';
        return;
    }
    std::vsnprintf(buffer, kMessageSize, format, args);
}

using MessageFunction = void (*)(const char*, ...);
using NumberedMessageFunction = void (*)(int, const char*, ...);

void Forward(Bound function, const char* format, va_list args) {
    char message[kMessageSize];
    Format(message, format, args);
    if (auto forward = Lookup<MessageFunction>(function)) forward("%s", message);
}

void ForwardNumbered(Bound function, int number, const char* format, va_list args) {
    char message[kMessageSize];
    Format(message, format, args);
    if (auto forward = Lookup<NumberedMessageFunction>(function)) forward(number, "%s", message);
}

// Stands in for the value of a parameter whose evaluation cannot be forwarded: zero, large and
// aligned enough for any parameter type a shader reads through it.
alignas(16) const unsigned char kZeroValue[256] = {};

using Conversion = void (*)(miState*, miVector*, const miVector*);

void Convert(Bound function, miState* state, miVector* result, const miVector* input) {
    if (auto forward = Lookup<Conversion>(function)) {
        forward(state, result, input);
    } else if (result) {
        *result = miVector{0.0f, 0.0f, 0.0f};
    }
}

}  // namespace

KORVO_EXPORT void miSetModuleHandle(void* module) {
    gModule.store(module, std::memory_order_release);
    for (std::atomic<void*>& slot : gSlots) slot.store(nullptr, std::memory_order_release);
}

// ---- Messages -----------------------------------------------------------------------------

#define KORVO_MESSAGE_STUB(name)                     \
    extern "C" void name(const char* message, ...) { \
        va_list args;                                \
        va_start(args, message);                     \
        Forward(Bound::name, message, args);         \
        va_end(args);                                \
    }
#define KORVO_NUMBERED_MESSAGE_STUB(name)                        \
    extern "C" void name(int number, const char* message, ...) { \
        va_list args;                                            \
        va_start(args, message);                                 \
        ForwardNumbered(Bound::name, number, message, args);     \
        va_end(args);                                            \
    }

KORVO_MESSAGE_STUB(mi_info)
KORVO_MESSAGE_STUB(mi_progress)
KORVO_MESSAGE_STUB(mi_warning)
KORVO_MESSAGE_STUB(mi_error)
KORVO_MESSAGE_STUB(mi_fatal)
KORVO_MESSAGE_STUB(mi_debug)
KORVO_MESSAGE_STUB(mi_vdebug)
KORVO_NUMBERED_MESSAGE_STUB(mi_nwarning)
KORVO_NUMBERED_MESSAGE_STUB(mi_nerror)
KORVO_NUMBERED_MESSAGE_STUB(mi_nfatal)
KORVO_MESSAGE_STUB(mi_api_warning)
KORVO_MESSAGE_STUB(mi_api_error)

// ---- Parameters, spaces and tracing ---------------------------------------------------------

extern "C" void* mi_phen_eval(miState* state, void* param) {
    using Function = void* (*)(miState*, void*);
    if (auto forward = Lookup<Function>(Bound::mi_phen_eval)) return forward(state, param);
    return const_cast<unsigned char*>(kZeroValue);
}

#define KORVO_CONVERSION_STUB(name)                                                 \
    extern "C" void name(miState* state, miVector* result, const miVector* input) { \
        Convert(Bound::name, state, result, input);                                 \
    }

KORVO_CONVERSION_STUB(mi_point_from_camera)
KORVO_CONVERSION_STUB(mi_point_to_world)
KORVO_CONVERSION_STUB(mi_point_from_world)
KORVO_CONVERSION_STUB(mi_vector_from_camera)
KORVO_CONVERSION_STUB(mi_vector_to_world)
KORVO_CONVERSION_STUB(mi_vector_from_world)

extern "C" void mi_vector_transform(miVector* result, const miVector* vector,
                                    const miMatrix matrix) {
    using Function = void (*)(miVector*, const miVector*, const miScalar*);
    if (auto forward = Lookup<Function>(Bound::mi_vector_transform)) {
        forward(result, vector, matrix);
    } else if (result) {
        *result = miVector{0.0f, 0.0f, 0.0f};
    }
}

extern "C" miBoolean mi_trace_eye(miColor* result, miState* state, const miVector* origin,
                                  const miVector* direction) {
    using Function = miBoolean (*)(miColor*, miState*, const miVector*, const miVector*);
    if (auto forward = Lookup<Function>(Bound::mi_trace_eye)) {
        return forward(result, state, origin, direction);
    }
    if (result) *result = miColor{0.0f, 0.0f, 0.0f, 0.0f};
    return miFALSE;
}
