// The compositing application's plug-in interface, as far as this module and
// the emulated host use it: result codes, the basic suite, the suites and
// members the module calls, the output-module records and the frame record.
//
// Everything is declared here from the interface's documented behaviour; the
// records whose sizes and offsets the host fixes are pinned by static_asserts.
// Layouts the host leaves open (the basic data, the frame record, the
// verbiage sizes) are this project's choice and are shared by the module and
// the emulated host through this one header.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// ---- Basic types -----------------------------------------------------------

using A_Err = int32_t;
using A_long = int32_t;
using A_u_long = uint32_t;
using A_short = int16_t;
using A_char = char;
using A_u_char = uint8_t;
using A_Boolean = uint8_t;
using A_FpLong = double;
using A_Fixed = int32_t;  // 16.16 fixed point
using A_u_longlong = uint64_t;
using A_UTF16Char = char16_t;
using AEGP_PluginID = int32_t;
using AEGP_GlobalRefcon = void*;
using AEGP_DeathRefcon = void*;
using AEGP_IORefcon = void*;

struct A_Time {
    A_long value;
    A_u_long scale;
};
struct A_LPoint {
    A_long x, y;
};

// ---- Result codes ----------------------------------------------------------

enum : A_Err {
    A_Err_NONE = 0,
    A_Err_GENERIC = 1,    // also the module's own refusals
    A_Err_PARAMETER = 3,  // the emulated host: unknown or misused handle
    A_Err_ALLOC = 4,
    A_Err_MISSING_SUITE = 13,
    PF_Err_BAD_CALLBACK_PARAM = 516,  // a suite the host could not supply
    AEIO_Err_USE_DFLT_CALLBACK = 9992,
};

// Lowest host interface version the module accepts (major version).
constexpr A_long kMinimumHostMajorVersion = 115;

// ---- Opaque host objects ---------------------------------------------------

struct AEGP_MemHandleOpaque;
using AEGP_MemHandle = AEGP_MemHandleOpaque*;
using AEIO_Handle = AEGP_MemHandle;
struct AEIO_OutSpecOpaque;
using AEIO_OutSpecH = AEIO_OutSpecOpaque*;
using AEGP_HWND = void*;  // a window of the platform's dialog layer
struct AEGP_MarkerValOpaque;
using AEGP_MarkerValP = AEGP_MarkerValOpaque*;

enum : A_u_long { AEGP_MemFlag_NONE = 0, AEGP_MemFlag_CLEAR = 1 };
using AEGP_MemFlag = A_u_long;
using AEGP_MemSize = A_u_longlong;

// ---- The basic suite: suites by name and version ---------------------------

struct SPBasicSuite {
    // Hands out the suite `name` at `version` in *suite; non-zero (and
    // normally a null *suite) when the host does not offer it.
    A_Err (*AcquireSuite)(const char* name, A_long version, const void** suite);
    A_Err (*ReleaseSuite)(const char* name, A_long version);
};

// ---- Output-module records -------------------------------------------------

constexpr size_t AEIO_MAX_MODULE_NAME_LEN = 31;
constexpr size_t AEIO_MAX_READ_KINDS = 16;
constexpr size_t AEIO_MAX_AUX_EXTENSIONS = 23;
constexpr size_t AEIO_MAX_MESSAGE_LEN = 255;

// A file kind: either a type and creator code, or an extension (".mov" as the
// four bytes '.', 'm', 'o', 'v').
union AEIO_FileKind {
    struct {
        A_u_long type;
        A_u_long creator;
    } mac;
    struct {
        A_char extension[4];
        A_u_long reserved;
    } ext;
};
static_assert(sizeof(AEIO_FileKind) == 8);

using AEIO_ModuleSignature = A_u_long;

// Module flags. The host names 0x2, 0x4, 0x10 and 0x20; the module also sets
// 0x40 (it accepts any alpha interpretation) and 0x8000000 (it writes its own
// options record), which the host expects from this kind of output module.
enum : A_u_long {
    AEIO_MFlag_OUTPUT = 0x2,
    AEIO_MFlag_FILE = 0x4,
    AEIO_MFlag_VIDEO = 0x10,
    AEIO_MFlag_AUDIO = 0x20,
    AEIO_MFlag_ANY_ALPHA = 0x40,
    AEIO_MFlag_HAS_OPTIONS = 0x8000000,
};

