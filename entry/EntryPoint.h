// The library's one export, looked up by the host under exactly this name.
#pragma once

#include "host/HostTypes.h"

#if defined(_WIN32)
#define KESTRELUMEN_EXPORT __declspec(dllexport)
#else
#define KESTRELUMEN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KESTRELUMEN_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data,
                                                    PF_OutData* out_data, PF_ParamDef* params[],
                                                    PF_LayerDef* output, void* extra);
