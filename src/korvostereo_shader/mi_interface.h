// The renderer's shader interface, as far as the stereo lens shader and the renderer that drives
// it share it: the plain data types, the render state a lens shader reads, the functions a shader
// calls and the signatures of a shader library's entry points. C linkage; nothing to link.
//
// Spaces: "camera" space looks along −Z with +Y up; "world" is the scene's space (+Z up); the
// renderer works in an "internal" space of its own, and every ray handed to mi_trace_eye is in
// internal space.
#ifndef KORVO_MI_INTERFACE_H
#define KORVO_MI_INTERFACE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef int miBoolean; /* 32 bits, non-zero is true */
#define miFALSE 0
#define miTRUE 1

typedef float miScalar;
typedef unsigned int miUint;
typedef unsigned int miTag; /* names a shader or interface a parameter is connected to; 0: none */

typedef struct miVector {
    miScalar x, y, z;
} miVector;

typedef struct miColor {
    miScalar r, g, b, a;
} miColor;

/* 4 × 4, row vectors: row i is m[4i] .. m[4i + 3]; a point p maps to p · m. */
typedef miScalar miMatrix[16];

/* The shader instance being called. Beside each parameter block lies a connection table: the tag
 * of the parameter at byte offset k of the block sits at byte offset ghost_offs + k; ghost_offs is
 * 0 when no parameter of the instance is connected. */
typedef struct miFunction {
    miUint ghost_offs;
} miFunction;

/* What the renderer tells a shader about the sample it is working on. */
typedef struct miState {
    miScalar raster_x; /* pixels from the left edge */
    miScalar raster_y; /* pixels from the bottom edge */
    miFunction* shader;
    void* renderer_data; /* the renderer's own, for the functions it exports */
} miState;

/* ---- Messages: printf-style formats ------------------------------------------------------- */
void mi_info(const char* message, ...);
void mi_progress(const char* message, ...);
void mi_warning(const char* message, ...);
void mi_error(const char* message, ...);
void mi_fatal(const char* message, ...);
void mi_debug(const char* message, ...);
void mi_vdebug(const char* message, ...);
void mi_nwarning(int number, const char* message, ...);
void mi_nerror(int number, const char* message, ...);
void mi_nfatal(int number, const char* message, ...);
void mi_api_warning(const char* message, ...);
void mi_api_error(const char* message, ...);

/* ---- Parameters ---------------------------------------------------------------------------- */
/* The evaluated value of a connected parameter (param points into the instance's block). */
void* mi_phen_eval(miState* state, void* param);

/* A parameter's value: through mi_phen_eval when it is connected, straight from the block
 * otherwise. */
static inline void* mi_eval(miState* state, void* param) {
    const miFunction* shader = state ? state->shader : 0;
    if (shader && shader->ghost_offs &&
        *(const miTag*)((const char*)param + shader->ghost_offs) != 0) {
        return mi_phen_eval(state, param);
    }
    return param;
}

/* ---- Space conversions: result may be the same vector as the input ------------------------- */
void mi_point_from_camera(miState* state, miVector* result, const miVector* point);
void mi_point_to_world(miState* state, miVector* result, const miVector* point);
void mi_point_from_world(miState* state, miVector* result, const miVector* point);
void mi_vector_from_camera(miState* state, miVector* result, const miVector* vector);
void mi_vector_to_world(miState* state, miVector* result, const miVector* vector);
void mi_vector_from_world(miState* state, miVector* result, const miVector* vector);
/* result = vector · matrix without the translation row. */
void mi_vector_transform(miVector* result, const miVector* vector, const miMatrix matrix);

/* ---- Tracing ------------------------------------------------------------------------------- */
/* Traces an eye ray (internal space; direction of any non-zero length) into result; answers
 * whether it hit anything. */
miBoolean mi_trace_eye(miColor* result, miState* state, const miVector* origin,
                       const miVector* direction);

/* ---- A shader library's entry points, found by name: NAME, NAME_init, NAME_exit,
 * NAME_version, and the library-wide miSetModuleHandle -------------------------------------- */
typedef miBoolean (*miShaderFunction)(miColor* result, miState* state, void* parameters);
/* Called once with no parameters for the shader, then once per instance when the first call set
 * *instanceInitRequest. */
typedef void (*miShaderInitFunction)(miState* state, void* parameters,
                                     miBoolean* instanceInitRequest);
typedef void (*miShaderExitFunction)(miState* state, void* parameters);
typedef int (*miShaderVersionFunction)(void);
/* Names the module whose exports the library's mi_ functions resolve to. */
typedef void (*miSetModuleHandleFunction)(void* module);

#ifdef __cplusplus
}
#endif

#endif /* KORVO_MI_INTERFACE_H */