struct AEIO_ModuleInfo {
    AEIO_ModuleSignature sig;                        // 0
    A_char name[AEIO_MAX_MODULE_NAME_LEN + 1];       // 4
    A_u_long flags;                                  // 36
    A_u_long flags2;                                 // 40
    A_long max_width;                                // 44
    A_long max_height;                               // 48
    A_long num_filetypes;                            // 52
    A_long num_extensions;                           // 56
    A_long num_clips;                                // 60
    AEIO_FileKind create_kind;                       // 64
    AEIO_FileKind create_ext;                        // 72
    AEIO_FileKind read_kinds[AEIO_MAX_READ_KINDS];   // 80
    A_short num_aux_extensionsS;                     // 208
    A_short reserved;                                // 210
    AEIO_FileKind aux_ext[AEIO_MAX_AUX_EXTENSIONS];  // 212
};
static_assert(sizeof(AEIO_ModuleInfo) == 396);

// What the host shows for an output: file name, format and sub-type.
struct AEIO_Verbiage {
    A_char name[AEIO_MAX_MESSAGE_LEN + 1];
    A_char type[AEIO_MAX_MESSAGE_LEN + 1];
    A_char sub_type[AEIO_MAX_MESSAGE_LEN + 1];
};

// The output's alpha interpretation; the last byte is the alpha type.
#pragma pack(push, 2)
struct AEIO_AlphaLabel {
    A_short version;
    A_u_long flags;
    A_u_char red, green, blue;
    A_u_char alpha;  // AEIO_AlphaType
};
#pragma pack(pop)
static_assert(sizeof(AEIO_AlphaLabel) == 10);
static_assert(offsetof(AEIO_AlphaLabel, alpha) == 9);

// Render depths an output module can ask for; the module asks for exactly one.
enum : A_u_long {
    AEIO_SupportedDepthFlags_DEPTH_24 = 64,    // 8 bits per channel, no alpha
    AEIO_SupportedDepthFlags_DEPTH_32 = 128,   // 8 bits per channel with alpha
    AEIO_SupportedDepthFlags_DEPTH_64 = 4096,  // 16 bits per channel with alpha
};
using AEIO_SupportedDepthFlags = A_u_long;

// A rendered frame: alpha, red, green, blue per pixel; 8-bit channels, or
// 16-bit channels in 0..32768 when PF_WorldFlag_DEEP is set.
enum : A_long { PF_WorldFlag_DEEP = 1 };
struct PF_EffectWorld {
    A_long world_flags;
    A_long rowbytes;  // signed distance between rows
    A_long width;
    A_long height;
    void* data;  // first byte of the top row
    A_long reserved[4];
};

// What every output callback receives. Only the basic suite is read.
struct AEIO_BasicData {
    SPBasicSuite* pica_basicP;
    AEGP_PluginID aegp_plug_id;
    void* aegp_refconPV;
};

struct AEIO_InterruptFuncs {
    void* refcon;
    A_Err (*abort0)(void* refcon);
    A_Err (*progress0)(void* refcon, A_long count, A_long total);
};

using AEIO_LabelFlags = A_u_long;
using AEIO_IdleFlags = A_u_long;

// ---- The output-module function block ---------------------------------------

using AEIO_BasicDataP = AEIO_BasicData*;
// Slots of the input side and the others the module leaves to the host; the
// module never sets them, so their exact argument lists do not matter here.
using AEIO_UnusedSlot = A_Err (*)(AEIO_BasicDataP basic, void* arg);

struct AEIO_FunctionBlock4 {
    AEIO_UnusedSlot input[14];  // slots 0..13
    A_Err (*AEIO_InitOutputSpec)(AEIO_BasicDataP, AEIO_OutSpecH, A_Boolean* user_interacted);
    A_Err (*AEIO_GetFlatOutputOptions)(AEIO_BasicDataP, AEIO_OutSpecH, AEIO_Handle* flat_optionsPH);
    A_Err (*AEIO_DisposeOutputOptions)(AEIO_BasicDataP, void* optionsPV);
    A_Err (*AEIO_UserOptionsDialog)(AEIO_BasicDataP, AEIO_OutSpecH, const PF_EffectWorld* sample0,
                                    A_Boolean* user_interacted);
    A_Err (*AEIO_GetOutputInfo)(AEIO_BasicDataP, AEIO_OutSpecH, AEIO_Verbiage* verbiage);
    A_Err (*AEIO_OutputInfoChanged)(AEIO_BasicDataP, AEIO_OutSpecH);
    A_Err (*AEIO_SetOutputFile)(AEIO_BasicDataP, AEIO_OutSpecH, const A_UTF16Char* file_pathZ);
    A_Err (*AEIO_StartAdding)(AEIO_BasicDataP, AEIO_OutSpecH, A_long flags);
    A_Err (*AEIO_AddFrame)(AEIO_BasicDataP, AEIO_OutSpecH, A_long frame_index, A_long frames,
                           const PF_EffectWorld* world, const A_LPoint* origin, A_Boolean was_compressed,
                           AEIO_InterruptFuncs* inter);
    A_Err (*AEIO_EndAdding)(AEIO_BasicDataP, AEIO_OutSpecH, A_long flags);
    A_Err (*AEIO_OutputFrame)(AEIO_BasicDataP, AEIO_OutSpecH, const PF_EffectWorld* world);
    A_Err (*AEIO_WriteLabels)(AEIO_BasicDataP, AEIO_OutSpecH, AEIO_LabelFlags* written);
    A_Err (*AEIO_GetSizes)(AEIO_BasicDataP, AEIO_OutSpecH, A_u_longlong* free_space, A_u_longlong* file_size);
    A_Err (*AEIO_Flush)(AEIO_BasicDataP, AEIO_OutSpecH);
    A_Err (*AEIO_AddSoundChunk)(AEIO_BasicDataP, AEIO_OutSpecH, const A_Time* start, A_u_long num_samples,
                                const void* dataPV);
    A_Err (*AEIO_Idle)(AEIO_BasicDataP, AEIO_ModuleSignature sig, AEIO_IdleFlags* idle_flags0);
    A_Err (*AEIO_GetDepths)(AEIO_BasicDataP, AEIO_OutSpecH, AEIO_SupportedDepthFlags* which);
    A_Err (*AEIO_GetOutputSuffix)(AEIO_BasicDataP, AEIO_OutSpecH, A_char* suffix);
    AEIO_UnusedSlot slots32to40[9];  // slots 32..40
    A_Err (*AEIO_SetUserData)(AEIO_BasicDataP, AEIO_OutSpecH, A_u_long typeLu, A_u_long indexLu,
                              const AEIO_Handle dataH);
    AEIO_UnusedSlot slot42;
    A_Err (*AEIO_AddMarker)(AEIO_BasicDataP, AEIO_OutSpecH, A_long frame_index, AEGP_MarkerValP marker,
                            AEIO_InterruptFuncs* inter0);
    AEIO_UnusedSlot slots44to48[5];  // slots 44..48
};
constexpr size_t kFunctionBlockSlots = 49;
static_assert(sizeof(AEIO_FunctionBlock4) == kFunctionBlockSlots * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_InitOutputSpec) == 14 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_GetFlatOutputOptions) == 15 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_DisposeOutputOptions) == 16 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_UserOptionsDialog) == 17 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_GetOutputInfo) == 18 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_OutputInfoChanged) == 19 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_SetOutputFile) == 20 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_StartAdding) == 21 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_AddFrame) == 22 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_EndAdding) == 23 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_OutputFrame) == 24 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_WriteLabels) == 25 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_GetSizes) == 26 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_Flush) == 27 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_AddSoundChunk) == 28 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_Idle) == 29 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_GetDepths) == 30 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_GetOutputSuffix) == 31 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_SetUserData) == 41 * sizeof(void*));
static_assert(offsetof(AEIO_FunctionBlock4, AEIO_AddMarker) == 43 * sizeof(void*));

// ---- Suites ----------------------------------------------------------------

using AEGP_DeathHook = A_Err (*)(AEGP_GlobalRefcon global_refcon, AEGP_DeathRefcon death_refcon);

#define kAEGPRegisterSuite "AEGP Register Suite"
constexpr A_long kAEGPRegisterSuiteVersion6 = 6;
struct AEGP_RegisterSuite6 {
    A_Err (*AEGP_RegisterDeathHook)(AEGP_PluginID id, AEGP_DeathHook hook, AEGP_DeathRefcon refcon);
    A_Err (*AEGP_RegisterIO)(AEGP_PluginID id, AEGP_IORefcon refcon, const AEIO_ModuleInfo* info,
                             const AEIO_FunctionBlock4* functions);
};

#define kAEGPUtilitySuite "AEGP Utility Suite"
constexpr A_long kAEGPUtilitySuiteVersion7 = 7;
constexpr A_long kAEGPUtilitySuiteVersion3 = 3;
struct AEGP_UtilitySuite7 {
    A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_name,
                                   AEGP_PluginID* plugin_id);
};
struct AEGP_UtilitySuite3 {
    A_Err (*AEGP_GetMainHWND)(void* main_hwnd);  // out: an AEGP_HWND
};

#define kPFANSISuite "PF ANSI Suite"
constexpr A_long kPFANSISuiteVersion1 = 1;
struct PF_ANSICallbacksSuite1 {
    A_char* (*strcpy)(A_char* dst, const A_char* src);
};

#define kAEGPIOOutSuite "AEGP IO Out Suite"
constexpr A_long kAEGPIOOutSuiteVersion7 = 7;
struct AEGP_IOOutSuite7 {
    A_Err (*AEGP_GetOutSpecOptionsHandle)(AEIO_OutSpecH out, void** optionsPPV);
    A_Err (*AEGP_SetOutSpecOptionsHandle)(AEIO_OutSpecH out, void* optionsPV, void** old_optionsPPV);
    A_Err (*AEGP_GetOutSpecFilePath)(AEIO_OutSpecH out, AEGP_MemHandle* pathH, A_Boolean* reserved);
    A_Err (*AEGP_GetOutSpecFPS)(AEIO_OutSpecH out, A_Fixed* fps);
    A_Err (*AEGP_GetOutSpecDimensions)(AEIO_OutSpecH out, A_long* width, A_long* height);
    A_Err (*AEGP_GetOutSpecSoundRate)(AEIO_OutSpecH out, A_FpLong* rate);
    A_Err (*AEGP_GetOutSpecSoundChannels)(AEIO_OutSpecH out, A_short* channels);
    A_Err (*AEGP_GetOutSpecSoundSampleSize)(AEIO_OutSpecH out, A_short* bytes_per_sample);
    A_Err (*AEGP_GetOutSpecAlphaLabel)(AEIO_OutSpecH out, AEIO_AlphaLabel* label);
    A_Err (*AEGP_GetOutSpecIsMissing)(AEIO_OutSpecH out, A_Boolean* missing);
};

#define kAEGPMemorySuite "AEGP Memory Suite"
constexpr A_long kAEGPMemorySuiteVersion1 = 1;
struct AEGP_MemorySuite1 {
    A_Err (*AEGP_NewMemHandle)(AEGP_PluginID owner, const A_char* what, AEGP_MemSize size, AEGP_MemFlag flags,
                               AEGP_MemHandle* handle);
    A_Err (*AEGP_FreeMemHandle)(AEGP_MemHandle handle);
    A_Err (*AEGP_LockMemHandle)(AEGP_MemHandle handle, void** ptr);
    A_Err (*AEGP_UnlockMemHandle)(AEGP_MemHandle handle);
};

// ---- The log suite ---------------------------------------------------------

// Not one of the compositing application's suites: a host that serves it
// hears the module's log lines. The entry, finding it, makes its member the
// core library's log sink; a host without it (the compositing application)
// gets none, and the lines are dropped. The member is called from any
// thread, once for each finished line.
#define kZemoLogSuite "Zemo 3 Log Suite"
constexpr A_long kZemoLogSuiteVersion1 = 1;
struct Zemo_LogSuite1 {
    void (*Zemo_LogLine)(const A_char* line);
};

// Also this project's own: a host that serves it hears, beside the log's
// text, why the movie file took no more: the system's reason ("No space
// left on device"), once for each frame refused after a write failed.
#define kZemoResultSuite "Zemo 3 Result Suite"
constexpr A_long kZemoResultSuiteVersion1 = 1;
struct Zemo_ResultSuite1 {
    void (*Zemo_WriteFailed)(const A_char* reason);
};

// ---- The entry -------------------------------------------------------------

// The module's one export, called once after loading.
using AEGP_PluginInitFuncPrototype = A_Err (*)(SPBasicSuite* pica_basicP, A_long major_versionL, A_long minor_versionL,
                                               AEGP_PluginID aegp_plugin_id, AEGP_GlobalRefcon* global_refconP);
#define kEntryPointName "EntryPointFunc"

}  // extern "C"
